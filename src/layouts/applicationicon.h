#pragma once

#include <QIcon>

namespace layouts {

// The program's own icon for its windows: one icon for the whole run, made on
// the first call, so every window shares it and the pixmaps Qt caches for it.
// It holds the sizes a desktop asks a window for (16, 32, 48 and 64 px); the
// desktop's menus use the installed theme icons, Windows its .exe's icon.
QIcon applicationIcon();

// The sizes applicationIcon() holds, smallest first.
QList<int> applicationIconSizes();

} // namespace layouts
