#include "strobe/kerneltimer.h"

namespace strobe {

KernelTimer *KernelTimer::create(QObject *)
{
    return nullptr;
}

} // namespace strobe
