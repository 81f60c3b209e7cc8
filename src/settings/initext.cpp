#include "settings/initext.h"

#include "settings/inigrammar.h"
#include "settings/inivalue.h"

#include <QByteArrayView>

#include <tuple>
#include <utility>

namespace settings::ini {

namespace {

using grammar::Line;
using grammar::LineReader;

bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// What QByteArrayView::trimmed() takes away.
bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Names as QSettings compares them: folded to lower case where it ignores case.
QString lookupForm(const QString &name)
{
    return grammar::caseSensitiveNames() ? name : name.toLower();
}

// Where a line can go without changing how any other line reads: right after
// a line break the reader skipped between two lines, preceded by breaks line
// breaks that end the line before.
struct Place
{
    qsizetype at = 0;
    int breaks = 0;
};

// The first and the last such point in the blanks and comments before a line.
std::optional<qsizetype> afterFirstBreak(QByteArrayView text, qsizetype from, qsizetype to)
{
    for (qsizetype at = from; at < to; ++at) {
        if (isLineBreak(text[at]))
            return text[at] == '\r' && at + 1 < to && text[at + 1] == '\n' ? at + 2 : at + 1;
    }
    return std::nullopt;
}

std::optional<qsizetype> afterLastBreak(QByteArrayView text, qsizetype from, qsizetype to)
{
    for (qsizetype at = to; at > from; --at) {
        if (isLineBreak(text[at - 1]))
            return at;
    }
    return std::nullopt;
}

QByteArray lineBreakOf(QByteArrayView text)
{
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (text[at] == '\n')
            return QByteArrayLiteral("\n");
        if (text[at] == '\r')
            return at + 1 < text.size() && text[at + 1] == '\n' ? QByteArrayLiteral("\r\n")
                                                                : QByteArrayLiteral("\r");
    }
    return QByteArrayLiteral("\n");
}

// How the text stands for the key, in one pass over it.
struct Layout
{
    bool sectionFound = false;
    // A section that QSettings looks the key up in instead of the key's own.
    bool blocked = false;
    std::optional<Line> assignment; // the last one to the key in its section
    // The last one in [General] that names the key with its section
    // ("Lumivex%20Software\Combo1=1"): QSettings reads it only once it has read
    // the whole file for some other reason.
    std::optional<Line> generalAssignment;
    std::optional<Place> keyPlace; // in the section's last part that has one
    std::optional<qsizetype> firstHeader;
    // Line breaks that end the text's last line; none when it ends inside quotes.
    std::optional<int> endBreaks;
};

class Scanner final
{
public:
    Scanner(QByteArrayView text, const QString &section, const QString &key)
        : m_text(text)
        , m_section(lookupForm(section + u'/'))
        , m_key(lookupForm(section + u'/' + key))
    {}

    Layout scan();

private:
    void header(const Line &line);
    void entry(const Line &line);
    QByteArrayView generalName(const Line &line, QByteArrayView trimmed) const;
    bool isKey(QByteArrayView name, const QString &section, bool sectionLowercase) const;
    void end(const Line &last, bool lastEndsText, qsizetype start);
    bool escapedBreakStaysAlone() const;

