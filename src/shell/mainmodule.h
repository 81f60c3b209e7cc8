#pragma once

#include <QString>

namespace shell {

// The product name: the main window's caption and the settings section.
QString productName();

// Cuts text at its last space, again and again while it is longer than 40
// characters, but at least once. Throws errors::Failure when there is no space
// left to cut at.
QString applicationTitleFor(const QString &text);

// Sets the application title, which message boxes without a title of their own
// carry, from the product name.
void setApplicationTitle();

} // namespace shell
