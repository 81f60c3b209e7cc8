#include "layouts/applicationicon.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QString>
#include <QtEndian>

static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace layouts {

namespace {

constexpr qsizetype kHeader = 6;
constexpr qsizetype kEntry = 16;

quint32 dword(const QByteArray &data, qsizetype at)
{
    return at >= 0 && at + 4 <= data.size() ? qFromLittleEndian<quint32>(data.constData() + at)
                                            : 0;
}

int rowBytes(qint64 width, int bits)
{
    return static_cast<int>((width * bits + 31) / 32 * 4);
}

// Qt's icon reader ignores the transparency mask of images without an alpha
// channel, which turns their clear corners black. Apply it from the file.
void applyMask(QImage &image, const QByteArray &ico, int entry)
{
    const qsizetype offset = dword(ico, kHeader + entry * kEntry + 12);
    const auto width = static_cast<qint32>(dword(ico, offset + 4));
    const auto bits = static_cast<int>(dword(ico, offset + 12) >> 16);
    const quint32 colours = dword(ico, offset + 32);
    if (bits == 32 || bits == 0 || width != image.width() || dword(ico, offset) != 40)
        return;
    const qsizetype table = bits <= 8 ? qsizetype(colours ? colours : 1u << bits) * 4 : 0;
    const int height = image.height();
    const qsizetype mask = offset + 40 + table + qsizetype(rowBytes(width, bits)) * height;
    const int stride = rowBytes(width, 1);
    if (mask + qsizetype(stride) * height > ico.size())
        return;
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        const auto *row = reinterpret_cast<const uchar *>(ico.constData()) + mask
                          + qsizetype(height - 1 - y) * stride;
        auto *pixels = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (row[x / 8] & (0x80 >> (x % 8)))
                pixels[x] = qRgba(0, 0, 0, 0);
        }
    }
}

} // namespace

QString applicationIconPath()
{
    initResources();
    return QStringLiteral(":/lumivex/lumivex.ico");
}

QIcon applicationIcon()
{
    QFile file(applicationIconPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray ico = file.readAll();
    QBuffer buffer(&ico);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QIcon icon;
    for (int entry = 0; entry < reader.imageCount(); ++entry) {
        if (!reader.jumpToImage(entry))
            break;
        QImage image = reader.read();
        if (image.isNull())
            continue;
        applyMask(image, ico, entry);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace layouts
