// Saves the whole X screen, or a rectangle of it, as an image file; or prints
// the colour of single pixels. For end-to-end tests and the README's pictures.
//
//   screengrab out.png [x y w h]
//   screengrab --pixel x y [x y ...]     prints #rrggbb per point
//   screengrab --colours [x y w h]       prints "#rrggbb count" per colour seen
#include <QGuiApplication>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    QScreen *screen = QGuiApplication::primaryScreen();
    if (args.size() >= 3 && args.first() == QStringLiteral("--pixel")) {
        const QImage image = screen->grabWindow(0).toImage();
        QTextStream out(stdout);
        for (qsizetype i = 1; i + 1 < args.size(); i += 2)
            out << QColor(image.pixel(args[i].toInt(), args[i + 1].toInt())).name() << '\n';
        return 0;
    }
    if (!args.isEmpty() && args.first() == QStringLiteral("--colours")) {
        const QImage image
            = (args.size() >= 5 ? screen->grabWindow(0, args[1].toInt(), args[2].toInt(),
                                                     args[3].toInt(), args[4].toInt())
                                : screen->grabWindow(0))
                  .toImage()
                  .convertToFormat(QImage::Format_RGB32);
        QMap<QRgb, qint64> counts;
        for (int y = 0; y < image.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                ++counts[line[x] | 0xff000000u];
        }
        QTextStream out(stdout);
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            out << QColor(it.key()).name() << ' ' << it.value() << '\n';
        return 0;
    }
    if (args.isEmpty()) {
        std::fputs("usage: screengrab out.png [x y w h] | --pixel x y ... | --colours [x y w h]\n",
                   stderr);
        return 2;
    }
    QPixmap shot = args.size() >= 5 ? screen->grabWindow(0, args[1].toInt(), args[2].toInt(),
                                                         args[3].toInt(), args[4].toInt())
                                    : screen->grabWindow(0);
    return shot.save(args.first()) ? 0 : 1;
}
