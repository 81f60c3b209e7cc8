#include "qtsettingsstore.h"

#include "failure.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <memory>
#include <utility>

namespace settings {

namespace {

std::unique_ptr<QSettings> open(const QString &folder, const QString &application)
{
    if (folder.isEmpty()) {
#ifdef Q_OS_WIN
        // Without an application name Qt would add an "OrganizationDefaults" key.
        return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\Software\\")
                                               + application,
                                           QSettings::NativeFormat);
#else
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           application, QString());
#endif
    }
    return std::make_unique<QSettings>(
        QDir(folder).filePath(application + QStringLiteral(".conf")), QSettings::IniFormat);
}

QString saveFailure(const QString &where)
{
    return QStringLiteral("Cannot write the settings to %1").arg(QDir::toNativeSeparators(where));
}

} // namespace

QtSettingsStore::QtSettingsStore(QString folder)
    : m_folder(std::move(folder))
{}

QString QtSettingsStore::location(const QString &application) const
{
    return open(m_folder, application)->fileName();
}

QString QtSettingsStore::GetSetting(const QString &application, const QString &section,
                                    const QString &key, const QString &defaultValue)
{
    auto store = open(m_folder, application);
    store->beginGroup(section);
    const QVariant value = store->value(key);
    if (!value.isValid() || !value.canConvert<QString>())
        return defaultValue;
    return value.toString();
}

void QtSettingsStore::SaveSetting(const QString &application, const QString &section,
                                  const QString &key, const QString &value)
{
    auto store = open(m_folder, application);
    store->beginGroup(section);
    store->setValue(key, value);
    store->endGroup();
    store->sync();
    if (store->status() != QSettings::NoError)
        throw errors::Failure(saveFailure(store->fileName()));
}

} // namespace settings
