// The skin file beside the program, applied to a window with the real skin
// component: it either throws errors::Failure or returns. Beside it lie a pipe
// and a picture, so that a skin naming the pipe would hang the run. Where Qt's
// own style-sheet parser is at hand, it reads the applied sheet as the window
// will: no property settings, and every image a file named in full.
#include "errors/failure.h"
#include "fuzzsupport.h"
#include "skin/applyskin.h"
#include "skin/skinframework.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QWidget>

#include <sys/stat.h>

#ifdef LUMIVEX_HAVE_QCSS
#include <private/qcssparser_p.h>
#endif

namespace {

#ifdef LUMIVEX_HAVE_QCSS
void checkDeclarations(const QList<QCss::Declaration> &declarations)
{
    for (const QCss::Declaration &declaration : declarations) {
        if (declaration.d->property.startsWith(QLatin1String("qproperty-"), Qt::CaseInsensitive))
            fuzz::fail("an applied skin sets a property");
        for (const QCss::Value &value : std::as_const(declaration.d->values)) {
            if (value.type != QCss::Value::Uri)
                continue;
            const QString path = value.variant.toString();
            if (path.isEmpty() || path.startsWith(QLatin1Char(':')))
                continue;
            if (QDir::isRelativePath(path))
                fuzz::fail("an image left relative to the working folder");
            const QFileInfo info(path);
            if (info.exists() && !info.isFile())
                fuzz::fail("an image that is not a regular file");
        }
    }
}

void checkRules(const QList<QCss::StyleRule> &rules)
{
    for (const QCss::StyleRule &rule : rules)
        checkDeclarations(rule.declarations);
}

// Parsed as the style does: as it stands, or else as the body of one rule.
void checkAsQtReadsIt(const QString &sheet)
{
    QCss::StyleSheet parsed;
    QCss::Parser parser(sheet);
    if (!parser.parse(&parsed)) {
        parsed = QCss::StyleSheet();
        parser.init(QLatin1String("* {") + sheet + QLatin1Char('}'));
        parser.parse(&parsed);
    }
    checkRules(parsed.styleRules);
    checkRules(parsed.nameIndex.values());
    checkRules(parsed.idIndex.values());
    for (const QCss::MediaRule &media : std::as_const(parsed.mediaRules))
        checkRules(media.styleRules);
    for (const QCss::PageRule &page : std::as_const(parsed.pageRules))
        checkDeclarations(page.declarations);
}
#endif

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::startGuiApplication(argc, argv, true);
    const QString x = QDir(fuzz::scratchFolder()).filePath(QStringLiteral("x"));
    QDir().mkpath(x);
    ::mkfifo(QFile::encodeName(x + QStringLiteral("/pipe")).constData(), 0600);
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    picture.save(x + QStringLiteral("/picture.png"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::writeScratchFile(QStringLiteral("x/o.cjs"), data, size);
    QWidget form;
    skin::SkinFramework component;
    try {
        skin::ApplySkin(form, component, fuzz::scratchFolder());
    } catch (const errors::Failure &) {
    }
#ifdef LUMIVEX_HAVE_QCSS
    if (component.hasSkin())
        checkAsQtReadsIt(component.styleSheet());
#endif
    // Draws the window with its skin, images included.
    form.grab();
    return 0;
}