    QByteArrayView m_text;
    QString m_section;
    QString m_key;
    QString m_sectionAsWritten; // QSettings keeps the first spelling
    bool m_sectionLowercase = true;
    bool m_inSection = false;
    bool m_inGeneral = true; // lines before the first header are in [General]
    Layout m_layout;
};

Layout Scanner::scan()
{
    LineReader reader(m_text);
    const qsizetype start = reader.position();
    Line line;
    Line last;
    bool lastInSection = false;
    bool any = false;
    while (reader.next(line)) {
        if (lastInSection) {
            if (const auto at = afterFirstBreak(m_text, line.skipped, line.start))
                m_layout.keyPlace = Place{*at, 0};
        }
        if (m_text[line.start] == '[') {
            if (!m_layout.firstHeader)
                m_layout.firstHeader
                    = afterLastBreak(m_text, line.skipped, line.start).value_or(line.skipped);
            header(line);
        } else if (line.equals >= 0) {
            entry(line);
        }
        lastInSection = m_inSection;
        last = line;
        any = true;
    }
    if (lastInSection) {
        if (const auto at = afterFirstBreak(m_text, line.skipped, m_text.size()))
            m_layout.keyPlace = Place{*at, 0};
    }
    end(last, any && last.end == m_text.size(), start);
    return m_layout;
}

void Scanner::header(const Line &line)
{
    m_inSection = false;
    const QByteArrayView written = m_text.sliced(line.start, line.end - line.start);
    m_inGeneral = grammar::headerName(written).compare("general", Qt::CaseInsensitive) == 0;
    // Each UTF-16 unit of a name takes at least one byte, and folding case at
    // most doubles it: most headers are ruled out by their length.
    if (m_inGeneral || written.size() * 2 < m_section.size())
        return;
    const QString asWritten = grammar::sectionOfHeader(written);
    const QString name = lookupForm(asWritten);
    if (name == m_section) {
        m_inSection = true;
        if (!m_layout.sectionFound) {
            m_sectionAsWritten = asWritten;
            m_sectionLowercase = name == asWritten;
            m_layout.sectionFound = true;
        }
    } else if (m_section < name && name <= m_key) {
        // QSettings parses only the greatest section name up to the key, and
        // only when it is the key's own.
        m_layout.blocked = true;
    }
}

void Scanner::entry(const Line &line)
{
    if (!m_inSection && !m_inGeneral)
        return;
    const QByteArrayView name = m_text.sliced(line.start, line.equals - line.start).trimmed();
    if (m_inSection && isKey(name, m_sectionAsWritten, m_sectionLowercase))
        m_layout.assignment = line;
    else if (m_inGeneral && isKey(generalName(line, name), QString(), true))
        m_layout.generalAssignment = line;
}

// QSettings reads [General] from the very start of the text, byte-order mark
// included, and drops the mark only as it decodes a name: the name on the
// line the mark begins keeps the blanks between the two ("\xEF\xBB\xBF Combo1"
// is " Combo1"), and its end alone is trimmed.
QByteArrayView Scanner::generalName(const Line &line, QByteArrayView trimmed) const
{
    constexpr qsizetype kMark = 3;
    if (line.skipped != kMark || !m_text.startsWith("\xEF\xBB\xBF"))
        return trimmed;
    for (qsizetype at = kMark; at < line.start; ++at) {
        if (isLineBreak(m_text[at]))
            return trimmed;
    }
    QByteArrayView name = m_text.sliced(kMark, line.equals - kMark);
    while (!name.isEmpty() && isAsciiSpace(name.back()))
        name.chop(1);
    return name;
}

bool Scanner::isKey(QByteArrayView name, const QString &section, bool sectionLowercase) const
{
    // A unit takes one to six bytes ("%U0043"); folding case at most doubles it.
    const qsizetype units = m_key.size() - section.size();
    if (name.isEmpty() || name.size() > 6 * units || name.size() * 4 < units)
        return false;
    // Most names are ruled out by their first byte.
    const QChar first = m_key.at(section.size());
    const char written = name.front();
    if (written != '%' && uchar(written) < 0x80 && first.unicode() < 0x80
        && QChar::fromLatin1(written) != first
        && (grammar::caseSensitiveNames() || QChar::fromLatin1(written).toLower() != first))
        return false;
    bool lowercase = false;
    const QString full = section + grammar::unescapedName(name, &lowercase);
    if (grammar::caseSensitiveNames() || (lowercase && sectionLowercase))
        return full == m_key;
    return full.toLower() == m_key;
}

void Scanner::end(const Line &last, bool lastEndsText, qsizetype start)
{
    if (lastEndsText) {
        if (!last.inQuotes)
            m_layout.endBreaks = last.openEscape && !escapedBreakStaysAlone() ? 2 : 1;
    } else {
        m_layout.endBreaks = m_text.size() > start && !isLineBreak(m_text.back()) ? 1 : 0;
    }
    if (m_inSection && m_layout.endBreaks)
        m_layout.keyPlace = Place{m_text.size(), *m_layout.endBreaks};
}

// A text that ends in an escaped line break: whether the break added after it
// could not join it as a pair ("\r" and "\n").
bool Scanner::escapedBreakStaysAlone() const
{
    const char last = m_text.back();
    return isLineBreak(last) && lineBreakOf(m_text).front() == last;
}

// The value's bytes without the blanks around it.
std::pair<qsizetype, qsizetype> valueSpan(const QByteArray &text, const Line &line)
{
    qsizetype begin = line.equals + 1;
    qsizetype end = line.end;
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return {begin, end};
}

void replaceValue(QByteArray &text, const Line &line, const QByteArray &value)
{
    const auto [begin, end] = valueSpan(text, line);
    text.replace(begin, end - begin, value);
}

// Where a new section goes, and its text.
std::pair<qsizetype, QByteArray> addedSection(const Layout &layout, const QByteArray &text,
                                              const QString &section, const QByteArray &entry,
                                              const QByteArray &lineBreak)
{
    const QByteArray header = '[' + grammar::escapedName(section) + ']' + lineBreak + entry;
    if (layout.endBreaks) {
        const bool blankLine = !text.isEmpty() && text != "\xEF\xBB\xBF";
        return {text.size(), lineBreak.repeated(*layout.endBreaks + int(blankLine)) + header};
    }
    if (layout.firstHeader)
        return {*layout.firstHeader, header + lineBreak};
    // No section to go before, and the end lies inside quotes: what follows the
    // new section stays in [General], as it was. A byte-order mark would then
    // be read as part of its first line, as it is now.
    return {0, header + lineBreak + "[General]" + lineBreak};
}

} // namespace

