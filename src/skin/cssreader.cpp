#include "skin/cssreader.h"

#include <algorithm>
#include <vector>

namespace skin::css {

namespace {

bool isHex(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == u'\f';
}

bool isSpace(QChar c)
{
    return c == u' ' || c == u'\t' || isLineBreak(c);
}

// Wider than Qt's own set (which leaves out U+0080 to U+00FF); the callers
// only need every name Qt reads to end where it ends here.
bool isNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9')
           || u == u'-' || u == u'_' || u >= 0x80;
}

// Length of the escape that starts with the backslash at i, or 0 when the
// backslash escapes nothing there: a line break follows it outside a string,
// or the text ends.
qsizetype escapeLength(const QString &text, qsizetype i, bool inString)
{
    const qsizetype n = text.size();
    if (i + 1 >= n)
        return 0;
    const QChar next = text.at(i + 1);
    if (isLineBreak(next)) {
        if (!inString)
            return 0;
        return next == u'\r' && i + 2 < n && text.at(i + 2) == u'\n' ? 3 : 2;
    }
    if (!isHex(next))
        return 2;
    qsizetype end = i + 1;
    while (end < n && end - i <= 6 && isHex(text.at(end)))
        ++end;
    if (end + 1 < n && text.at(end) == u'\r' && text.at(end + 1) == u'\n')
        return end + 2 - i;
    if (end < n && isSpace(text.at(end)))
        ++end;
    return end - i;
}

// Index just past the string whose quote is at i. A string that meets a bare
// line break ends before it, as Qt ends an unclosed one.
qsizetype stringEnd(const QString &text, qsizetype i)
{
    const QChar quote = text.at(i);
    qsizetype at = i + 1;
    while (at < text.size()) {
        const QChar c = text.at(at);
        if (c == quote)
            return at + 1;
        if (isLineBreak(c))
            return at;
        if (c == u'\\') {
            const qsizetype length = escapeLength(text, at, true);
            at += length ? length : 1;
        } else {
            ++at;
        }
    }
    return at;
}

qsizetype commentEnd(const QString &text, qsizetype i)
{
    const qsizetype close = text.indexOf(QLatin1String("*/"), i + 2);
    return close < 0 ? text.size() : close + 2;
}

// Reads one character of a code point into out; invalid code points become
// the replacement character.
void appendCodePoint(QString &out, char32_t code)
{
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    out += QString::fromUcs4(&code, 1);
}

// The open url calls while the text is read. Every bracket moves the global
// counts; a call's own counts are the global ones less those it started
// with, so one bracket costs no more than the calls it closes or ends.
class CallTracker
{
public:
    void open(qsizetype nameStart, qsizetype argsStart, bool named)
    {
        ++m_parens;
        m_open.push_back({{nameStart, argsStart, 0, named}, m_parens, m_braces, m_brackets});
    }

    // The parser takes a closing parenthesis as a call's end once none of its
    // parentheses, braces or brackets is left open; a call whose count goes
    // below zero instead ends without arguments.
    void bracket(QChar c, qsizetype at)
    {
        switch (c.unicode()) {
        case u'(':
            ++m_parens;
            break;
        case u'{':
            ++m_braces;
            break;
        case u'[':
            ++m_brackets;
            break;
        case u')':
            --m_parens;
            closeAt(at);
            break;
        case u'}':
            --m_braces;
            dropWhile([this](const Open &call) { return m_braces < call.braces; });
            break;
        case u']':
            --m_brackets;
            dropWhile([this](const Open &call) { return m_brackets < call.brackets; });
            break;
        default:
            break;
        }
    }

    // Complete calls in order, inner calls of a complete call left out.
    QList<UrlCall> outermost() const
    {
        QList<UrlCall> calls = m_complete;
        std::sort(calls.begin(), calls.end(),
                  [](const UrlCall &a, const UrlCall &b) { return a.argsStart < b.argsStart; });
        QList<UrlCall> result;
        for (const UrlCall &call : std::as_const(calls)) {
            if (result.isEmpty() || call.argsStart > result.last().argsEnd)
                result.append(call);
        }
        return result;
    }

private:
    struct Open
    {
        UrlCall call;
        int parens;
        int braces;
        int brackets;
    };

    // Calls opened later started from higher counts, so the ones a closing
    // bracket affects are always at the top.
    void closeAt(qsizetype at)
    {
        while (!m_open.empty()) {
            const Open &top = m_open.back();
            const int parens = 1 + m_parens - top.parens;
            if (parens > 0)
                return;
            if (m_braces == top.braces && m_brackets == top.brackets) {
                UrlCall call = top.call;
                call.argsEnd = at;
                m_complete.append(call);
            } else if (parens == 0) {
                return;
            }
            m_open.pop_back();
        }
    }

