#pragma once

#include "strobe/optionsource.h"

#include <QWidget>

#include <memory>
#include <optional>

class QComboBox;
class QKeyEvent;
class QPushButton;

namespace Ui {
class MainWindow;
}
namespace settings {
class SaveQueue;
}
namespace skin {
class Dispatch;
}
namespace strobe {
class Strobe;
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
class MainWindow final
    : public QWidget
    , public strobe::OptionSource
{
    Q_OBJECT

public:
    explicit MainWindow(Platform &platform, QWidget *parent = nullptr);
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

    // The start-up sequence; runs once, before the window is shown.
    void setUp();
    // Shows the window centred on its screen's free area, its window manager's
    // frame included.
    void showCentred();

    // Stores the chosen entry of the style or of the speed list.
    void saveStyle();
    void saveSpeed();
    // The pointer over the window, a frame or a push button.
    void pointerOverBackground();
    void pointerOverButton();
    void showHelp();
    void startStrobe();
    // Closes the strobe, if any, and ends the program.
    void closeProgram();

    qint16 mousePointer() const { return m_mousePointer; }
    void setMousePointer(qint16 kind);
    bool hasMouseIcon() const { return m_mouseIcon.has_value(); }

    qint16 styleIndex() const override;
    qint16 speedIndex() const override;

    // The strobe, once it has been started.
    strobe::Strobe *strobe() const { return m_strobe.get(); }

    // Waits until the choices made are saved, at most timeoutMs.
    bool finishSaving(int timeoutMs);

    // Replaces the skin component before setUp, for tests.
    void setSkinFramework(skin::Dispatch *component) { m_skinFramework = component; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void setUpSteps();
    void nameForSkins();
    void describeForScreenReaders();
    void centreFrame();
    void keepSizeOnScreen();
    bool pressedWithEnter(QPushButton *button, const QKeyEvent &key);
    QString programFile(const QString &name) const;
    void loadMouseIcon();
    void appendEntry(QComboBox *list, const QString &text);
    void restoreList(QComboBox *list, const QString &key, void (MainWindow::*save)());
    QString storedListIndex(const QString &key);
    void storeListIndex(const QComboBox *list, const QString &key);
    void tellStoreTroubleOnce(const QString &message);
    void applyPointer();

    std::unique_ptr<Ui::MainWindow> m_ui;
    Platform &m_platform;
    std::unique_ptr<settings::SaveQueue> m_saves;
    skin::Dispatch *m_skinFramework = nullptr;
    std::unique_ptr<strobe::Strobe> m_strobe;
    std::optional<QCursor> m_mouseIcon;
    qint16 m_mousePointer = MousePointer::Default;
    bool m_storeTroubleShown = false;
    bool m_centringFrame = false;
    bool m_keptOnScreen = false;
    qreal m_pixelRatio = 1.0;
};

} // namespace shell
