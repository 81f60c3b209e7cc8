#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Starts a GUI application on the offscreen platform, once per fuzzer.
void startGuiApplication(int *argc, char ***argv, bool widgets);

// Replaces the file at path (in a scratch folder made once) with the data.
QString writeScratchFile(const QString &name, const uint8_t *data, size_t size);

// The scratch folder itself.
QString scratchFolder();

// Ends the run with a message that libFuzzer reports as a crash.
[[noreturn]] void fail(const char *what);

} // namespace fuzz
