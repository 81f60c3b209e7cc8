#include "kerneltimer.h"

namespace strobe {

KernelTimer::KernelTimer(QObject *parent)
    : QObject(parent)
{}

KernelTimer::~KernelTimer() = default;

} // namespace strobe
