#include "shell/comeforward.h"

#include "shell/mainwindow.h"
#include "strobe/strobe.h"

#include <QApplication>

namespace shell {

namespace {

void activate(QWidget &window)
{
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.raise();
    window.activateWindow();
}

} // namespace

void comeForward(MainWindow &window)
{
    if (QWidget *box = QApplication::activeModalWidget()) {
        activate(*box);
        return;
    }
    if (strobe::Strobe *strobe = window.strobe(); strobe && strobe->isLoaded()) {
        // Over the main window and everything else, with the keyboard.
        strobe->show(window.screen());
        return;
    }
    // Still starting: it shows itself, active, once it is set up.
    if (window.isVisible())
        activate(window);
}

} // namespace shell
