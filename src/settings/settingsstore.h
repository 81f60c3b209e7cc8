#pragma once

#include "errors/failure.h"

#include <QString>

namespace settings {

// A store that is there but cannot be read.
class Unreadable final : public errors::Failure
{
public:
    using Failure::Failure;
};

// A save that failed: "Cannot write the settings to <where>: <why>", with where
// (a file's path or a registry key) as the report is to show it.
errors::Failure writeFailure(const QString &where, const QString &why);

// The per-user store of text values addressed by application, section and key.
class SettingsStore
{
public:
    virtual ~SettingsStore();

    // The stored text, or defaultValue when nothing is stored under the key.
    // Throws Unreadable when the store is there but cannot be read; it is then
    // left alone for the rest of the run.
    virtual QString setting(const QString &application, const QString &section, const QString &key,
                            const QString &defaultValue)
        = 0;

    // Stores value on disk before returning. Throws errors::Failure when the
    // store cannot be written; the value then lives on only in this process.
    virtual void saveSetting(const QString &application, const QString &section,
                             const QString &key, const QString &value)
        = 0;
};

} // namespace settings
