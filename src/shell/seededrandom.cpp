#include "shell/seededrandom.h"

#include <cstring>

namespace shell {

void SeededRandom::randomize(double seed)
{
    quint64 bits = 0;
    std::memcpy(&bits, &seed, sizeof bits);
    const auto high = static_cast<quint32>(bits >> 32);
    const quint32 folded = (high ^ (high >> 16)) & 0xFFFFu;
    m_state = (m_state & 0xFF0000FFu) | (folded << 8);
}

float SeededRandom::next()
{
    m_state = (m_state * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFFu;
    return static_cast<float>(m_state) / 16777216.0f;
}

} // namespace shell
