#pragma once

#include <QByteArrayView>
#include <QString>

// The grammar of Qt's INI settings files (QSettings::IniFormat, Qt 6.4), step
// for step as QSettings reads and writes them, so that a file is read here
// exactly as every Qt program sharing it reads it: its lines and names here,
// its values in inivalue.h.
namespace settings::ini::grammar {

// One line as the reader splits the text. Quotes and backslashes carry a line
// over its line breaks; a ';' outside quotes ends it, and a line that starts
// with ';' is a comment that is skipped together with the blanks before a line.
struct Line
{
    qsizetype skipped = 0; // where the reader started: blanks and comments up to start
    qsizetype start = 0;   // first byte of the line
    qsizetype end = 0;     // its end: a line break, a ';', or the end of the text
    qsizetype equals = -1; // the '=' between key and value, -1 without one
    bool inQuotes = false; // the text ended inside quotes (only when end is the text's end)
    // The text ended with a backslash that escapes nothing yet, or one whose
    // line break would take the break after it as its pair.
    bool openEscape = false;
};

class LineReader final
{
public:
    // A UTF-8 byte-order mark at the start is no part of the first line.
    explicit LineReader(QByteArrayView text);

    // The next line, false at the end of the text.
    bool next(Line &line);

    // Where the reader starts; after the last line, where it stopped.
    qsizetype position() const { return m_position; }

private:
    bool skipComment(qsizetype &at, qsizetype &start) const;
    void escape(qsizetype &at, Line &line) const;

    QByteArrayView m_text;
    qsizetype m_position = 0;
};

// The line breaks of the text, also inside quoted values.
constexpr bool isLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

// Whether names are told apart by case: not on Windows, where Qt folds them.
constexpr bool caseSensitiveNames()
{
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

// A section or key name as written ("Lumivex%20Software", "a\b", "%U00E9"):
// '\' stands for '/', %XX and %UXXXX for one UTF-16 unit. lowercase tells
// whether no unit is an upper-case letter.
QString unescapedName(QByteArrayView name, bool *lowercase = nullptr);
QByteArray escapedName(const QString &name);

// The name in a header line as written: up to the first ']', without blanks.
QByteArrayView headerName(QByteArrayView line);

// The section a header line names ("[Lumivex%20Software]"), with the '/' that
// joins it to its keys; "" for [General].
QString sectionOfHeader(QByteArrayView line);

} // namespace settings::ini::grammar
