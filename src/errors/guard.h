#pragma once

#include "errors/failure.h"

#include <QString>
#include <QtGlobal>

#include <exception>
#include <utility>

namespace errors {

class MessageBox;

// The error guard of one run of a handler. Each step carries its line number;
// a step that fails is reported with that number and the handler goes on with
// the next step. A failed test counts as held, so its branch runs next.
class Guard final
{
public:
    Guard(MessageBox &box, QString location);
    Q_DISABLE_COPY_MOVE(Guard)

    template<typename Body> void step(quint16 line, Body &&body)
    {
        m_line = line;
        try {
            std::forward<Body>(body)();
        } catch (...) {
            reportCurrent();
        }
    }

    template<typename Condition> bool test(quint16 line, Condition &&condition)
    {
        m_line = line;
        try {
            return static_cast<bool>(std::forward<Condition>(condition)());
        } catch (...) {
            reportCurrent();
            return true;
        }
    }

private:
    // Reports the exception in flight; must be called from a catch block.
    void reportCurrent();

    MessageBox &m_box;
    QString m_location;
    quint16 m_line = 0;
};

} // namespace errors
