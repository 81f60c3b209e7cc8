#pragma once

#include <QString>

namespace settings::file::posix {

// Gives the file to the owner and group of the file from, with its extended
// attributes, access control lists and mode. Throws errors::Failure naming
// target and what of it cannot be kept.
void copyAccess(int from, int to, const QString &target);

} // namespace settings::file::posix
