#pragma once

#include "handles/descriptor.h"

#include <QByteArray>
#include <QString>

// Small pieces of the Linux file layer that the settings file and its lock
// share.
namespace settings::file::posix {

QString reason(int error);

bool writeAll(int fd, const QByteArray &bytes);

// The folder part of an absolute path ("/" for a name in it), and the name.
QByteArray folderPart(const QByteArray &path);
QByteArray namePart(const QByteArray &path);

// An unnamed file in the folder folder, where the system has them (O_TMPFILE).
int createUnnamed(int folder);

// A name beside the file name that no other file has.
QByteArray freshNameBeside(const QByteArray &name);

// A new file of that fresh name in folder, named in fresh.
handles::Descriptor createNamed(int folder, const QByteArray &name, QByteArray *fresh);

} // namespace settings::file::posix
