#pragma once

#include <QtGlobal>

namespace strobe {

// Where the strobe window reads the user's choices when it loads: the selected
// indexes of the main window's style and speed lists (-1 when none).
class OptionSource
{
public:
    virtual ~OptionSource() = default;
    virtual qint16 styleIndex() const = 0;
    virtual qint16 speedIndex() const = 0;
};

} // namespace strobe
