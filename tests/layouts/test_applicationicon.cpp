// The application icon file, read byte by byte as a Windows icon, and the icon
// the program builds from its resources.
#include "layouts/applicationicon.h"

#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QTest>
#include <QtEndian>

namespace {

constexpr int kHeader = 6;
constexpr int kEntry = 16;
constexpr int kBitmapInfoHeader = 40;

template<typename T> T read(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<T>(data.constData() + at);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Rows of a bottom-up bitmap are padded to whole 32-bit words.
qsizetype rowBytes(int width, int bits)
{
    return (width * bits + 31) / 32 * 4;
}

} // namespace

class TestApplicationIcon final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fileHoldsNineIcons();
    void image_data();
    void image();
    void windowIcon_data();
    void windowIcon();
    void oneIconForTheWholeRun();

private:
    QByteArray m_ico = readAll(QStringLiteral(LUMIVEX_ICON_FILE));
};

constexpr int kImages = 9;

void TestApplicationIcon::fileHoldsNineIcons()
{
    QVERIFY2(m_ico.size() > kHeader + kImages * kEntry, "icon file missing or too short");
    QCOMPARE(read<quint16>(m_ico, 2), quint16(1)); // 1 = icon, 2 = cursor
    QCOMPARE(read<quint16>(m_ico, 4), quint16(kImages));
}

void TestApplicationIcon::image_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("bits");
    // Every size Windows draws from 100 to 250 %: small icons, title bars,
    // the taskbar and Explorer's views.
    const int sizes[kImages] = {16, 20, 24, 32, 40, 48, 64, 128, 256};
    for (int entry = 0; entry < kImages; ++entry) {
        const int size = sizes[entry];
        const int bits = size == 32 ? 24 : 32;
        QTest::addRow("%dx%d %d-bit", size, size, bits) << entry << size << bits;
    }
}

void TestApplicationIcon::image()
{
    QFETCH(int, entry);
    QFETCH(int, size);
    QFETCH(int, bits);
    QVERIFY(m_ico.size() > kHeader + kImages * kEntry);

    const qsizetype at = kHeader + entry * kEntry;
    // Width and height are one byte each; 0 stands for 256.
    QCOMPARE(quint8(m_ico.at(at)), quint8(size));
    QCOMPARE(quint8(m_ico.at(at + 1)), quint8(size));
    QCOMPARE(int(read<quint16>(m_ico, at + 6)), bits);
    const quint32 length = read<quint32>(m_ico, at + 8);
    const quint32 offset = read<quint32>(m_ico, at + 12);
    QVERIFY(quint64(offset) + length <= quint64(m_ico.size()));

    // An uncompressed bitmap, not a PNG, whose height counts the colour rows
    // and the mask rows.
    const QByteArray bitmap = m_ico.mid(offset, length);
    QCOMPARE(read<quint32>(bitmap, 0), quint32(kBitmapInfoHeader));
    QCOMPARE(read<qint32>(bitmap, 4), size);
    QCOMPARE(read<qint32>(bitmap, 8), 2 * size);
    QCOMPARE(int(read<quint16>(bitmap, 14)), bits);
    QCOMPARE(read<quint32>(bitmap, 16), quint32(0)); // BI_RGB
    QCOMPARE(qsizetype(length),
             kBitmapInfoHeader + (rowBytes(size, bits) + rowBytes(size, 1)) * size);

    // Every image, the 24-bit one through its mask, has clear corners.
    const qsizetype mask = offset + kBitmapInfoHeader + rowBytes(size, bits) * size;
    const qsizetype maskRow = rowBytes(size, 1);
    for (int row : {0, size - 1}) {
        QVERIFY(quint8(bitmap.at(mask - offset + row * maskRow)) & 0x80);
        QVERIFY(quint8(bitmap.at(mask - offset + row * maskRow + (size - 1) / 8))
                & (0x80 >> ((size - 1) % 8)));
    }

    QImageReader reader(QStringLiteral(LUMIVEX_ICON_FILE), "ico");
    QVERIFY(reader.jumpToImage(entry));
    const QImage decoded = reader.read();
    QVERIFY2(!decoded.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(decoded.size(), QSize(size, size));
    // Legible when small: a bright flash on a dark tile, not a grey blur.
    QVERIFY2(qGray(decoded.pixel(size / 2, size / 2)) > 200, "the middle is not bright");
    QVERIFY2(qGray(decoded.pixel(size / 4, size / 4)) < 90,
             "the tile around the flash is not dark");
}

void TestApplicationIcon::windowIcon_data()
{
    QTest::addColumn<int>("size");
    // What desktops ask a window for: menus and title bars, task switchers.
    for (int size : {16, 32, 48, 64})
        QTest::addRow("%dx%d", size, size) << size;
}

void TestApplicationIcon::windowIcon()
{
    QFETCH(int, size);
    const QIcon icon = layouts::applicationIcon();
    QCOMPARE(icon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {64, 64}}));
    const QImage image = icon.pixmap(QSize(size, size)).toImage();
    QCOMPARE(image.size(), QSize(size, size));
    // The very picture the desktop's theme installs.
    const QImage themed(QStringLiteral(LUMIVEX_ICON_FOLDER "/lumivex-%1.png").arg(size));
    QCOMPARE(image.convertToFormat(QImage::Format_ARGB32_Premultiplied),
             themed.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size - 1, size - 1)), 0);
    QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
    QVERIFY2(qGray(image.pixel(size / 2, size / 2)) > 200, "the middle is not bright");
    QVERIFY2(qGray(image.pixel(size / 4, size / 4)) < 90, "the tile around the flash is not dark");
}

// Each window showing an icon of its own makes Qt cache the window system's
// copies of its pixmaps under that icon's key, never to be used again.
void TestApplicationIcon::oneIconForTheWholeRun()
{
    const qint64 first = layouts::applicationIcon().cacheKey();
    for (int call = 0; call < 3; ++call)
        QCOMPARE(layouts::applicationIcon().cacheKey(), first);
}

QTEST_MAIN(TestApplicationIcon)
#include "test_applicationicon.moc"
