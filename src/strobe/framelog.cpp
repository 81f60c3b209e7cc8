#include "strobe/framelog.h"

namespace strobe {

Q_LOGGING_CATEGORY(lcFrames, "lumivex.strobe.frames", QtWarningMsg)

} // namespace strobe
