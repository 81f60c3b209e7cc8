#include "settings/inivalue.h"

#include "settings/inigrammar.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <optional>
#include <utility>

namespace settings::ini::grammar {

namespace {

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
