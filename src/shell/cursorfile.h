#pragma once

#include <QByteArray>
#include <QCursor>
#include <QPoint>
#include <QString>

#include <optional>

namespace shell {

// The hot spot of the first image of a Windows cursor file, or nothing when
// header is not that of a cursor file.
std::optional<QPoint> cursorHotSpot(const QByteArray &header);

// Loads a pointer image from any picture file the image loaders take; cursor
// files keep their hot spot. Throws errors::Failure when the file does not load
// or is not a regular file (or a link to one).
QCursor loadCursorFile(const QString &path);

} // namespace shell
