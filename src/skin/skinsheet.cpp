#include "skinsheet.h"

#include "failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QWidget>

namespace skin {

namespace {

[[noreturn]] void reject(const QString &path, const QString &reason)
{
    throw errors::Failure(QStringLiteral("The skin %1 cannot be used: %2")
                              .arg(QDir::toNativeSeparators(path), reason));
}

QByteArray readCapped(const QString &path)
{
    const QFileInfo info(path);
    // Opening a pipe would wait for a writer; only regular files are read.
    if (!info.isFile())
        reject(path, QStringLiteral("there is no such file"));
    if (info.size() > MaxSkinBytes)
        reject(path, QStringLiteral("it is larger than %1 bytes").arg(MaxSkinBytes));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        reject(path, file.errorString());
    const QByteArray bytes = file.read(MaxSkinBytes + 1);
    if (bytes.size() > MaxSkinBytes)
        reject(path, QStringLiteral("it is larger than %1 bytes").arg(MaxSkinBytes));
    if (file.error() != QFileDevice::NoError)
        reject(path, file.errorString());
    return bytes;
}

// Qt drops a backslash before any character of a name, so "qpr\operty-"
// names the same thing; look at the text without backslashes.
bool setsProperties(const QString &sheet)
{
    QString plain = sheet;
    plain.remove(QLatin1Char('\\'));
    return plain.contains(QLatin1String("qproperty-"), Qt::CaseInsensitive);
}

bool isLocalRelative(const QString &reference)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return !reference.isEmpty() && !reference.startsWith(QLatin1Char(':'))
           && QDir::isRelativePath(reference) && !scheme.match(reference).hasMatch();
}

QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// Collects Qt's parse warnings while a sheet is parsed on a throwaway widget.
class WarningCatcher final
{
public:
    WarningCatcher()
        : m_previous(qInstallMessageHandler(&WarningCatcher::handle))
    {
        s_active = this;
    }
    ~WarningCatcher()
    {
        s_active = nullptr;
        qInstallMessageHandler(m_previous);
    }
    Q_DISABLE_COPY_MOVE(WarningCatcher)

    const QString &firstWarning() const { return m_first; }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        // Only a parse failure condemns a skin; Qt goes on past unknown
        // properties and missing images, and so do we.
        if (s_active && type == QtWarningMsg
            && message.startsWith(QLatin1String("Could not parse"))) {
            if (s_active->m_first.isEmpty())
                s_active->m_first = message;
            return;
        }
        if (s_active && s_active->m_previous)
            s_active->m_previous(type, context, message);
    }

    static inline WarningCatcher *s_active = nullptr;
    QtMessageHandler m_previous;
    QString m_first;
};

} // namespace

QString readSkinSheet(const QString &path)
{
    const QByteArray bytes = readCapped(path);
    if (bytes.contains('\0'))
        reject(path, QStringLiteral("it is not a text file"));
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString sheet = decoder.decode(bytes);
    if (decoder.hasError())
        reject(path, QStringLiteral("it is not UTF-8 text"));
    if (sheet.trimmed().isEmpty())
        reject(path, QStringLiteral("it is empty"));
    if (setsProperties(sheet))
        reject(path, QStringLiteral("skins may not set widget properties (qproperty-)"));
    return sheet;
}

QString resolveUrls(const QString &sheet, const QString &folder)
{
    static const QRegularExpression url(
        QStringLiteral(
            R"re(url\(\s*(?:"((?:[^"\\]|\\.)*)"|'((?:[^'\\]|\\.)*)'|([^()"'\s]*))\s*\))re"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression escape(QStringLiteral(R"re(\\(.))re"));
    QString result;
    qsizetype copied = 0;
    auto matches = url.globalMatch(sheet);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        QString reference = match.captured(1) + match.captured(2) + match.captured(3);
        reference.replace(escape, QStringLiteral("\\1"));
        if (!isLocalRelative(reference))
            continue;
        result += QStringView(sheet).mid(copied, match.capturedStart() - copied);
        const QString absolute = QDir::cleanPath(QDir(folder).absoluteFilePath(reference));
        result += QStringLiteral("url(") + quoted(absolute) + QLatin1Char(')');
        copied = match.capturedEnd();
    }
    result += QStringView(sheet).mid(copied);
    return result;
}

QString parseWarning(const QString &sheet)
{
    WarningCatcher catcher;
    {
        QWidget probe;
        probe.setStyleSheet(sheet);
        probe.ensurePolished();
    }
    return catcher.firstWarning();
}

QString loadSkinSheet(const QString &path)
{
    const QString sheet = resolveUrls(readSkinSheet(path), QFileInfo(path).absolutePath());
    if (!parseWarning(sheet).isEmpty())
        reject(path, QStringLiteral("Qt cannot parse it as a style sheet"));
    return sheet;
}

} // namespace skin
