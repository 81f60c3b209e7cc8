// The smallest Qt Widgets program of the main window's shape, the floor the
// start-up benchmark measures the program against: a fixed-size window with
// two lists and two buttons, and nothing else.
#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QPushButton>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Minimal Widgets"));
    auto *central = new QWidget(&window);
    auto *styles = new QComboBox(central);
    styles->setGeometry(24, 58, 489, 23);
    styles->addItems({QStringLiteral("Classic Strobe Light"), QStringLiteral("Random Colors")});
    auto *speeds = new QComboBox(central);
    speeds->setGeometry(24, 116, 489, 23);
    speeds->addItems({QStringLiteral("Slow"), QStringLiteral("Medium"), QStringLiteral("Fast")});
    (new QPushButton(QStringLiteral("Start Strobing"), central))->setGeometry(8, 158, 520, 27);
    (new QPushButton(QStringLiteral("Help"), central))->setGeometry(8, 8, 520, 27);
    window.setCentralWidget(central);
    window.setFixedSize(536, 192);
    window.show();
    return QApplication::exec();
}
