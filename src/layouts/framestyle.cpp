#include "layouts/framestyle.h"

#include <QGroupBox>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleOption>
#include <qdrawutil.h>

#include <functional>

namespace layouts {

namespace {

// An outline is drawn at least this opaque; a wash or an inner shade stays
// fainter (Fusion: 3/255 inside, up to 10/255 along the outline).
constexpr int kFaintestOutline = 0x0B;

// Fusion draws a group box's frame from a 98 x 38 px picture of a rounded
// outline with a wash inside, its corners 6 px square, stretched to the frame.
// It loads that picture through the image readers, which loads every image
// plugin there is; the same picture is made here instead. This table holds
// its corners and, between them, one pixel of each side and of the inside,
// which are the same all along.
constexpr QSize kFusionPicture(98, 38);
constexpr int kCorner = 6;
constexpr int kTable = 2 * kCorner + 1;
constexpr QRgb kN = 0x00ffffff; // nothing
constexpr QRgb kO = 0x32757575; // the outline
constexpr QRgb kI = 0x07000000; // the inner shade along it
constexpr QRgb kW = 0x03000000; // the wash
constexpr QRgb kFusionFrame[kTable][kTable] = {
    {kN, kN, kN, kN, kN, kN, kN, kN, kN, kN, kN, kN, kN},
    {kN, 0x0d272727, 0x345d5d5d, 0x346c6c6c, kO, kO, kO, kO, kO, kO, 0x346c6c6c, 0x37666666,
     0x0c151515},
    {kN, 0x39626262, 0x1f5a5a5a, 0x0a000000, 0x08000000, kI, kI, kI, kI, 0x08000000, 0x0a000000,
     0x1e5e5e5e, 0x355b5b5b},
    {kN, 0x346c6c6c, 0x09000000, kW, kW, kW, kW, kW, kW, kW, kW, 0x09000000, 0x346c6c6c},
    {kN, kO, 0x08000000, kW, kW, kW, kW, kW, kW, kW, kW, 0x08000000, kO},
    {kN, kO, kI, kW, kW, kW, kW, kW, kW, kW, kW, kI, kO},
    {kN, kO, kI, kW, kW, kW, kW, kW, kW, kW, kW, kI, kO},
    {kN, kO, kI, kW, kW, kW, kW, kW, kW, kW, kW, kI, kO},
    {kN, kO, kI, kW, kW, kW, kW, kW, kW, kW, kW, kI, kO},
    {kN, kO, 0x08000000, kW, kW, kW, kW, kW, kW, kW, kW, 0x08000000, kO},
    {kN, 0x346c6c6c, 0x09000000, kW, kW, kW, kW, kW, kW, kW, kW, 0x09000000, 0x346c6c6c},
    {kN, 0x355b5b5b, 0x1e5e5e5e, 0x0a000000, 0x08000000, kI, kI, kI, kI, 0x08000000, 0x0a000000,
     0x1f5a5a5a, 0x39626262},
    {kN, 0x0c151515, 0x37666666, 0x346c6c6c, kO, kO, kO, kO, kO, kO, 0x346c6c6c, 0x345d5d5d,
     0x0d272727},
};
// Fusion's space above the frame of a group box with neither title nor check
// box, and below the title of one with either.
constexpr int kFusionTopMargin = 3;

// Where a pixel of the picture lies in the table: corners as they are, the
// rest from the table's middle row or column.
int tableIndex(int at, int length)
{
    return at < kCorner ? at : at >= length - kCorner ? at - length + kTable : kCorner;
}

// With outlineOnly, the picture without what is fainter than an outline: the
// same frame once those pixels are dropped, as long as no two of its pieces
// overlap, and much less to blend.
QPixmap fusionFramePicture(bool outlineOnly)
{
    const int width = kFusionPicture.width();
    const int height = kFusionPicture.height();
    QImage image(kFusionPicture, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = kFusionFrame[tableIndex(y, height)][tableIndex(x, width)];
            line[x] = outlineOnly && qAlpha(pixel) < kFaintestOutline ? 0 : pixel;
        }
    }
    return QPixmap::fromImage(image);
}

// Draws a group box's frame as the application's style does, without anything
// fainter than an outline.
class OutlineOnlyStyle final : public QProxyStyle
{
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element != PE_FrameGroupBox || option->rect.isEmpty()) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
        } else if (baseStyle()->name() == QLatin1String("fusion")) {
            drawFusionFrame(*option, *painter, qobject_cast<const QGroupBox *>(widget));
        } else {
            drawWithoutFaintPixels(*option, *painter, [&](QPainter &layerPainter) {
                QProxyStyle::drawPrimitive(element, option, &layerPainter, widget);
            });
        }
    }

private:
    // What Fusion draws for the frame, from the picture made here.
    void drawFusionFrame(const QStyleOption &option, QPainter &painter, const QGroupBox *box) const
    {
        int top = kFusionTopMargin;
        if (!box || box->isCheckable() || !box->title().isEmpty()) {
            top += qMax(baseStyle()->pixelMetric(PM_ExclusiveIndicatorHeight),
                        option.fontMetrics.height());
        }
        const QRect frame = option.rect.adjusted(0, top, 0, 0);
        // Smaller, the corners overlap, and what is fainter adds up before it
        // is dropped.
        const bool piecesApart = frame.width() > 2 * kCorner && frame.height() > 2 * kCorner;
        QPixmap &picture = piecesApart ? m_fusionOutline : m_fusionFrame;
        if (picture.isNull())
            picture = fusionFramePicture(piecesApart);
        drawWithoutFaintPixels(option, painter, [&](QPainter &layerPainter) {
            qDrawBorderPixmap(&layerPainter, frame, QMargins(kCorner, kCorner, kCorner, kCorner),
                              picture);
        });
    }

    static void drawWithoutFaintPixels(const QStyleOption &option, QPainter &painter,
                                       const std::function<void(QPainter &)> &drawFrame)
    {
        const qreal scale = painter.device()->devicePixelRatio();
        QImage layer(option.rect.size() * scale, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(scale);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            layerPainter.translate(-option.rect.topLeft());
            drawFrame(layerPainter);
        }
        dropFaintPixels(layer);
        painter.drawImage(option.rect.topLeft(), layer);
    }

    static void dropFaintPixels(QImage &layer)
    {
        // Alpha is the top byte of a pixel.
        constexpr QRgb kFaintest = QRgb(kFaintestOutline) << 24;
        const int width = layer.width();
        const int height = layer.height();
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<QRgb *>(layer.scanLine(y));
            for (int x = 0; x < width; ++x)
                line[x] = line[x] < kFaintest ? 0 : line[x];
        }
    }

    mutable QPixmap m_fusionFrame;
    mutable QPixmap m_fusionOutline;
};

} // namespace

void showOwnBackgroundInside(QGroupBox &frame)
{
    auto *style = new OutlineOnlyStyle;
    style->setParent(&frame);
    frame.setStyle(style);
}

} // namespace layouts
