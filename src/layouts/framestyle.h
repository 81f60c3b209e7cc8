#pragma once

class QGroupBox;

namespace layouts {

// Has frame show its own background inside its outline. Some styles (Fusion,
// Qt's default on Linux) wash the inside of a group box with a faint
// translucent grey, so a white frame on a white window shows as #FCFCFC.
// The frame keeps the style's outline, follows the style as it changes and
// yields to a style sheet that draws frames itself.
void showOwnBackgroundInside(QGroupBox &frame);

} // namespace layouts
