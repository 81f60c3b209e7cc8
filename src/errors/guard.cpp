#include "errors/guard.h"

#include "errors/report.h"

#include <new>

namespace errors {

Guard::Guard(MessageBox &box, QString location)
    : m_box(box)
    , m_location(std::move(location))
{}

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
}

} // namespace errors
