#pragma once

#include "strobe/optionsource.h"

#include <QWidget>

#include <memory>
#include <optional>

class QComboBox;
class QKeyEvent;
class QPushButton;

namespace Ui {
class Form1;
}
namespace settings {
class SaveQueue;
}
namespace skin {
class Dispatch;
}
namespace strobe {
class Form2;
}

namespace shell {

class Platform;

// Pointer kinds of the main window.
namespace MousePointer {
constexpr qint16 Default = 0;
constexpr qint16 Hourglass = 11;
constexpr qint16 Custom = 99;
} // namespace MousePointer

// The main window: start-up, the two option lists and the two push buttons.
class Form1 final
    : public QWidget
    , public strobe::OptionSource
{
    Q_OBJECT

public:
    explicit Form1(Platform &platform, QWidget *parent = nullptr);
    ~Form1() override;
    Q_DISABLE_COPY_MOVE(Form1)

    // The start-up sequence; runs once, before the window is shown.
    void Form_Load();
    // Shows the window centred on its screen's free area, its window manager's
    // frame included.
    void showCentred();

    void Combo1_Click();
    void Combo1_Change();
    void Combo2_Click();
    void Combo2_Change();
    void Form_MouseMove();
    void Frame3_MouseMove();
    void Frame4_MouseMove();
    void PushButton1_MouseMove();
    void PushButton2_MouseMove();
    void PushButton1_Click();
    void PushButton2_Click();
    void Form_Unload();

    qint16 mousePointer() const { return m_mousePointer; }
    void setMousePointer(qint16 kind);
    bool hasMouseIcon() const { return m_mouseIcon.has_value(); }

    qint16 styleIndex() const override;
    qint16 speedIndex() const override;

    // The strobe window, once it has been used.
    strobe::Form2 *form2() const { return m_form2.get(); }

    // Waits until the choices made are saved, at most timeoutMs.
    bool finishSaving(int timeoutMs);

    // Replaces the skin component before Form_Load, for tests.
    void setSkinFramework(skin::Dispatch *component) { m_skinFramework = component; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void describeForScreenReaders();
    void centreFrame();
    void keepSizeOnScreen();
    bool pressedWithEnter(QPushButton *button, const QKeyEvent &key);
    QString programFile(const QString &name) const;
    void loadMouseIcon();
    void appendEntry(QComboBox *list, const QString &text);
    void restoreList(QComboBox *list, const QString &key, void (Form1::*click)());
    QString storedListIndex(const QString &key);
    void storeListIndex(const QComboBox *list, const QString &key);
    void tellStoreTroubleOnce(const QString &message);
    void pointerOverButton();
    void pointerOverBackground();
    void applyPointer();

    std::unique_ptr<Ui::Form1> m_ui;
    Platform &m_platform;
    std::unique_ptr<settings::SaveQueue> m_saves;
    skin::Dispatch *m_skinFramework = nullptr;
    std::unique_ptr<strobe::Form2> m_form2;
    std::optional<QCursor> m_mouseIcon;
    qint16 m_mousePointer = MousePointer::Default;
    bool m_storeTroubleShown = false;
    bool m_centringFrame = false;
    qreal m_pixelRatio = 1.0;
};

} // namespace shell
