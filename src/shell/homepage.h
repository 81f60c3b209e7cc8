#pragma once

#include <QUrl>

namespace shell {

class Platform;

QUrl homePageAddress();
QUrl contactPageAddress();

// The draw of the occasional home page: 1 to 100 from r, 0 <= r < 1.
int homePageDraw(float r);

// Seeds the generator from the clock, draws once, and on a draw of 7 opens the
// home page.
void openHomePageOccasionally(Platform &platform);

} // namespace shell
