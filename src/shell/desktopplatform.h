#pragma once

#include "platform.h"
#include "qtmessagebox.h"
#include "nativesettingsstore.h"
#include "seededrandom.h"

namespace shell {

class DesktopPlatform final : public Platform
{
public:
    errors::MessageBox &messageBox() override { return m_messageBox; }
    settings::SettingsStore &settingsStore() override { return m_settings; }
    QString programFolder() const override;
    float secondsSinceMidnight() const override;
    void randomize(double seed) override { m_random.randomize(seed); }
    float nextRandom() override { return m_random.next(); }
    void openUrl(const QUrl &address) override;
    void endProgram() override;

private:
    QtMessageBox m_messageBox;
    settings::NativeSettingsStore m_settings;
    SeededRandom m_random;
};

} // namespace shell
