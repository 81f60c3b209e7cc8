// The settings file's text comes from anywhere: other programs, hand edits,
// broken disks. Qt's own QSettings is the judge: Lumivex reads both keys as
// QSettings does; a saved value is read by QSettings where it was saved,
// every other key as before, and saving it again changes nothing. An edit is
// refused only where QSettings reads no value for the key at all.
#include "fuzzsupport.h"
#include "qsettingsoracle.h"
#include "settings/initext.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const QString kSection = QStringLiteral("Lumivex Software");

void checkReading(QSettingsOracle &qt, const QByteArray &text, const QString &key)
{
    const auto lumivex = settings::ini::read(text, kSection, key);
    const auto expected = qt.read(text, kSection, key);
    if (!QSettingsOracle::agree(lumivex, expected)) {
        std::fprintf(stderr, "%s: Lumivex reads %s, QSettings %s\n", qPrintable(key),
                     qPrintable(QSettingsOracle::describe(lumivex)),
                     qPrintable(QSettingsOracle::describe(expected)));
        fuzz::fail("a key is read differently from QSettings");
    }
}

void checkSave(QSettingsOracle &qt, const QByteArray &text, const QString &key,
               const QString &value)
{
    const auto edited = settings::ini::withValue(text, kSection, key, value);
    if (!edited) {
        if (qt.read(text, kSection, key))
            fuzz::fail("an edit was refused where QSettings reads the key");
        return;
    }
    const QString problems = qt.editProblems(text, *edited, kSection, key, value);
    if (!problems.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problems));
        fuzz::fail("a save is not read by QSettings as saved");
    }
    if (settings::ini::withValue(*edited, kSection, key, value) != *edited)
        fuzz::fail("saving the stored value again changed the text");
}

void checkText(QSettingsOracle &qt, const QByteArray &text)
{
    checkReading(qt, text, QStringLiteral("Combo1"));
    checkReading(qt, text, QStringLiteral("Combo2"));
    checkSave(qt, text, QStringLiteral("Combo1"), QStringLiteral("-1"));
    checkSave(qt, text, QStringLiteral("Combo2"), QStringLiteral(" 2;"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Lives for the whole run; libFuzzer never returns to tear it down.
    new QCoreApplication(*argc, *argv);
    // QSettings reports "@Variant(...)" values it cannot decode.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QSettingsOracle qt(fuzz::scratchFolder());
    checkText(qt, text);
    // Editors put a byte-order mark in front of any text, and QSettings reads
    // the first line after one differently: every text is tried with one too.
    const QByteArray mark("\xEF\xBB\xBF");
    if (!text.startsWith(mark))
        checkText(qt, mark + text);
    return 0;
}
