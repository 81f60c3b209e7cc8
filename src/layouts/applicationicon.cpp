#include "layouts/applicationicon.h"

#include <QImageReader>
#include <QPixmap>
#include <QString>

static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace layouts {

namespace {

// Read with the built-in PNG reader alone: a reader left to find the format
// itself asks every image plugin first, which loads each of them.
QImage readPng(const QString &path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QIcon makeIcon()
{
    initResources();
    QIcon icon;
    for (int size : applicationIconSizes()) {
        const QImage image = readPng(QStringLiteral(":/lumivex/lumivex-%1.png").arg(size));
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

QList<int> applicationIconSizes()
{
    return {16, 32, 48, 64};
}

QIcon applicationIcon()
{
    static const QIcon icon = makeIcon();
    return icon;
}

} // namespace layouts