    template<typename Predicate> void dropWhile(Predicate ended)
    {
        while (!m_open.empty() && ended(m_open.back()))
            m_open.pop_back();
    }

    std::vector<Open> m_open;
    QList<UrlCall> m_complete;
    int m_parens = 0;
    int m_braces = 0;
    int m_brackets = 0;
};

// Index past the name that starts at i; name receives it with its escapes read.
qsizetype readName(const QString &text, qsizetype i, QString &name)
{
    qsizetype at = i;
    while (at < text.size()) {
        const QChar c = text.at(at);
        if (isNameChar(c)) {
            name += c;
            ++at;
            continue;
        }
        const qsizetype length = c == u'\\' ? escapeLength(text, at, false) : 0;
        if (length == 0)
            break;
        name += QStringView(text).mid(at + 1, length - 1);
        at += length;
    }
    return at;
}

QString unescaped(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'\\' && i + 1 < text.size())
            ++i;
        out += text.at(i);
    }
    return out;
}

} // namespace

QString decodeLikeQt(const QString &text)
{
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (text.at(i) != u'\\') {
            out += text.at(i++);
            continue;
        }
        qsizetype digits = 0;
        while (i + 1 + digits < n && digits < 7 && isHex(text.at(i + 1 + digits)))
            ++digits;
        digits = qMin<qsizetype>(digits, 6);
        bool ok = false;
        const uint code = digits ? text.mid(i + 1, digits).toUInt(&ok, 16) : 0;
        if (ok && code <= 0xFFFF) {
            out += QChar(char16_t(code));
            i += 1 + digits;
        } else {
            // The backslash stays; what follows is read on its own, so a
            // second backslash right after it starts an escape of its own.
            out += text.at(i++);
        }
    }
    return out;
}

QString decodeLikeCss(const QString &text)
{
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        if (text.at(i) != u'\\' || i + 1 >= n) {
            out += text.at(i++);
            continue;
        }
        if (!isHex(text.at(i + 1))) {
            out += text.at(i + 1);
            i += 2;
            continue;
        }
        qsizetype end = i + 1;
        while (end < n && end - i <= 6 && isHex(text.at(end)))
            ++end;
        appendCodePoint(out, text.mid(i + 1, end - i - 1).toUInt(nullptr, 16));
        if (end + 1 < n && text.at(end) == u'\r' && text.at(end + 1) == u'\n')
            end += 2;
        else if (end < n && isSpace(text.at(end)))
            ++end;
        i = end;
    }
    return out;
}

QString encodeForQt(const QString &decoded)
{
    QString out;
    out.reserve(decoded.size());
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const QChar c = decoded.at(i);
        // Six digits: a hex digit after them is then left alone.
        if (c == u'\\' && i + 1 < decoded.size() && isHex(decoded.at(i + 1)))
            out += QLatin1String("\\00005C");
        else
            out += c;
    }
    return out;
}

qsizetype hexEscapeCount(const QString &text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) == u'\\' && isHex(text.at(i + 1)))
            ++count;
    }
    return count;
}

QList<UrlCall> urlCalls(const QString &decoded)
{
    CallTracker tracker;
    qsizetype i = 0;
    const qsizetype n = decoded.size();
    while (i < n) {
        const QChar c = decoded.at(i);
        if (c == u'/' && i + 1 < n && decoded.at(i + 1) == u'*') {
            i = commentEnd(decoded, i);
        } else if (c == u'"' || c == u'\'') {
            i = stringEnd(decoded, i);
        } else if (isNameChar(c) || (c == u'\\' && escapeLength(decoded, i, false) > 0)) {
            QString name;
            const qsizetype end = readName(decoded, i, name);
            if (end < n && decoded.at(end) == u'('
                && name.endsWith(QLatin1String("url"), Qt::CaseInsensitive)) {
                tracker.open(i, end + 1,
                             name.compare(QLatin1String("url"), Qt::CaseInsensitive) == 0);
                i = end + 1;
            } else {
                i = end;
            }
        } else {
            tracker.bracket(c, i);
            ++i;
        }
    }
    return tracker.outermost();
}

QString urlReference(const QString &args)
{
    const QString text = args.trimmed();
    if (!text.isEmpty() && (text.front() == u'"' || text.front() == u'\'')
        && stringEnd(text, 0) == text.size() && text.size() >= 2 && text.back() == text.front())
        return unescaped(QStringView(text).mid(1, text.size() - 2));
    return unescaped(text);
}

QString quoted(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"' || isLineBreak(c))
            out += u'\\';
        out += c;
    }
    return out + u'"';
}

} // namespace skin::css
