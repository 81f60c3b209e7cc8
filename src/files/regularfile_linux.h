#pragma once

#include "handles/descriptor.h"

#include <sys/stat.h>

namespace files {

// A file opened by openRegular, or why none is.
struct RegularFile
{
    handles::Descriptor fd; // open only when a regular file was opened
    struct stat info = {};  // the opened file, as fstat() tells it
    int error = 0;          // errno of an open that failed; 0 when the open
                            // found no regular file and closed it again
};

// Opens name, in folder or (with AT_FDCWD) a path, for reading, and keeps it
// open only when it is a regular file. Never waits: a pipe with no writer
// does not hold the open, and a terminal does not become the program's own.
// What was opened is checked on the descriptor, not on the path, so a pipe or
// device put in place of a checked file (a link swapped in between) is never
// read. flags adds to the open's own (O_NOFOLLOW where no link may be
// followed); the descriptor stays non-blocking, which a regular file ignores.
RegularFile openRegular(int folder, const char *name, int flags = 0);

} // namespace files
