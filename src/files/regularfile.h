#pragma once

#include <QString>
#include <QtGlobal>

namespace files {

// What a reader finds at a path before it opens anything. Opening a pipe would
// wait for a writer and opening a device can act on it, and the kernel's own
// files (/proc, /sys) show as empty while some of them wait too: only a
// Readable file is ever to be opened.
struct FileCheck
{
    enum class Kind {
        Missing,   // nothing there, or a link that leads nowhere
        Irregular, // a folder, pipe, device or socket
        Empty,     // a regular file of no bytes
        Readable,  // a regular file, or a link to one, with bytes in it
    };
    Kind kind = Kind::Missing;
    qint64 size = 0;
};

FileCheck checkFile(const QString &path);

} // namespace files
