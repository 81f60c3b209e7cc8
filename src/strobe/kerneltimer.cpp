#include "kerneltimer.h"

namespace strobe {

KernelTimer::KernelTimer(QObject *parent)
    : QObject(parent)
{}

KernelTimer::~KernelTimer() = default;

bool KernelTimer::setStepper(std::unique_ptr<Stepper>)
{
    return false;
}

} // namespace strobe
