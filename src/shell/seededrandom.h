#pragma once

#include <QtGlobal>

namespace shell {

// The classic 24-bit linear congruential generator of BASIC run-times, with its
// way of folding a seed into the state.
class SeededRandom final
{
public:
    void randomize(double seed);
    float next();

private:
    quint32 m_state = 0x50000;
};

} // namespace shell
