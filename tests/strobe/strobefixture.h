#pragma once

#include "fakeidleinhibitor.h"
#include "fakemessagebox.h"
#include "strobe/optionsource.h"
#include "strobe/strobe.h"
#include "timing/intervaltimer.h"

#include <QGuiApplication>
#include <QStringList>
#include <QTest>

#include <memory>

namespace strobetest {

using namespace Qt::StringLiterals;

class FakeOptions final : public strobe::OptionSource
{
public:
    qint16 styleIndex() const override { return style; }
    qint16 speedIndex() const override { return speed; }
    qint16 style = 0;
    qint16 speed = 2;
};

inline qint16 press(strobe::Strobe &form, qint16 key)
{
    form.handleKey(key);
    return key;
}

// "s" stands for Shift and "?" for a key the map does not know.
inline qint16 keyCode(QChar key)
{
    return key == u's' ? 16 : key == u'?' ? 255 : qint16(key.unicode());
}

inline void typeKeys(strobe::Strobe &form, const QString &keys)
{
    for (QChar key : keys)
        press(form, keyCode(key));
}

// The line numbers of the failures reported so far, all from the given event.
inline QString failedLines(FakeMessageBox &box, const QString &event)
{
    QStringList lines;
    for (const FakeMessageBox::Shown &shown : std::as_const(box.shown)) {
        if (!shown.prompt.contains(u"in Lumivex2021/08/31.Form2."_s + event + u" at line "_s))
            return shown.prompt;
        lines << shown.prompt.section(u"at line "_s, 1).section(u'\r', 0, 0);
    }
    box.shown.clear();
    return lines.join(u' ');
}

// A strobe over fakes of everything it reaches, made anew for each case.
class StrobeFixture
{
protected:
    void setUpStrobe()
    {
        m_options = FakeOptions();
        m_idle = FakeIdleInhibitor();
        m_strobe = std::make_unique<strobe::Strobe>(m_box, m_options, m_idle);
    }

    void tearDownStrobe()
    {
        m_strobe.reset();
        QVERIFY(m_box.shown.isEmpty());
    }

    // Shows the strobe and stops its real timer, so that the test alone ticks it.
    void showStrobe()
    {
        m_strobe->show(QGuiApplication::primaryScreen());
        m_strobe->stepTimer()->setEnabled(false);
    }

    FakeMessageBox m_box;
    FakeOptions m_options;
    FakeIdleInhibitor m_idle;
    std::unique_ptr<strobe::Strobe> m_strobe;
};

} // namespace strobetest
