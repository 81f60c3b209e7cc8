#include "shell/cursorfile.h"

#include "errors/failure.h"
#include "files/regularfile.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

namespace shell {

namespace {

constexpr int kHeaderSize = 6 + 16;
// Pointer images larger than this are scaled down; the loader refuses anything
// that would need more than kAllocationLimitMb to decode.
constexpr int kMaxPointerSize = 256;
constexpr int kAllocationLimitMb = 64;

quint16 word(const QByteArray &data, int offset)
{
    return qFromLittleEndian<quint16>(data.constData() + offset);
}

} // namespace

std::optional<QPoint> cursorHotSpot(const QByteArray &header)
{
    if (header.size() < kHeaderSize || word(header, 0) != 0 || word(header, 2) != 2
        || word(header, 4) == 0)
        return std::nullopt;
    return QPoint(word(header, 6 + 4), word(header, 6 + 6));
}

QCursor loadCursorFile(const QString &path)
{
    switch (files::checkFile(path).kind) {
    case files::FileCheck::Kind::Missing:
    case files::FileCheck::Kind::Irregular:
        throw errors::Failure(errors::Description::fileNotFound()
                              + QStringLiteral(": not a regular file"));
    case files::FileCheck::Kind::Empty:
        throw errors::Failure(QStringLiteral("Invalid picture: the file is empty"));
    case files::FileCheck::Kind::Readable:
        break;
    }
    QFile file;
    QString why;
    if (!files::openReadable(file, path, why))
        throw errors::Failure(errors::Description::fileNotFound() + QStringLiteral(": ") + why);
    const std::optional<QPoint> hotSpot = cursorHotSpot(file.peek(kHeaderSize));

    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(kAllocationLimitMb);
    QImage image = reader.read();
    if (image.isNull())
        throw errors::Failure(QStringLiteral("Invalid picture: %1").arg(reader.errorString()));

    QPoint spot = hotSpot.value_or(QPoint(0, 0));
    if (image.width() > kMaxPointerSize || image.height() > kMaxPointerSize) {
        const QSize original = image.size();
        image = image.scaled(kMaxPointerSize, kMaxPointerSize, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
        spot = QPoint(spot.x() * image.width() / original.width(),
                      spot.y() * image.height() / original.height());
    }
    spot.setX(qBound(0, spot.x(), image.width() - 1));
    spot.setY(qBound(0, spot.y(), image.height() - 1));
    return QCursor(QPixmap::fromImage(image), spot.x(), spot.y());
}

} // namespace shell
