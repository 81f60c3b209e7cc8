#include "initext.h"

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

// Section and key names are stored percent-encoded ("Lumivex%20Software").
QString decodedName(const QByteArray &raw)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(raw.trimmed()));
}

QByteArray encodedName(const QString &name)
{
    return name.toUtf8().toPercentEncoding("", "");
}

// Where a key's value stands, and where its section ends.
struct Place
{
    std::optional<qsizetype> sectionEnd; // the line after the section's last entry
    std::optional<Line> assignment;
    qsizetype valueBegin = 0;
};

Place locate(const QByteArray &text, const QString &section, const QString &key)
{
    Place place;
    bool inSection = false;
    for (qsizetype at = 0; at < text.size();) {
        const Line line = lineAt(text, at);
        at = line.next;
        const qsizetype first = skipBlanks(text, line.begin, line.end);
        if (first == line.end || text[first] == ';' || text[first] == '#')
            continue;
        if (text[first] == '[') {
            const qsizetype close = text.lastIndexOf(']', line.end - 1);
            const qsizetype nameEnd = close > first ? close : line.end;
            inSection = decodedName(text.mid(first + 1, nameEnd - first - 1)) == section;
            if (inSection)
                place.sectionEnd = line.next;
            continue;
        }
        if (!inSection)
            continue;
        place.sectionEnd = line.next;
        const qsizetype equals = text.indexOf('=', first);
        if (equals < 0 || equals >= line.end)
            continue;
        if (decodedName(text.mid(first, equals - first)) != key)
            continue;
        place.assignment = line;
        place.valueBegin = skipBlanks(text, equals + 1, line.end);
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

bool isBinary(const QByteArray &text)
{
    return text.contains('\0');
}

std::optional<QString> value(const QByteArray &text, const QString &section, const QString &key)
{
    const Place place = locate(text, section, key);
    if (!place.assignment)
        return std::nullopt;
    qsizetype begin = place.valueBegin;
    qsizetype end = trimBlanks(text, begin, place.assignment->end);
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
    if (place.assignment) {
        QByteArray edited = text;
        return edited.replace(place.valueBegin, place.assignment->end - place.valueBegin, stored);
    }
    const QByteArray lineBreak = lineBreakOf(text);
    QByteArray added = encodedName(key) + '=' + stored + lineBreak;
    qsizetype at = text.size();
    if (place.sectionEnd) {
        at = *place.sectionEnd;
    } else {
        added.prepend('[' + encodedName(section) + ']' + lineBreak);
        if (!text.isEmpty())
            added.prepend(lineBreak);
    }
    // The line before the addition may be the last one, without a break.
    if (at > 0 && text[at - 1] != '\n')
        added.prepend(lineBreak);
    QByteArray edited = text;
    return edited.insert(at, added);
}

} // namespace settings::ini
