#include "qtsettingsstore.h"

#include "failure.h"

#include <QDir>
#include <QFile>
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

// QSettings rewrites the whole file from what it could parse, so a file that is
// not a settings file at all would be lost on the first save. Keep it aside
// under a new name first, and refuse to write when that is not possible.
// Returns whether the file was kept aside.
bool keepUnreadableFile(const QSettings &store)
{
    // The file is parsed on first use, not when the object is made.
    static_cast<void>(store.allKeys());
    if (store.status() != QSettings::FormatError)
        return false;
    const QString name = store.fileName();
    if (!QFileInfo(name).isFile())
        return false;
    QString backup = name + QStringLiteral(".bad");
    for (int n = 1; QFileInfo::exists(backup); ++n)
        backup = name + QStringLiteral(".bad.") + QString::number(n);
    if (!QFile::copy(name, backup))
        throw errors::Failure(saveFailure(name)
                              + QStringLiteral(": the file there is not a settings file and "
                                               "a copy of it could not be kept"));
    return true;
}

// What QSettings made of an unreadable file beyond the section in hand is
// noise, which it could not always read back; the copy keeps the original.
void startAfresh(QSettings &store, const QString &section)
{
    store.beginGroup(section);
    QList<std::pair<QString, QVariant>> readable;
    for (const QString &key : store.childKeys())
        readable.append({key, store.value(key)});
    store.endGroup();
    store.clear();
    store.beginGroup(section);
    for (const auto &[key, value] : readable)
        store.setValue(key, value);
    store.endGroup();
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

bool QtSettingsStore::readsBack(const QString &application, const QString &section,
                                const QString &key, const QString &value)
{
    return GetSetting(application, section, key, {}) == value
           && open(m_folder, application)->status() == QSettings::NoError;
}

void QtSettingsStore::SaveSetting(const QString &application, const QString &section,
                                  const QString &key, const QString &value)
{
    auto store = open(m_folder, application);
    const bool keptAside = keepUnreadableFile(*store);
    if (keptAside)
        startAfresh(*store, section);
    store->beginGroup(section);
    store->setValue(key, value);
    store->endGroup();
    store->sync();
    // QSettings keeps only its first error: after the format error of an
    // unreadable file, only reading the value back shows that it was written.
    const bool written = keptAside ? readsBack(application, section, key, value)
                                   : store->status() == QSettings::NoError;
    if (!written)
        throw errors::Failure(saveFailure(store->fileName()));
}

} // namespace settings
