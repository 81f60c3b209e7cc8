#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

#include <optional>

class QWidget;

namespace shell {

// Where a window whose frame lies at frame goes so that it is on a screen
// again: nowhere while any part of it is on one of screens; otherwise into the
// free area (freeAreas, in the order of screens) of the nearest screen, moved
// as little as it takes, keeping its size.
std::optional<QPoint> placeBackOnScreen(const QRect &frame, const QList<QRect> &screens,
                                        const QList<QRect> &freeAreas);

// Keeps the shown window on a screen as monitors go away or change: a window
// manager may leave it where no monitor is any more.
void keepOnScreen(QWidget &window);

} // namespace shell
