#include "errors/guard.h"

#include "errors/report.h"

#include <new>

namespace errors {

Guard::Guard(MessageBox &box, QString location, std::function<bool()> ending)
    : m_box(box)
    , m_location(std::move(location))
    , m_ending(std::move(ending))
{}

void Guard::begin(quint16 line)
{
    leaveIfEnding();
    m_line = line;
}

void Guard::leaveIfEnding() const
{
    if (m_ending && m_ending())
        throw Abandon{};
}

void Guard::reportCurrent()
{
    QString description;
    try {
        throw;
    } catch (const Failure &failure) {
        description = failure.description();
    } catch (const std::bad_alloc &) {
        description = QStringLiteral("Out of memory");
    } catch (const std::exception &e) {
        description = QString::fromUtf8(e.what());
    } catch (...) {
        description = QStringLiteral("Unexpected error");
    }
    reportApplicationError(m_box, description, m_location, m_line);
    leaveIfEnding();
}

} // namespace errors
