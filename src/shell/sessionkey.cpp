#include "shell/sessionkey.h"

#include "shell/singleinstance.h"

#include <QProcessEnvironment>

namespace shell {

QString qtOptionValue(const QStringList &arguments, const QString &name)
{
    // Qt reads "--name" as "-name", and the last one given wins.
    QString value;
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == u'-' + name || argument == QStringLiteral("--") + name)
            value = arguments.at(++i);
    }
    return value;
}

QStringList requestedPlatforms(const QStringList &arguments,
                               const QProcessEnvironment &environment)
{
    QString platforms = qtOptionValue(arguments, QStringLiteral("platform"));
    if (platforms.isEmpty())
        platforms = environment.value(QStringLiteral("QT_QPA_PLATFORM"));
    QStringList names;
    for (const QString &entry : platforms.split(u';', Qt::SkipEmptyParts))
        names.append(entry.section(u':', 0, 0).trimmed());
    names.removeAll(QString());
    return names;
}

QByteArray sessionKey(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return sessionKey(arguments, QProcessEnvironment::systemEnvironment());
}

} // namespace shell
