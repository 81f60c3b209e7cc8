#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Where a settings path leads on Linux: each link followed in turn, as the
// program may follow it.
namespace settings::file::posix {

// Where a path leads: each link in turn, its folder resolved by the system.
struct Resolved
{
    QByteArray target;    // absolute, in a folder without links
    QByteArray chain;     // each link followed, and what it held
    int error = 0;        // errno of a path that cannot be resolved
    QString refusal;      // a link that is not followed
    mode_t kind = 0;      // what the target was (S_IFMT), 0 when nothing
    bool changed = false; // a link stopped being one as it was read
};

// The file that path leads to, through any links. As root, a link owned by
// another user, or one in a folder that another user can write, is not
// followed (refusal).
Resolved resolve(const QString &path);

} // namespace settings::file::posix
