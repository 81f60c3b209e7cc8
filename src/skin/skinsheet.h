#pragma once

#include <QString>
#include <QtGlobal>

namespace skin {

// A skin file is a Qt style sheet in UTF-8. These turn one into a style sheet
// ready to set on a window, or throw errors::Failure saying what is wrong.

constexpr qint64 MaxSkinBytes = 1024 * 1024;
// Each hex escape costs Qt a pass over the whole sheet.
constexpr qsizetype MaxHexEscapes = 4096;

// Reads and checks the file: a regular file of at most MaxSkinBytes, valid
// UTF-8 without NUL characters, not blank, with no "qproperty-" in it however escaped.
QString readSkinSheet(const QString &path);

// The sheet as Qt is to read it: every url() reference quoted, relative ones
// made absolute within folder, and those naming anything but a regular file
// turned into resource paths, so that Qt never opens them.
QString resolveUrls(const QString &sheet, const QString &folder);

// Qt's first parse warning for the sheet; empty when it parses.
QString parseWarning(const QString &sheet);

// All of the above: the style sheet of the skin file at path.
QString loadSkinSheet(const QString &path);

} // namespace skin
