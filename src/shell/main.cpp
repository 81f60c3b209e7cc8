#include "desktopplatform.h"
#include "form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Lets desktops match the windows with the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.quarnel.Lumivex"));
    shell::DesktopPlatform platform;
    shell::Form1 form1(platform);
    form1.Form_Load();
    form1.showCentred();
    return QApplication::exec();
}
