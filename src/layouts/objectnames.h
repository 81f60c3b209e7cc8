#pragma once

#include <QLatin1String>

// The object names of the windows and their controls. Skin files and style
// sheets select them ("#Combo1 { ... }"), and tools that walk the window tree
// find them, so they keep the names skins were written against, whatever the
// code calls the widgets.
namespace layouts::objectName {

// The main window and its controls.
constexpr QLatin1String kMainWindow("Form1");
constexpr QLatin1String kHelpButton("PushButton1");
constexpr QLatin1String kStyleFrame("Frame3");
constexpr QLatin1String kStyleList("Combo1");
constexpr QLatin1String kSpeedFrame("Frame4");
constexpr QLatin1String kSpeedList("Combo2");
constexpr QLatin1String kStartButton("PushButton2");

// The strobe window, its hint and the timer that steps its colours.
constexpr QLatin1String kStrobeWindow("Form2");
constexpr QLatin1String kHint("Label1");
constexpr QLatin1String kStepTimer("Timer1");

} // namespace layouts::objectName
