#include "skin/backcolor.h"

#include "layouts/colorvalue.h"

#include <QGuiApplication>
#include <QPalette>
#include <QWidget>

namespace skin {

void setBackColor(QWidget &control, qint32 value)
{
    const QColor colour = layouts::toQColor(value, QGuiApplication::palette());
    QPalette palette = control.palette();
    palette.setColor(QPalette::Window, colour);
    control.setPalette(palette);
    control.setAutoFillBackground(true);
}

} // namespace skin
