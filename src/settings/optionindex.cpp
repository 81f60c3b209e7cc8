#include "settings/optionindex.h"

#include "errors/wholenumber.h"

namespace settings {

qint16 toOptionIndex(const QString &text)
{
    return static_cast<qint16>(errors::readWholeNumber(text, -32768, 32767));
}

QString fromOptionIndex(qint16 index)
{
    return QString::number(index);
}

} // namespace settings