std::optional<Reading> read(const QByteArray &text, const QString &section, const QString &key)
{
    const Layout layout = Scanner(text, section, key).scan();
    if (layout.blocked || !layout.assignment)
        return std::nullopt;
    const Line &line = *layout.assignment;
    const QByteArrayView written
        = QByteArrayView(text).sliced(line.equals + 1, line.end - line.equals - 1);
    const grammar::Unescaped unescaped = grammar::unescapedValue(written);
    if (unescaped.list)
        return Reading{QString::fromUtf8(written.trimmed()), true};
    QString string;
    if (!grammar::isString(unescaped.text, &string))
        return Reading{unescaped.text, true};
    return Reading{string, false};
}

std::optional<QString> value(const QByteArray &text, const QString &section, const QString &key)
{
    if (auto reading = read(text, section, key))
        return std::move(reading->text);
    return std::nullopt;
}

std::optional<QByteArray> withValue(const QByteArray &text, const QString &section,
                                    const QString &key, const QString &value)
{
    const Layout layout = Scanner(text, section, key).scan();
    if (layout.blocked)
        return std::nullopt;
    const QByteArray stored = grammar::escapedString(value);
    qsizetype at = 0;
    qsizetype removed = 0;
    QByteArray added;
    if (layout.assignment) {
        const auto [begin, end] = valueSpan(text, *layout.assignment);
        at = begin;
        removed = end - begin;
        added = stored;
    } else {
        const QByteArray lineBreak = lineBreakOf(text);
        const QByteArray entry = grammar::escapedName(key) + '=' + stored + lineBreak;
        if (layout.keyPlace) {
            at = layout.keyPlace->at;
            added = lineBreak.repeated(layout.keyPlace->breaks) + entry;
        } else {
            std::tie(at, added) = addedSection(layout, text, section, entry, lineBreak);
        }
    }
    // Edits from the end, so that the place of each one before stays as it is.
    QByteArray edited = text;
    const std::optional<Line> &general = layout.generalAssignment;
    if (general && general->start >= at)
        replaceValue(edited, *general, stored);
    edited.replace(at, removed, added);
    if (general && general->start < at)
        replaceValue(edited, *general, stored);
    return edited;
}

} // namespace settings::ini
