#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QIODevice>
#include <QPoint>
#include <QString>

// A one-image Windows cursor file: opaque white square, 32-bit with alpha.
inline QByteArray makeCursorFile(int size, QPoint hotSpot)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const int maskStride = ((size + 31) / 32) * 4;
    const quint32 imageSize = 40 + size * size * 4 + maskStride * size;
    out << quint16(0) << quint16(2) << quint16(1) << quint8(size) << quint8(size) << quint16(0)
        << quint16(hotSpot.x()) << quint16(hotSpot.y()) << imageSize << quint32(22) << quint32(40)
        << quint32(size) << quint32(size * 2) << quint16(1) << quint16(32);
    for (int i = 0; i < 6; ++i)
        out << quint32(0);
    return data + QByteArray(size * size * 4, char(0xff)) + QByteArray(maskStride * size, 0);
}

// The hand pointer file, 32 pixels with its hot spot at (5, 7), in a program folder.
inline bool writeHandCursor(const QString &folder)
{
    QFile file(folder + QStringLiteral("/HAND-M.CUR"));
    return file.open(QIODevice::WriteOnly) && file.write(makeCursorFile(32, QPoint(5, 7))) > 0;
}
