#pragma once

#include <QString>

class QComboBox;
class QWidget;

namespace layouts {

// How the windows present themselves to screen readers. Each call hands an
// interface to Qt's accessibility cache for that widget, so make it right
// after the widget is built, before anything asks for one.

// A top-level window announced as a window ("frame" on AT-SPI) by its
// accessible name, or its title when it has none; Qt would otherwise present a
// plain QWidget window as an anonymous pane.
void announceAsWindow(QWidget &window);

// A drop-down list announced by name with its current entry as its value. On
// Linux Qt names a list by its current entry and leaves its purpose to a
// labelled-by relation that not every screen reader follows.
void announceList(QComboBox &list, const QString &name, const QString &description);

// The photosensitivity warning on the button that starts the strobe, as its
// tooltip and what screen readers read on focus: the rates the strobe shows
// and how to stop it.
QString strobeWarning();

} // namespace layouts
