#include "timing/timersteps.h"

namespace timing {

TimerSteps::TimerSteps(QObject *parent)
    : QObject(parent)
{}

TimerSteps::~TimerSteps() = default;

} // namespace timing
