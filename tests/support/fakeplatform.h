#pragma once

#include "fakeidleinhibitor.h"
#include "fakemessagebox.h"
#include "settings/inifilestore.h"
#include "shell/platform.h"

#include <QTemporaryDir>
#include <QUrl>

// The real store in a scratch folder, counting its saves.
class CountingStore final : public settings::SettingsStore
{
public:
    explicit CountingStore(const QString &folder)
        : real(folder)
    {}
    QString setting(const QString &application, const QString &section, const QString &key,
                    const QString &defaultValue) override;
    void saveSetting(const QString &application, const QString &section, const QString &key,
                     const QString &value) override;

    settings::IniFileStore real;
    int saves = 0;
};

// A platform for tests: settings in a scratch folder, a scripted random draw,
// a program folder of the test's choosing, and no browser.
class FakePlatform final : public shell::Platform
{
public:
    FakePlatform();

    errors::MessageBox &messageBox() override { return box; }
    settings::SettingsStore &settingsStore() override { return store; }
    strobe::IdleInhibitor &idleInhibitor() override { return idle; }
    bool savesInBackground() const override { return backgroundSaves; }
    QString programFolder() const override { return folder; }
    float secondsSinceMidnight() const override { return 0.0f; }
    void randomize(double) override {}
    float nextRandom() override { return random; }
    void openUrl(const QUrl &address) override;
    void endProgram() override { ++endCount; }
    bool endRequested() const override { return ending; }

    // Writes value under key in the program's section, as if stored earlier.
    void storeValue(const QString &key, const QString &value);
    QString storedValue(const QString &key) const;
    QString settingsFile() const;

    QTemporaryDir scratch;
    FakeMessageBox box;
    CountingStore store;
    FakeIdleInhibitor idle;
    QString folder;
    float random = 0.5f;          // draws 51: no home page
    bool backgroundSaves = false; // saves at once, so tests can look at the file
    bool openFails = false;
    QList<QUrl> opened;
    int endCount = 0;
    bool ending = false; // a request to end came from outside
};
