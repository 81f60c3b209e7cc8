#include "fakeplatform.h"

#include "errors/failure.h"
#include "settings/initext.h"

#include <QDir>
#include <QFile>

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
    return store.real.location(QStringLiteral("Quarnel"));
}

QString CountingStore::setting(const QString &application, const QString &section,
                               const QString &key, const QString &defaultValue)
{
    return real.setting(application, section, key, defaultValue);
}

void CountingStore::saveSetting(const QString &application, const QString &section,
                                const QString &key, const QString &value)
{
    ++saves;
    real.saveSetting(application, section, key, value);
}

void FakePlatform::storeValue(const QString &key, const QString &value)
{
    store.real.saveSetting(QStringLiteral("Quarnel"), QStringLiteral("Lumivex Software"), key,
                           value);
}

QString FakePlatform::storedValue(const QString &key) const
{
    // Read afresh: QSettings in this process would keep a copy of a file that
    // changed within its time stamp's resolution.
    QFile file(settingsFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return settings::ini::value(file.readAll(), QStringLiteral("Lumivex Software"), key)
        .value_or(QString());
}
