#pragma once

#include "idle/systemidleinhibitor.h"
#include "settings/userstore.h"
#include "shell/platform.h"
#include "shell/qtmessagebox.h"
#include "shell/seededrandom.h"

namespace shell {

class DesktopPlatform final : public Platform
{
public:
    errors::MessageBox &messageBox() override { return m_messageBox; }
    settings::SettingsStore &settingsStore() override { return *m_settings; }
    strobe::IdleInhibitor &idleInhibitor() override { return m_idle; }
    QString programFolder() const override;
    float secondsSinceMidnight() const override;
    void randomize(double seed) override { m_random.randomize(seed); }
    float nextRandom() override { return m_random.next(); }
    void openUrl(const QUrl &address) override;
    void endProgram() override;
    bool endRequested() const override;

private:
    QtMessageBox m_messageBox;
    std::unique_ptr<settings::SettingsStore> m_settings = settings::openUserStore();
    SeededRandom m_random;
    idle::SystemIdleInhibitor m_idle;
};

} // namespace shell
