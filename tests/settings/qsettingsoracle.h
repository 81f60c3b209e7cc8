#pragma once

#include "settings/initext.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// Qt's own QSettings (IniFormat) as the judge of how a settings text reads.
// Each reading gets a file of its own.
class QSettingsOracle final
{
public:
    explicit QSettingsOracle(QString folder);

    // section/key as a new QSettings object returns it from value(), in the
    // form ini::read() gives.
    std::optional<settings::ini::Reading> read(const QByteArray &text, const QString &section,
                                               const QString &key);

    // What is wrong, if anything, with edited as the text with section/key
    // set to value: QSettings must read that value there, whatever it reads
    // first, and every other key as in text. Empty when nothing is.
    QString editProblems(const QByteArray &text, const QByteArray &edited, const QString &section,
                         const QString &key, const QString &value);

    // Whether ini::read() and QSettings agree; values QSettings decodes from
    // its own binary form ("@Variant(...)") are typed values to Lumivex.
    static bool agree(const std::optional<settings::ini::Reading> &lumivex,
                      const std::optional<settings::ini::Reading> &qt);

    static QString describe(const std::optional<settings::ini::Reading> &reading);

private:
    QString file(const QByteArray &text);
    // Every key and its value in QDataStream form, after reading readFirst.
    QMap<QString, QByteArray> everything(const QByteArray &text, const QString &readFirst);

    QString m_folder;
};
