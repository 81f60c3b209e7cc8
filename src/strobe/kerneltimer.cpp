#include "strobe/kerneltimer.h"

namespace strobe {

KernelTimer::KernelTimer(QObject *parent)
    : QObject(parent)
{}

KernelTimer::~KernelTimer() = default;

bool KernelTimer::setStepper(std::unique_ptr<Stepper>)
{
    return false;
}

quint64 KernelTimer::steps() const
{
    return 0;
}

void KernelTimer::reportAt(quint64) {}

} // namespace strobe
