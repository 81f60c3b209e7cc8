#include "errors/wholenumber.h"

#include "errors/failure.h"

#include <cmath>

namespace errors {

namespace {

// Exact for every double, whatever rounding mode the thread is in.
double roundHalfToEven(double value)
{
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction < 0.5)
        return floor;
    if (fraction > 0.5)
        return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

} // namespace

qint64 readWholeNumber(const QString &text, qint64 min, qint64 max)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(number))
        throw Failure(Description::typeMismatch());
    const double rounded = roundHalfToEven(number);
    if (!(rounded >= static_cast<double>(min) && rounded <= static_cast<double>(max)))
        throw Failure(Description::overflow());
    return static_cast<qint64>(rounded);
}

} // namespace errors
