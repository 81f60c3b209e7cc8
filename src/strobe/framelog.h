#pragma once

#include <QLoggingCategory>

namespace strobe {

// What the strobe's steps follow, the display's refreshes or the timer, and
// steps shown after their refresh. Only warnings are on by default.
Q_DECLARE_LOGGING_CATEGORY(lcFrames)

} // namespace strobe
