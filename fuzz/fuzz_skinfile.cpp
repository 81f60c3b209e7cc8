// The skin file beside the program, applied to a window with the real skin
// component: it either throws errors::Failure or returns.
#include "applyskin.h"
#include "failure.h"
#include "fuzzsupport.h"
#include "skinframework.h"

#include <QWidget>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::startGuiApplication(argc, argv, true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::writeScratchFile(QStringLiteral("x/o.cjs"), data, size);
    QWidget form;
    skin::SkinFramework component;
    try {
        Globals::ApplySkin(form, component, fuzz::scratchFolder());
    } catch (const errors::Failure &) {
    }
    return 0;
}
