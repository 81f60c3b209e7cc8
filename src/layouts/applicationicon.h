#pragma once

#include <QIcon>

namespace layouts {

// The program's own icon, with all the images of its icon file.
QIcon applicationIcon();

// Path of that icon file inside the program's resources.
QString applicationIconPath();

} // namespace layouts
