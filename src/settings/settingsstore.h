#pragma once

#include <QString>

namespace settings {

// The per-user store of text values addressed by application, section and key.
class SettingsStore
{
public:
    virtual ~SettingsStore();

    // The stored text, or defaultValue when nothing is stored under the key.
    // Never fails: an unreadable store reads as empty.
    virtual QString GetSetting(const QString &application, const QString &section,
                               const QString &key, const QString &defaultValue)
        = 0;

    // Stores value on disk before returning. Throws errors::Failure when the
    // store cannot be written; the value then lives on only in this process.
    virtual void SaveSetting(const QString &application, const QString &section,
                             const QString &key, const QString &value)
        = 0;
};

} // namespace settings
