#include "settings/inigrammar.h"

#include <array>

namespace settings::ini::grammar {

namespace {

// The reader's classes of bytes, looked up as QSettings does.
enum : uchar { Space = 1, Special = 2 };

constexpr std::array<uchar, 256> byteClasses()
{
    std::array<uchar, 256> classes{};
    classes['\t'] = Space;
    classes[' '] = Space;
    classes['\n'] = Space | Special;
    classes['\r'] = Space | Special;
    for (const uchar c : {'"', ';', '=', '\\'})
        classes[c] = Special;
    return classes;
}

constexpr std::array<uchar, 256> kByteClasses = byteClasses();

bool isSpace(char c)
{
    return kByteClasses[uchar(c)] & Space;
}

char upperHex(uint digit)
{
    return "0123456789ABCDEF"[digit & 0xF];
}

} // namespace

LineReader::LineReader(QByteArrayView text)
    : m_text(text)
    , m_position(text.startsWith("\xEF\xBB\xBF") ? 3 : 0)
{}

bool LineReader::skipComment(qsizetype &at, qsizetype &start) const
{
    if (at != start + 1)
        return false;
    while (at < m_text.size() && !isLineBreak(m_text[at]))
        ++at;
    while (at < m_text.size() && isSpace(m_text[at]))
        ++at;
    start = at;
    return true;
}

// A backslash takes the byte after it, and a line break as a pair ("\r\n", "\n\r").
void LineReader::escape(qsizetype &at, Line &line) const
{
    if (at == m_text.size()) {
        line.openEscape = true;
        return;
    }
    const char escaped = m_text[at++];
    if (at < m_text.size()) {
        const char next = m_text[at];
        if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n'))
            ++at;
    } else if (isLineBreak(escaped)) {
        line.openEscape = true; // a break added after it could pair with it
    }
}

bool LineReader::next(Line &line)
{
    const qsizetype size = m_text.size();
    line = Line();
    line.skipped = m_position;
    qsizetype start = m_position;
    while (start < size && isSpace(m_text[start]))
        ++start;
    bool inQuotes = false;
    qsizetype at = start;
    const char *const bytes = m_text.data();
    while (at < size) {
        // Most bytes are none of the reader's concern.
        while (at < size && !(kByteClasses[uchar(bytes[at])] & Special))
            ++at;
        if (at == size)
            break;
        const char c = bytes[at++];
        if (c == '=') {
            if (!inQuotes && line.equals == -1)
                line.equals = at - 1;
        } else if (isLineBreak(c)) {
            if (at == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --at;
                break;
            }
        } else if (c == '\\') {
            escape(at, line);
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!skipComment(at, start) && !inQuotes) { // ';'
            --at;
            break;
        }
    }
    m_position = at;
    line.start = start;
    line.end = at;
    line.inQuotes = inQuotes && at == size;
    line.openEscape = line.openEscape && at == size;
    return line.end > line.start;
}

QString unescapedName(QByteArrayView name, bool *lowercase)
{
    const QString decoded = QString::fromUtf8(name);
    const qsizetype size = decoded.size();
    QString result;
    result.reserve(size);
    bool lowercaseOnly = true;
    const auto append = [&](QChar c) {
        lowercaseOnly = lowercaseOnly && !c.isUpper();
        result += c;
    };
    qsizetype i = 0;
    while (i < size) {
        const QChar c = decoded.at(i);
        if (c == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (c != u'%' || i == size - 1) {
            append(c);
            ++i;
            continue;
        }
        const bool wide = decoded.at(i + 1) == u'U';
        const qsizetype first = wide ? i + 2 : i + 1;
        const qsizetype digits = wide ? 4 : 2;
        bool ok = false;
        const ushort unit = first + digits > size
                                ? 0
                                : QStringView(decoded).sliced(first, digits).toUShort(&ok, 16);
        if (!ok) {
            result += u'%';
            ++i;
            continue;
        }
        append(QChar(unit));
        i = first + digits;
    }
    if (lowercase)
        *lowercase = lowercaseOnly;
    return result;
}

QByteArray escapedName(const QString &name)
{
    QByteArray result;
    result.reserve(name.size() * 3 / 2);
    for (const QChar c : name) {
        const char16_t unit = c.unicode();
        if (unit == '/') {
            result += '\\';
        } else if ((unit >= 'a' && unit <= 'z') || (unit >= 'A' && unit <= 'Z')
                   || (unit >= '0' && unit <= '9') || unit == '_' || unit == '-' || unit == '.') {
            result += char(unit);
        } else if (unit <= 0xFF) {
            result += '%';
            result += upperHex(unit >> 4);
            result += upperHex(unit);
        } else {
            result += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                result += upperHex(unit >> shift);
        }
    }
    return result;
}

QByteArrayView headerName(QByteArrayView line)
{
    const qsizetype close = line.indexOf(']');
    return line.first(close < 0 ? line.size() : close).sliced(1).trimmed();
}

QString sectionOfHeader(QByteArrayView line)
{
    const QByteArrayView name = headerName(line);
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return {};
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(name.sliced(1)) + u'/';
    return unescapedName(name) + u'/';
}

} // namespace settings::ini::grammar
