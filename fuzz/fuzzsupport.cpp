#include "fuzzsupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void startGuiApplication(int *argc, char ***argv, bool widgets)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Lives for the whole run; libFuzzer never returns to tear it down.
    if (widgets)
        new QApplication(*argc, *argv);
    else
        new QGuiApplication(*argc, *argv);
}

QString scratchFolder()
{
    static QTemporaryDir *folder = new QTemporaryDir;
    return folder->path();
}

QString writeScratchFile(const QString &name, const uint8_t *data, size_t size)
{
    const QString path = QDir(scratchFolder()).filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("cannot write the scratch file");
    file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    return path;
}

void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace fuzz
