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
    void fileHoldsFourIcons();
    void image_data();
    void image();

private:
    QByteArray m_ico = readAll(QStringLiteral(LUMIVEX_ICON_FILE));
};

void TestApplicationIcon::fileHoldsFourIcons()
{
    QVERIFY2(m_ico.size() > kHeader + 4 * kEntry, "icon file missing or too short");
    QCOMPARE(readAll(layouts::applicationIconPath()), m_ico);
    QCOMPARE(read<quint16>(m_ico, 2), quint16(1)); // 1 = icon, 2 = cursor
    QCOMPARE(read<quint16>(m_ico, 4), quint16(4));
    QCOMPARE(layouts::applicationIcon().availableSizes().size(), 4);
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
    QVERIFY(m_ico.size() > kHeader + 4 * kEntry);

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

    QImageReader reader(layouts::applicationIconPath());
    QVERIFY(reader.jumpToImage(entry));
    const QImage decoded = reader.read();
    QVERIFY2(!decoded.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(decoded.size(), QSize(size, size));

    // Every image, the 24-bit one through its mask, has clear corners.
    const QIcon icon = layouts::applicationIcon();
    QVERIFY(icon.availableSizes().contains(QSize(size, size)));
    const QImage image = icon.pixmap(QSize(size, size)).toImage();
    QCOMPARE(image.size(), QSize(size, size));
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size - 1, size - 1)), 0);
    QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
}

QTEST_MAIN(TestApplicationIcon)
#include "test_applicationicon.moc"
