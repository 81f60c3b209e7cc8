#include "layouts/framestyle.h"

#include <QGroupBox>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>

namespace layouts {

namespace {

// An outline is drawn at least this opaque; a wash or an inner shade stays
// fainter (Fusion: 3/255 inside, up to 10/255 along the outline).
constexpr int kFaintestOutline = 0x0B;

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
            return;
        }
        const qreal scale = painter->device()->devicePixelRatio();
        QImage layer(option->rect.size() * scale, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(scale);
        layer.fill(Qt::transparent);
        {
            QPainter layerPainter(&layer);
            layerPainter.translate(-option->rect.topLeft());
            QProxyStyle::drawPrimitive(element, option, &layerPainter, widget);
        }
        dropFaintPixels(layer);
        painter->drawImage(option->rect.topLeft(), layer);
    }

private:
    static void dropFaintPixels(QImage &layer)
    {
        for (int y = 0; y < layer.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(layer.scanLine(y));
            for (int x = 0; x < layer.width(); ++x) {
                if (qAlpha(line[x]) < kFaintestOutline)
                    line[x] = 0;
            }
        }
    }
};

} // namespace

void showOwnBackgroundInside(QGroupBox &frame)
{
    auto *style = new OutlineOnlyStyle;
    style->setParent(&frame);
    frame.setStyle(style);
}

} // namespace layouts
