#pragma once

#include "settingsstore.h"

namespace settings {

// The store on QSettings: the registry under Software\<application> on Windows,
// <config folder>/<application>.conf elsewhere; the section is a group. A file
// there that does not parse as settings is copied to <file>.bad (.bad.1, ...)
// before the first save replaces it with the readable keys of the section.
class QtSettingsStore final : public SettingsStore
{
public:
    // With a folder, each application's store is the INI file
    // <folder>/<application>.conf instead of the native place.
    explicit QtSettingsStore(QString folder = {});

    QString GetSetting(const QString &application, const QString &section, const QString &key,
                       const QString &defaultValue) override;
    void SaveSetting(const QString &application, const QString &section, const QString &key,
                     const QString &value) override;

    // Where the store of application lives, for messages.
    QString location(const QString &application) const;

private:
    bool readsBack(const QString &application, const QString &section, const QString &key,
                   const QString &value);

    QString m_folder;
};

} // namespace settings
