#pragma once

#include <QFile>
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

// Opens path for reading if it is still a regular file when it is opened: a
// pipe or device put there after checkFile looked (a link swapped in between)
// is neither waited on nor read. Otherwise false, with why it failed.
bool openReadable(QFile &file, const QString &path, QString &why);

} // namespace files
