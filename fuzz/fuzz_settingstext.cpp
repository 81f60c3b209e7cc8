// The settings file's text comes from anywhere: other programs, hand edits,
// broken disks. Setting a value must read back as that value, keep every
// other byte, and change nothing on a second save.
#include "fuzzsupport.h"
#include "initext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString section = QStringLiteral("Lumivex Software");
    const QString key = QStringLiteral("Combo1");
    const QString value = QStringLiteral("-1");
    const QByteArray edited = settings::ini::withValue(text, section, key, value);
    if (settings::ini::value(edited, section, key) != value)
        fuzz::fail("a saved value does not read back");
    if (settings::ini::withValue(edited, section, key, value) != edited)
        fuzz::fail("saving the stored value again changed the text");
    // Without a value before, the edit only inserts: what follows the first
    // difference is the rest of the original text.
    if (settings::ini::value(text, section, key))
        return 0;
    qsizetype same = 0;
    while (same < text.size() && same < edited.size() && text[same] == edited[same])
        ++same;
    if (!edited.endsWith(QByteArrayView(text).sliced(same)))
        fuzz::fail("adding the value changed other bytes");
    return 0;
}
