// The stored-index conversion takes any text from the settings file: it either
// throws errors::Failure or returns the number rounded half to even, and the
// stored form of the result reads back as itself.
#include "errors/failure.h"
#include "fuzzsupport.h"
#include "settings/optionindex.h"

#include <QLocale>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text
        = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    qint16 index = 0;
    try {
        index = settings::toOptionIndex(text);
    } catch (const errors::Failure &failure) {
        if (failure.description().isEmpty())
            fuzz::fail("a failure without a description");
        return 0;
    }
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !(std::fabs(number - index) <= 0.5))
        fuzz::fail("the index is not the number rounded");
    if (std::fabs(number - index) == 0.5 && index % 2 != 0)
        fuzz::fail("a half did not go to the even neighbour");
    const QString stored = settings::fromOptionIndex(index);
    if (settings::toOptionIndex(stored) != index)
        fuzz::fail("the stored form does not read back");
    if (stored != QString::number(index))
        fuzz::fail("the stored form is not plain decimal");
    return 0;
}
