#pragma once

#include "settings/settingsstore.h"

namespace settings {

// The store in the current user's registry: each application and section is a
// key HKEY_CURRENT_USER\<root>\<application>\<section>, each setting a REG_SZ
// value of that key. A key that is missing reads as empty; one that may not
// be read throws Unreadable. A value of
// another type is not text: reading it throws errors::Failure ("Type
// mismatch"), as a stored text that is no number fails when it is converted,
// and the value stays as it is until a save replaces it.
class RegistrySettingsStore final : public SettingsStore
{
public:
    explicit RegistrySettingsStore(QString root = QStringLiteral("Software"));

    QString setting(const QString &application, const QString &section, const QString &key,
                    const QString &defaultValue) override;
    void saveSetting(const QString &application, const QString &section, const QString &key,
                     const QString &value) override;

    // The full name of the key that holds the section, for messages.
    QString location(const QString &application, const QString &section) const;

private:
    QString subkey(const QString &application, const QString &section) const;

    QString m_root;
};

} // namespace settings
