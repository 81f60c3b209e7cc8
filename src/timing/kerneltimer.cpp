#include "timing/kerneltimer.h"

namespace timing {

KernelTimer::KernelTimer(QObject *parent)
    : QObject(parent)
{}

KernelTimer::~KernelTimer() = default;

} // namespace timing
