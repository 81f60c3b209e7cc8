#include "initext.h"

#include <QByteArrayView>

namespace settings::ini {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// One line of the text: [begin, end) without its line break, [end, next) the break.
struct Line
{
    qsizetype begin = 0;
    qsizetype end = 0;
    qsizetype next = 0;
};

Line lineAt(const QByteArray &text, qsizetype begin)
{
    qsizetype next = text.indexOf('\n', begin);
    next = next < 0 ? text.size() : next + 1;
    qsizetype end = next;
    if (end > begin && text[end - 1] == '\n')
        --end;
    if (end > begin && text[end - 1] == '\r')
        --end;
    return {begin, end, next};
}

qsizetype skipBlanks(const QByteArray &text, qsizetype from, qsizetype to)
{
    while (from < to && isBlank(text[from]))
        ++from;
    return from;
}

qsizetype trimBlanks(const QByteArray &text, qsizetype from, qsizetype to)
{
    while (to > from && isBlank(text[to - 1]))
        --to;
    return to;
}

// Searches stay inside the line, so that the whole text is read once.
qsizetype indexInLine(const QByteArray &text, char c, qsizetype from, qsizetype to)
{
    const qsizetype at = QByteArrayView(text).sliced(from, to - from).indexOf(c);
    return at < 0 ? -1 : from + at;
}

qsizetype lastIndexInLine(const QByteArray &text, char c, qsizetype from, qsizetype to)
{
    const qsizetype at = QByteArrayView(text).sliced(from, to - from).lastIndexOf(c);
    return at < 0 ? -1 : from + at;
}

// The end of the value that starts at begin: a quoted value ends with its
// closing quote (when only blanks or a comment follow), any other at a
// comment (";") or the end of the line; blanks before either are not part of it.
qsizetype valueEnd(const QByteArray &text, qsizetype begin, qsizetype lineEnd)
{
    if (begin < lineEnd && text[begin] == '"') {
        const qsizetype close = indexInLine(text, '"', begin + 1, lineEnd);
        const qsizetype after = close < 0 ? lineEnd : skipBlanks(text, close + 1, lineEnd);
        if (close >= 0 && (after == lineEnd || text[after] == ';'))
            return close + 1;
    }
    const qsizetype comment = indexInLine(text, ';', begin, lineEnd);
    return trimBlanks(text, begin, comment < 0 ? lineEnd : comment);
}

// Section and key names are stored percent-encoded ("Lumivex%20Software"),
// some by hand without it. Most lines are ruled out by their length alone.
bool isName(const QByteArray &text, qsizetype from, qsizetype to, const QString &name)
{
    from = skipBlanks(text, from, to);
    to = trimBlanks(text, from, to);
    // Each UTF-16 unit takes one to three bytes, each byte one to three characters.
    const qsizetype units = name.size();
    if (to - from < units || to - from > 9 * units)
        return false;
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.mid(from, to - from))) == name;
}

QByteArray encodedName(const QString &name)
{
    return name.toUtf8().toPercentEncoding("", "");
}

// Where a key's value stands, and where new keys of its section go.
struct Place
{
    std::optional<qsizetype> newKeyAt; // after the section's last entry
    std::optional<Line> assignment;
    qsizetype valueBegin = 0;
    qsizetype valueEnd = 0;
};

Place locate(const QByteArray &text, const QString &section, const QString &key)
{
    Place place;
    bool inSection = false;
    // A byte-order mark before the first line is no part of it.
    qsizetype at = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at < text.size()) {
        const Line line = lineAt(text, at);
        at = line.next;
        const qsizetype first = skipBlanks(text, line.begin, line.end);
        if (first == line.end || text[first] == ';' || text[first] == '#')
            continue;
        if (text[first] == '[') {
            const qsizetype close = lastIndexInLine(text, ']', first, line.end);
            const qsizetype nameEnd = close > first ? close : line.end;
            inSection = isName(text, first + 1, nameEnd, section);
            if (inSection)
                place.newKeyAt = line.next;
            continue;
        }
        if (!inSection)
            continue;
        // A line that ends in a backslash goes on in the next one for some
        // readers: a key added there would become part of its value.
        if (text[line.end - 1] != '\\')
            place.newKeyAt = line.next;
        const qsizetype equals = indexInLine(text, '=', first, line.end);
        if (equals < 0 || !isName(text, first, equals, key))
            continue;
        place.assignment = line;
        place.valueBegin = skipBlanks(text, equals + 1, line.end);
        place.valueEnd = valueEnd(text, place.valueBegin, line.end);
    }
    return place;
}

QByteArray lineBreakOf(const QByteArray &text)
{
    const qsizetype newline = text.indexOf('\n');
    return newline > 0 && text[newline - 1] == '\r' ? QByteArrayLiteral("\r\n")
                                                    : QByteArrayLiteral("\n");
}

} // namespace

std::optional<QString> value(const QByteArray &text, const QString &section, const QString &key)
{
    const Place place = locate(text, section, key);
    if (!place.assignment)
        return std::nullopt;
    qsizetype begin = place.valueBegin;
    qsizetype end = place.valueEnd;
    if (end - begin >= 2 && text[begin] == '"' && text[end - 1] == '"') {
        ++begin;
        --end;
    }
    return QString::fromUtf8(text.mid(begin, end - begin));
}

QByteArray withValue(const QByteArray &text, const QString &section, const QString &key,
                     const QString &value)
{
    const Place place = locate(text, section, key);
    const QByteArray stored = value.toUtf8();
    QByteArray edited = text;
    if (place.assignment)
        return edited.replace(place.valueBegin, place.valueEnd - place.valueBegin, stored);
    const QByteArray lineBreak = lineBreakOf(text);
    QByteArray added = encodedName(key) + '=' + stored + lineBreak;
    qsizetype at = text.size();
    if (place.newKeyAt) {
        at = *place.newKeyAt;
    } else {
        added.prepend('[' + encodedName(section) + ']' + lineBreak);
        if (!text.isEmpty())
            added.prepend(lineBreak);
    }
    // The line before the addition may be the last one, without a break.
    if (at > 0 && text[at - 1] != '\n')
        added.prepend(lineBreak);
    return edited.insert(at, added);
}

} // namespace settings::ini
