#pragma once

#include <QString>
#include <QtGlobal>

namespace skin {

// A skin file is a Qt style sheet in UTF-8. These turn one into a style sheet
// ready to set on a window, or throw errors::Failure saying what is wrong.

constexpr qint64 MaxSkinBytes = 1024 * 1024;

// Reads and checks the file: a regular file of at most MaxSkinBytes, valid
// UTF-8 without NUL characters, not blank, with no "qproperty-" in it.
QString readSkinSheet(const QString &path);

// Rewrites relative url() references as absolute paths within folder.
QString resolveUrls(const QString &sheet, const QString &folder);

// Qt's first parse warning for the sheet; empty when it parses.
QString parseWarning(const QString &sheet);

// All of the above: the style sheet of the skin file at path.
QString loadSkinSheet(const QString &path);

} // namespace skin
