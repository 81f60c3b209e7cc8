#include "qsettingsoracle.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <utility>

using settings::ini::Reading;

namespace {

// The key QSettings::value() looks up for name: no empty parts.
QString normalized(const QString &name)
{
    return name.split(u'/', Qt::SkipEmptyParts).join(u'/');
}

QByteArray serialized(const QVariant &value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << value.metaType().id() << value;
    return bytes;
}

} // namespace

QSettingsOracle::QSettingsOracle(QString folder)
    : m_folder(std::move(folder))
{}

QString QSettingsOracle::file(const QByteArray &text)
{
    // Never the same name twice in a process: QSettings would take a file
    // of the same size and time stamp for the one it read before.
    static int files = 0;
    const QString path = QDir(m_folder).filePath(QStringLiteral("oracle-%1.ini").arg(++files));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

std::optional<Reading> QSettingsOracle::read(const QByteArray &text, const QString &section,
                                             const QString &key)
{
    const QString path = file(text);
    std::optional<Reading> reading;
    {
        const QSettings qt(path, QSettings::IniFormat);
        const QString name = section + u'/' + key;
        if (qt.contains(name)) {
            const QVariant value = qt.value(name);
            if (value.metaType().id() == QMetaType::QString)
                reading = Reading{value.toString(), false};
            else
                reading = Reading{QString(), true};
        }
    }
    QFile::remove(path);
    return reading;
}

QMap<QString, QByteArray> QSettingsOracle::everything(const QByteArray &text,
                                                      const QString &readFirst)
{
    const QString path = file(text);
    QMap<QString, QByteArray> values;
    {
        const QSettings qt(path, QSettings::IniFormat);
        if (!readFirst.isEmpty())
            qt.value(readFirst);
        const QStringList keys = qt.allKeys();
        for (const QString &key : keys) {
            // value() cannot tell these from other keys.
            if (normalized(key).isEmpty() || normalized(key) != key)
                continue;
            values.insert(key, serialized(qt.value(key)));
        }
    }
    QFile::remove(path);
    return values;
}

QString QSettingsOracle::editProblems(const QByteArray &text, const QByteArray &edited,
                                      const QString &section, const QString &key,
                                      const QString &value)
{
    QStringList problems;
    const QString name = section + u'/' + key;
    const auto afterEdit = read(edited, section, key);
    if (!afterEdit || afterEdit->typed || afterEdit->text != value)
        problems << QStringLiteral("value() reads %1").arg(describe(afterEdit));
    const QByteArray expected = serialized(QVariant(value));
    for (const QString &first : {QString(), name}) {
        QMap<QString, QByteArray> before = everything(text, first);
        QMap<QString, QByteArray> after = everything(edited, first);
        if (after.value(name) != expected)
            problems
                << QStringLiteral("allKeys() after value(\"%1\") reads another value").arg(first);
        before.remove(name);
        after.remove(name);
        if (before != after)
            problems << QStringLiteral("other keys changed (read first: \"%1\")").arg(first);
    }
    return problems.join(QStringLiteral("; "));
}

bool QSettingsOracle::agree(const std::optional<Reading> &lumivex,
                            const std::optional<Reading> &qt)
{
    if (!lumivex || !qt)
        return !lumivex && !qt;
    if (lumivex->typed
        && (lumivex->text.startsWith(QLatin1String("@Variant("))
            || lumivex->text.startsWith(QLatin1String("@DateTime("))))
        return true;
    return lumivex->typed == qt->typed && (qt->typed || lumivex->text == qt->text);
}

QString QSettingsOracle::describe(const std::optional<Reading> &reading)
{
    if (!reading)
        return QStringLiteral("no value");
    if (reading->typed)
        return QStringLiteral("a typed value");
    return QLatin1Char('"') + reading->text + QLatin1Char('"');
}
