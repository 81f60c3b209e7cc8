#include "shell/homepage.h"

#include "shell/platform.h"

#include <cmath>

namespace shell {

QUrl homePageAddress()
{
    return QUrl(QStringLiteral("https://www.quarnel.com/"));
}

QUrl contactPageAddress()
{
    return QUrl(QStringLiteral("https://www.quarnel.com/contact/"));
}

int homePageDraw(float r)
{
    return static_cast<int>(std::floor(static_cast<double>(r) * 100.0) + 1.0);
}

void openHomePageOccasionally(Platform &platform)
{
    constexpr int kLuckyDraw = 7;
    platform.randomize(static_cast<double>(platform.secondsSinceMidnight()));
    if (homePageDraw(platform.nextRandom()) == kLuckyDraw)
        platform.openUrl(homePageAddress());
}

} // namespace shell
