#pragma once

#include <QByteArray>
#include <QPoint>
#include <QtEndian>

// A one-image Windows cursor file: opaque white square, 32-bit with alpha.
inline QByteArray makeCursorFile(int size, QPoint hotSpot)
{
    QByteArray data;
    auto put16 = [&](quint16 v) {
        data.append(reinterpret_cast<const char *>(&v), 2);
    };
    auto put32 = [&](quint32 v) {
        data.append(reinterpret_cast<const char *>(&v), 4);
    };
    const int maskStride = ((size + 31) / 32) * 4;
    const quint32 imageSize = 40 + size * size * 4 + maskStride * size;
    put16(0);
    put16(2);
    put16(1);
    data.append(char(size));
    data.append(char(size));
    data.append(char(0));
    data.append(char(0));
    put16(quint16(hotSpot.x()));
    put16(quint16(hotSpot.y()));
    put32(imageSize);
    put32(22);
    put32(40);
    put32(quint32(size));
    put32(quint32(size * 2));
    put16(1);
    put16(32);
    for (int i = 0; i < 6; ++i)
        put32(0);
    data.append(QByteArray(size * size * 4, char(0xff)));
    data.append(QByteArray(maskStride * size, char(0)));
    return data;
}
