#pragma once

#include <QtGlobal>

#include <cstddef>
#include <vector>

namespace strobe {

// The strobe's colour sequence as the ticks walk through it: each tick shows
// the next colour, and the tick after the last one shows nothing new and starts
// over, so the last colour stays for two ticks. Sized once; a step allocates
// nothing.
template<typename Colour> class ColourSteps final
{
public:
    ColourSteps(std::vector<Colour> colours, qsizetype next)
        : m_colours(std::move(colours))
        , m_next(next)
    {}

    // The colour this tick shows, or false for the tick that starts over.
    bool next(Colour &colour) noexcept
    {
        if (m_next < 0 || m_next > static_cast<qsizetype>(m_colours.size()) - 1) {
            m_next = 0;
            return false;
        }
        colour = m_colours[static_cast<std::size_t>(m_next)];
        ++m_next;
        return true;
    }

private:
    std::vector<Colour> m_colours;
    qsizetype m_next;
};

} // namespace strobe
