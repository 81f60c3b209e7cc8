#include "applicationicon.h"

#include <QString>

static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace layouts {

QString applicationIconPath()
{
    initResources();
    return QStringLiteral(":/lumivex/lumivex.ico");
}

QIcon applicationIcon()
{
    return QIcon(applicationIconPath());
}

} // namespace layouts
