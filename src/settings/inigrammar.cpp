#include "settings/inigrammar.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <optional>
#include <utility>

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

bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

int hexDigit(char16_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
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

namespace {

// The value reader of QSettings, a small state machine over the bytes.
class ValueReader final
{
public:
    explicit ValueReader(QByteArrayView value)
        : m_value(value)
    {}

    Unescaped read();

private:
    enum class State { SkipBlanks, Normal, Hex, Octal, Chop, End };

    State skipBlanks();
    State normal();
    std::optional<State> escape();
    std::optional<State> quote();
    State comma();
    void plain();
    State number(int base);
    void chopTrailingBlanks();

    QByteArrayView m_value;
    qsizetype m_at = 0;
    QString m_text;
    bool m_list = false;
    bool m_inQuotes = false;
    bool m_quoted = false;
    char16_t m_escaped = 0;
    qsizetype m_chopLimit = 0;
    QStringDecoder m_fromUtf8{QStringDecoder::Utf8};
};

Unescaped ValueReader::read()
{
    State state = State::SkipBlanks;
    while (state != State::End) {
        switch (state) {
        case State::SkipBlanks:
            state = skipBlanks();
            break;
        case State::Normal:
            state = normal();
            break;
        case State::Hex:
            state = number(16);
            break;
        case State::Octal:
            state = number(8);
            break;
        case State::Chop:
            if (!m_quoted)
                chopTrailingBlanks();
            state = State::End;
            break;
        case State::End:
            break;
        }
    }
    return {m_text, m_list};
}

ValueReader::State ValueReader::skipBlanks()
{
    while (m_at < m_value.size() && (m_value[m_at] == ' ' || m_value[m_at] == '\t'))
        ++m_at;
    return State::Normal;
}

ValueReader::State ValueReader::normal()
{
    m_chopLimit = m_text.size();
    while (m_at < m_value.size()) {
        switch (m_value[m_at]) {
        case '\\':
            if (const auto next = escape())
                return *next;
            break;
        case '"':
            if (const auto next = quote())
                return *next;
            break;
        case ',':
            if (!m_inQuotes)
                return comma();
            plain();
            break;
        default:
            plain();
        }
    }
    return State::Chop;
}

// The state to go on in, none to stay in this one.
std::optional<ValueReader::State> ValueReader::escape()
{
    static constexpr std::array<std::pair<char, char>, 11> codes{{{'a', '\a'},
                                                                  {'b', '\b'},
                                                                  {'f', '\f'},
                                                                  {'n', '\n'},
                                                                  {'r', '\r'},
                                                                  {'t', '\t'},
                                                                  {'v', '\v'},
                                                                  {'"', '"'},
                                                                  {'?', '?'},
                                                                  {'\'', '\''},
                                                                  {'\\', '\\'}}};
    if (++m_at >= m_value.size())
        return State::End;
    const char c = m_value[m_at++];
    for (const auto &[code, character] : codes) {
        if (c == code) {
            m_text += QLatin1Char(character);
            return State::Normal;
        }
    }
    if (c == 'x') {
        m_escaped = 0;
        if (m_at >= m_value.size())
            return State::End;
        if (hexDigit(char16_t(uchar(m_value[m_at]))) >= 0)
            return State::Hex;
    } else if (c >= '0' && c <= '7') {
        m_escaped = char16_t(c - '0');
        return State::Octal;
    } else if (isLineBreak(c) && m_at < m_value.size()) {
        const char next = m_value[m_at];
        if (isLineBreak(next) && next != c)
            ++m_at;
    }
    m_chopLimit = m_text.size();
    return std::nullopt;
}

std::optional<ValueReader::State> ValueReader::quote()
{
    ++m_at;
    m_quoted = true;
    m_inQuotes = !m_inQuotes;
    if (m_inQuotes)
        return std::nullopt;
    return State::SkipBlanks;
}

ValueReader::State ValueReader::comma()
{
    if (!m_quoted)
        chopTrailingBlanks();
    m_list = true;
    m_text.clear();
    m_quoted = false;
    ++m_at;
    return State::SkipBlanks;
}

void ValueReader::plain()
{
    qsizetype end = m_at + 1;
    while (end < m_value.size()) {
        const char c = m_value[end];
        if (c == '\\' || c == '"' || c == ',')
            break;
        ++end;
    }
    m_text += m_fromUtf8(m_value.sliced(m_at, end - m_at));
    m_at = end;
}

// The digits of "\x..." or "\0...", as many as follow.
ValueReader::State ValueReader::number(int base)
{
    while (m_at < m_value.size()) {
        const int digit = hexDigit(char16_t(uchar(m_value[m_at])));
        if (digit < 0 || digit >= base) {
            m_text += QChar(m_escaped);
            return State::Normal;
        }
        m_escaped = char16_t(m_escaped * base + digit);
        ++m_at;
    }
    m_text += QChar(m_escaped);
    return State::End;
}

void ValueReader::chopTrailingBlanks()
{
    qsizetype end = m_text.size();
    while (end > m_chopLimit && (m_text[end - 1] == u' ' || m_text[end - 1] == u'\t'))
        --end;
    m_text.truncate(end);
}

// "@Rect(1 2 3 4)": the number of arguments between the parentheses.
qsizetype argumentCount(const QString &value, qsizetype open)
{
    return value.sliced(open + 1).count(u' ') + value.sliced(open + 1).count(u')');
}

} // namespace

Unescaped unescapedValue(QByteArrayView value)
{
    return ValueReader(value).read();
}

bool isString(const QString &value, QString *string)
{
    *string = value;
    if (!value.startsWith(u'@'))
        return true;
    if (value.endsWith(u')')) {
        if (value.startsWith(QLatin1String("@ByteArray(")))
            return false;
        if (value.startsWith(QLatin1String("@String("))) {
            *string = value.sliced(8).chopped(1);
            return true;
        }
        if (value.startsWith(QLatin1String("@Variant("))
            || value.startsWith(QLatin1String("@DateTime(")))
            return false;
        if (value.startsWith(QLatin1String("@Rect(")) && argumentCount(value, 5) == 4)
            return false;
        if (value.startsWith(QLatin1String("@Size(")) && argumentCount(value, 5) == 2)
            return false;
        if (value.startsWith(QLatin1String("@Point(")) && argumentCount(value, 6) == 2)
            return false;
        if (value == QLatin1String("@Invalid()"))
            return false;
    }
    if (value.startsWith(QLatin1String("@@")))
        *string = value.sliced(1);
    return true;
}

namespace {

// One character of a string value; true when a hex digit after it would join its escape.
bool appendEscaped(QByteArray &result, QChar c, QStringEncoder &toUtf8)
{
    const char16_t unit = c.unicode();
    switch (unit) {
    case '\0':
        result += "\\0";
        return true;
    case '\a':
        result += "\\a";
        return false;
    case '\b':
        result += "\\b";
        return false;
    case '\f':
        result += "\\f";
        return false;
    case '\n':
        result += "\\n";
        return false;
    case '\r':
        result += "\\r";
        return false;
    case '\t':
        result += "\\t";
        return false;
    case '\v':
        result += "\\v";
        return false;
    case '"':
    case '\\':
        result += '\\';
        result += char(unit);
        return false;
    default:
        if (unit <= 0x1F) {
            result += "\\x" + QByteArray::number(unit, 16);
            return true;
        }
        result += toUtf8(c);
        return false;
    }
}

} // namespace

QByteArray escapedString(const QString &string)
{
    QString value = string;
    if (value.contains(QChar::Null))
        value = QLatin1String("@String(") + value + u')';
    else if (value.startsWith(u'@'))
        value.prepend(u'@');

    QStringEncoder toUtf8(QStringEncoder::Utf8);
    QByteArray result;
    bool needsQuotes = false;
    bool escapeNextIfDigit = false;
    for (const QChar c : std::as_const(value)) {
        const char16_t unit = c.unicode();
        needsQuotes = needsQuotes || unit == ';' || unit == ',' || unit == '=';
        if (escapeNextIfDigit && hexDigit(unit) >= 0) {
            result += "\\x" + QByteArray::number(unit, 16);
            continue;
        }
        escapeNextIfDigit = appendEscaped(result, c, toUtf8);
    }
    if (needsQuotes || result.startsWith(' ') || result.endsWith(' '))
        result = '"' + result + '"';
    return result;
}

} // namespace settings::ini::grammar
