#pragma once

#include "settings/settingsfile.h"
#include "settings/settingsstore.h"

#include <QSet>

namespace settings {

// The store as INI files, one per application: <folder>/<application>.conf,
// one [section] each. Saving edits the one line of its key and keeps every
// other byte, so the sections of other programs sharing the file are safe.
// A save that would not change the stored text does not touch the file.
class IniFileStore final : public SettingsStore
{
public:
    // Without a folder, the user's configuration folder: $XDG_CONFIG_HOME when
    // it is an absolute path, otherwise ~/.config.
    explicit IniFileStore(QString folder = {});

    QString setting(const QString &application, const QString &section, const QString &key,
                    const QString &defaultValue) override;
    void saveSetting(const QString &application, const QString &section, const QString &key,
                     const QString &value) override;

    // The file that holds the store of application.
    QString location(const QString &application) const;

private:
    file::Contents readKnown(const QString &path);

    QString m_folder;
    QString m_knownPath;
    file::Contents m_known;     // the file as last read, with its stamp
    QSet<QString> m_unreadable; // files that could not be read: never written in this run
};

} // namespace settings
