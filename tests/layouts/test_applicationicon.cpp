// The application icon file, read byte by byte as a Windows icon, and the icon
// the program builds from its resources.
#include "applicationicon.h"

#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QTest>
#include <QtEndian>

namespace {

constexpr int kHeader = 6;
constexpr int kEntry = 16;
constexpr int kBitmapInfoHeader = 40;

quint16 word(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

quint32 dword(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

qint32 sdword(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<qint32>(data.constData() + at);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Rows of a bottom-up bitmap are padded to whole 32-bit words.
int rowBytes(int width, int bits)
{
    return (width * bits + 31) / 32 * 4;
}

} // namespace

class TestApplicationIcon final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void resourceIsTheFile();
    void header();
    void image_data();
    void image();
    void imagesDoNotOverlap();
    void qtReadsEveryImage_data();
    void qtReadsEveryImage();
    void iconOffersEverySize();

private:
    QByteArray m_ico;
};

void TestApplicationIcon::initTestCase()
{
    m_ico = readAll(QStringLiteral(LUMIVEX_ICON_FILE));
    QVERIFY2(m_ico.size() > kHeader + 4 * kEntry, "icon file missing or too short");
}

void TestApplicationIcon::resourceIsTheFile()
{
    QCOMPARE(readAll(layouts::applicationIconPath()), m_ico);
}

void TestApplicationIcon::header()
{
    QCOMPARE(word(m_ico, 0), quint16(0)); // reserved
    QCOMPARE(word(m_ico, 2), quint16(1)); // 1 = icon, 2 = cursor
    QCOMPARE(word(m_ico, 4), quint16(4));
}

void TestApplicationIcon::image_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("bits");
    QTest::newRow("32x32 24-bit") << 0 << 32 << 24;
    QTest::newRow("48x48 32-bit") << 1 << 48 << 32;
    QTest::newRow("128x128 32-bit") << 2 << 128 << 32;
    QTest::newRow("256x256 32-bit") << 3 << 256 << 32;
}

void TestApplicationIcon::image()
{
    QFETCH(int, entry);
    QFETCH(int, size);
    QFETCH(int, bits);

    const qsizetype at = kHeader + entry * kEntry;
    // Width and height are one byte each; 0 stands for 256.
    const int width = quint8(m_ico.at(at)) == 0 ? 256 : quint8(m_ico.at(at));
    const int height = quint8(m_ico.at(at + 1)) == 0 ? 256 : quint8(m_ico.at(at + 1));
    QCOMPARE(width, size);
    QCOMPARE(height, size);
    QCOMPARE(quint8(m_ico.at(at + 2)), quint8(0)); // no palette
    QCOMPARE(quint8(m_ico.at(at + 3)), quint8(0)); // reserved
    QCOMPARE(word(m_ico, at + 4), quint16(1));     // planes
    QCOMPARE(int(word(m_ico, at + 6)), bits);
    const quint32 length = dword(m_ico, at + 8);
    const quint32 offset = dword(m_ico, at + 12);
    QVERIFY(offset >= quint32(kHeader + 4 * kEntry));
    QVERIFY(quint64(offset) + length <= quint64(m_ico.size()));

    // An uncompressed bitmap, not a PNG: a BITMAPINFOHEADER whose height
    // counts the colour rows and the mask rows.
    const QByteArray bitmap = m_ico.mid(offset, length);
    QVERIFY(!bitmap.startsWith("\x89PNG"));
    QCOMPARE(dword(bitmap, 0), quint32(kBitmapInfoHeader));
    QCOMPARE(sdword(bitmap, 4), size);
    QCOMPARE(sdword(bitmap, 8), 2 * size);
    QCOMPARE(word(bitmap, 12), quint16(1));
    QCOMPARE(int(word(bitmap, 14)), bits);
    QCOMPARE(dword(bitmap, 16), quint32(0)); // BI_RGB
    QCOMPARE(dword(bitmap, 32), quint32(0)); // no colour table
    const qsizetype expected = kBitmapInfoHeader + qsizetype(rowBytes(size, bits)) * size
                               + qsizetype(rowBytes(size, 1)) * size;
    QCOMPARE(qsizetype(length), expected);

    if (bits == 32) {
        // The alpha channel is used: the rounded tile leaves its corners clear.
        const uchar *pixels
            = reinterpret_cast<const uchar *>(bitmap.constData()) + kBitmapInfoHeader;
        QCOMPARE(int(pixels[3]), 0); // a corner
        const qsizetype middle = (qsizetype(size / 2) * size + size / 2) * 4;
        QCOMPARE(int(pixels[middle + 3]), 255);
    }
}

void TestApplicationIcon::imagesDoNotOverlap()
{
    QList<QPair<quint32, quint32>> spans;
    for (int entry = 0; entry < 4; ++entry) {
        const qsizetype at = kHeader + entry * kEntry;
        spans.append({dword(m_ico, at + 12), dword(m_ico, at + 8)});
    }
    std::sort(spans.begin(), spans.end());
    for (qsizetype i = 1; i < spans.size(); ++i)
        QVERIFY(spans[i - 1].first + spans[i - 1].second <= spans[i].first);
}

void TestApplicationIcon::qtReadsEveryImage_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("size");
    QTest::newRow("32") << 0 << 32;
    QTest::newRow("48") << 1 << 48;
    QTest::newRow("128") << 2 << 128;
    QTest::newRow("256") << 3 << 256;
}

void TestApplicationIcon::qtReadsEveryImage()
{
    QFETCH(int, entry);
    QFETCH(int, size);

    QImageReader reader(layouts::applicationIconPath());
    QCOMPARE(reader.imageCount(), 4);
    QVERIFY(reader.jumpToImage(entry));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(image.size(), QSize(size, size));
}

void TestApplicationIcon::iconOffersEverySize()
{
    const QIcon icon = layouts::applicationIcon();
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    QCOMPARE(sizes.size(), 4);
    for (int size : {32, 48, 128, 256}) {
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
        const QImage image = icon.pixmap(QSize(size, size)).toImage();
        QCOMPARE(image.size(), QSize(size, size));
        // Every image, the 24-bit one through its mask, has clear corners.
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(size - 1, size - 1)), 0);
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }
}

QTEST_MAIN(TestApplicationIcon)
#include "test_applicationicon.moc"
