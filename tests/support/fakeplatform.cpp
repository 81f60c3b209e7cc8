#include "fakeplatform.h"

#include "failure.h"

#include <QDir>
#include <QSettings>

FakePlatform::FakePlatform()
    : store(scratch.filePath(QStringLiteral("config")))
    , folder(scratch.filePath(QStringLiteral("program")))
{
    QDir().mkpath(folder);
    QDir().mkpath(scratch.filePath(QStringLiteral("config")));
}

void FakePlatform::openUrl(const QUrl &address)
{
    if (openFails)
        throw errors::Failure(QStringLiteral("Cannot open %1").arg(address.toString()));
    opened.append(address);
}

QString FakePlatform::settingsFile() const
{
    return store.location(QStringLiteral("Quarnel"));
}

void FakePlatform::storeValue(const QString &key, const QString &value)
{
    QSettings file(settingsFile(), QSettings::IniFormat);
    file.setValue(QStringLiteral("Lumivex Software/") + key, value);
}

QString FakePlatform::storedValue(const QString &key) const
{
    QSettings file(settingsFile(), QSettings::IniFormat);
    return file.value(QStringLiteral("Lumivex Software/") + key).toString();
}
