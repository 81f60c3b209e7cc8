#pragma once

#include <QList>
#include <QString>

// Reading a style sheet the way Qt's style-sheet parser reads it, so that what
// the program checks is what Qt then acts on.
namespace skin::css {

// Qt replaces every backslash followed by hex digits (up to six, a seventh is
// read and left) with that character before it splits the text into tokens;
// it takes no white space after the digits and leaves codes above U+FFFF as
// they are. Other backslashes stay for the tokens to read as escapes.
QString decodeLikeQt(const QString &text);

// Standard CSS: one to six hex digits, then one optional white-space character
// that belongs to the escape; any code point.
QString decodeLikeCss(const QString &text);

// Text that decodeLikeQt turns back into exactly decoded.
QString encodeForQt(const QString &decoded);

// How many hex escapes Qt decodes in text. Qt's decoding takes time in
// proportion to the length of the text for each of them.
qsizetype hexEscapeCount(const QString &text);

// A url(...) call in decoded text. The arguments run from argsStart up to the
// closing parenthesis at argsEnd. named is true when the function's name is
// url in any case; otherwise it merely ends with those letters.
struct UrlCall
{
    qsizetype nameStart = 0;
    qsizetype argsStart = 0;
    qsizetype argsEnd = 0;
    bool named = false;
};

// The outermost complete url calls outside comments and strings, in order.
// Parentheses, braces and brackets are matched as Qt's parser matches them.
QList<UrlCall> urlCalls(const QString &decoded);

// What the arguments of a url call name: one quoted string, unescaped, or the
// bare text with its escapes read.
QString urlReference(const QString &args);

// args as a quoted string that reads back as exactly args.
QString quoted(const QString &text);

} // namespace skin::css
