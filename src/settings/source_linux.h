#pragma once

#include "handles/descriptor.h"
#include "settings/settingsfile.h"

#include <QByteArray>

#include <sys/stat.h>

namespace settings::file {

// What a Source holds of the file it read: the Replacement made from it
// writes into that folder and takes the file's access rules.
struct Source::Opened
{
    handles::Descriptor folder; // the folder of the target
    handles::Descriptor file;   // the target as read, when it is there
    QByteArray name;            // the target's name in folder
    QByteArray chain;           // the links followed to it
    struct stat info = {};      // the target as read
    bool missing = false;       // nothing at the target yet
    int unresolved = 0;         // why the path leads to no folder
};

} // namespace settings::file
