// Frames that show their own background: drawn with the outline of the
// application's style, without its wash inside, pixel for pixel.
#include "layouts/framestyle.h"

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTest>

namespace {

// Fusion's own frame with everything fainter than an outline left out: what
// the frames must look like.
class FusionOutline final : public QProxyStyle
{
public:
    FusionOutline()
        : QProxyStyle(QStyleFactory::create(QStringLiteral("fusion")))
    {}

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
        for (int y = 0; y < layer.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(layer.scanLine(y));
            for (int x = 0; x < layer.width(); ++x) {
                if (qAlpha(line[x]) < 0x0B)
                    line[x] = 0;
            }
        }
        painter->drawImage(option->rect.topLeft(), layer);
    }
};

QImage render(QGroupBox &box, qreal scale)
{
    QImage image(box.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    box.render(&image);
    return image;
}

} // namespace

class TestFrameStyle final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void outline_data();
    void outline();
};

void TestFrameStyle::initTestCase()
{
    QApplication::setStyle(QStringLiteral("fusion"));
}

void TestFrameStyle::outline_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<qreal>("scale");
    const QString title = QStringLiteral("Strobe Option");
    // The main window's frames, at each scale a desktop may set.
    for (qreal scale : {1.0, 1.25, 1.5, 2.0}) {
        QTest::addRow("main window, x%g", scale)
            << QSize(520, 54) << title << false << 13 << scale;
    }
    QTest::addRow("no title") << QSize(520, 54) << QString() << false << 13 << 1.0;
    QTest::addRow("no title, check box") << QSize(200, 60) << QString() << true << 13 << 1.0;
    QTest::addRow("small letters") << QSize(300, 40) << title << false << 6 << 1.0;
    QTest::addRow("big letters") << QSize(300, 90) << title << false << 40 << 1.0;
    QTest::addRow("smaller than two corners") << QSize(11, 9) << QString() << false << 13 << 1.0;
    QTest::addRow("small, x2") << QSize(30, 14) << QString() << false << 13 << 2.0;
    // A frame 3 px below the top of a box without title: corners that meet,
    // and one pixel of side between them.
    QTest::addRow("corners meet") << QSize(12, 15) << QString() << false << 13 << 1.0;
    QTest::addRow("corners one apart") << QSize(13, 16) << QString() << false << 13 << 1.0;
    QTest::addRow("corners one apart, x1.5") << QSize(13, 16) << QString() << false << 13 << 1.5;
}

void TestFrameStyle::outline()
{
    QFETCH(QSize, size);
    QFETCH(QString, title);
    QFETCH(bool, checkable);
    QFETCH(int, pixelSize);
    QFETCH(qreal, scale);
    QGroupBox box(title);
    box.setCheckable(checkable);
    QFont font = box.font();
    font.setPixelSize(pixelSize);
    box.setFont(font);
    box.resize(size);
    FusionOutline fusion;
    box.setStyle(&fusion);
    const QImage expected = render(box, scale);
    layouts::showOwnBackgroundInside(box);
    QCOMPARE(render(box, scale), expected);
}

QTEST_MAIN(TestFrameStyle)
#include "test_framestyle.moc"
