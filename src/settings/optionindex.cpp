#include "settings/optionindex.h"

#include "errors/failure.h"

#include <QLocale>

#include <cmath>

namespace settings {

namespace {

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

qint16 toOptionIndex(const QString &text)
{
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || std::isnan(number))
        throw errors::Failure(errors::Description::typeMismatch());
    const double rounded = roundHalfToEven(number);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        throw errors::Failure(errors::Description::overflow());
    return static_cast<qint16>(rounded);
}

QString fromOptionIndex(qint16 index)
{
    return QString::number(index);
}

} // namespace settings
