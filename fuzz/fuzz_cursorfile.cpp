// The pointer loader takes whatever file lies beside the program: it either
// throws errors::Failure or returns a pointer whose hot spot is on its image.
#include "errors/failure.h"
#include "fuzzsupport.h"
#include "shell/cursorfile.h"

#include <QCursor>
#include <QPixmap>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::startGuiApplication(argc, argv, false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<QPoint> spot = shell::cursorHotSpot(bytes);
    if (spot && (size < 22 || data[2] != 2 || spot->x() < 0 || spot->y() < 0))
        fuzz::fail("a hot spot from something that is not a cursor header");

    const QString path = fuzz::writeScratchFile(QStringLiteral("HAND-M.CUR"), data, size);
    try {
        const QCursor cursor = shell::loadCursorFile(path);
        const QPixmap image = cursor.pixmap();
        if (image.isNull())
            fuzz::fail("a pointer without an image");
        if (image.width() > 256 || image.height() > 256)
            fuzz::fail("a pointer image larger than 256 pixels");
        const QPoint hot = cursor.hotSpot();
        if (hot.x() < 0 || hot.y() < 0 || hot.x() >= image.width() || hot.y() >= image.height())
            fuzz::fail("the hot spot lies off the image");
    } catch (const errors::Failure &) {
    }
    return 0;
}
