#pragma once

#include "errors/failure.h"

#include <QString>
#include <QtGlobal>

#include <exception>
#include <functional>
#include <utility>

namespace errors {

class MessageBox;

// Leaves a guarded handler at once, unreported: the program is ending.
struct Abandon
{
};

// The error guard of one run of a handler. Each step carries its line number;
// a step that fails is reported with that number and the handler goes on with
// the next step. A failed test counts as held, so its branch runs next.
// Once ending() holds, no further step runs: the guard throws Abandon, before
// a step and after a report, and lets an Abandon from a step through.
class Guard final
{
public:
    Guard(MessageBox &box, QString location, std::function<bool()> ending = {});
    Q_DISABLE_COPY_MOVE(Guard)

    template<typename Body> void step(quint16 line, Body &&body)
    {
        begin(line);
        try {
            std::forward<Body>(body)();
        } catch (const Abandon &) {
            throw;
        } catch (...) {
            reportCurrent();
        }
    }

    template<typename Condition> bool test(quint16 line, Condition &&condition)
    {
        begin(line);
        try {
            return static_cast<bool>(std::forward<Condition>(condition)());
        } catch (const Abandon &) {
            throw;
        } catch (...) {
            reportCurrent();
            return true;
        }
    }

private:
    void begin(quint16 line);
    // Reports the exception in flight; must be called from a catch block.
    void reportCurrent();
    void leaveIfEnding() const;

    MessageBox &m_box;
    QString m_location;
    std::function<bool()> m_ending;
    quint16 m_line = 0;
};

} // namespace errors
