#include "skin/skinsheet.h"

#include "errors/failure.h"
#include "files/regularfile.h"
#include "skin/cssreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QWidget>

namespace skin {

namespace {

[[noreturn]] void reject(const QString &path, const QString &reason)
{
    throw errors::Failure(
        QStringLiteral("The skin %1 cannot be used: %2").arg(errors::shownPath(path), reason));
}

QByteArray readCapped(const QString &path)
{
    const files::FileCheck check = files::checkFile(path);
    if (check.kind == files::FileCheck::Kind::Missing
        || check.kind == files::FileCheck::Kind::Irregular)
        reject(path, QStringLiteral("there is no such file"));
    if (check.kind == files::FileCheck::Kind::Empty)
        reject(path, QStringLiteral("it is empty"));
    if (check.size > MaxSkinBytes)
        reject(path, QStringLiteral("it is larger than %1 bytes").arg(MaxSkinBytes));
    QFile file;
    QString why;
    if (!files::openReadable(file, path, why))
        reject(path, why);
    const QByteArray bytes = file.read(MaxSkinBytes + 1);
    if (bytes.size() > MaxSkinBytes)
        reject(path, QStringLiteral("it is larger than %1 bytes").arg(MaxSkinBytes));
    if (file.error() != QFileDevice::NoError)
        reject(path, file.errorString());
    return bytes;
}

// Qt drops a backslash before any other character of a name, so "qpr\operty-"
// names the same thing; the text is also read with its hex escapes decoded as
// Qt decodes them and as plain CSS does, which also takes one space after them.
bool setsProperties(const QString &sheet)
{
    for (QString plain : {sheet, css::decodeLikeQt(sheet), css::decodeLikeCss(sheet)}) {
        plain.remove(QLatin1Char('\\'));
        if (plain.contains(QLatin1String("qproperty-"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// Only readable files are drawn (see files::checkFile). Anything else there
// becomes a resource path, which Qt looks for among the program's resources
// only; its warning still names the file.
QString drawablePath(const QString &path)
{
    const files::FileCheck::Kind kind = files::checkFile(path).kind;
    if (kind == files::FileCheck::Kind::Missing || kind == files::FileCheck::Kind::Readable)
        return path;
    return QLatin1Char(':') + path;
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
    const QString text = css::decodeLikeQt(sheet);
    QString result;
    qsizetype copied = 0;
    for (const css::UrlCall &call : css::urlCalls(text)) {
        const QString reference
            = css::urlReference(text.mid(call.argsStart, call.argsEnd - call.argsStart));
        if (reference.isEmpty())
            continue;
        // Qt's resources are in memory; everything else is a file relative
        // to the skin's folder unless absolute.
        const QString path = reference.startsWith(QLatin1Char(':'))
                                 ? reference
                                 : QDir::cleanPath(QDir(folder).absoluteFilePath(reference));
        if (call.named) {
            result += QStringView(text).mid(copied, call.nameStart - copied);
            result += QLatin1String("url(");
        } else {
            result += QStringView(text).mid(copied, call.argsStart - copied);
        }
        result += css::quoted(drawablePath(path));
        copied = call.argsEnd;
    }
    result += QStringView(text).mid(copied);
    return css::encodeForQt(result);
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
    if (css::hexEscapeCount(sheet) > MaxHexEscapes)
        reject(path, QStringLiteral("it holds more than %1 backslashes before hex digits")
                         .arg(MaxHexEscapes));
    if (!parseWarning(sheet).isEmpty())
        reject(path, QStringLiteral("Qt cannot parse it as a style sheet"));
    return sheet;
}

} // namespace skin
