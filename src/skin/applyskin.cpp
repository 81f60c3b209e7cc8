#include "skin/applyskin.h"

#include "files/globals.h"
#include "layouts/colorvalue.h"
#include "skin/backcolor.h"
#include "skin/dispatch.h"
#include "skin/skinmembers.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace skin {

namespace {

bool takesBackColor(const QWidget &control)
{
    return qobject_cast<const QRadioButton *>(&control)
           || qobject_cast<const QCheckBox *>(&control)
           || qobject_cast<const QGroupBox *>(&control) || qobject_cast<const QLabel *>(&control);
}

// Every control of the window in control order, those inside frames included;
// pop-ups and other windows owned by it are not controls.
void recolourControls(const QWidget &parent, qint32 colour)
{
    for (QObject *child : parent.children()) {
        auto *control = qobject_cast<QWidget *>(child);
        if (!control || control->isWindow())
            continue;
        if (takesBackColor(*control))
            setBackColor(*control, colour);
        recolourControls(*control, colour);
    }
}

#ifdef Q_OS_WIN
bool isSystemFile(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(path.utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_SYSTEM);
}
#endif

} // namespace

QString SkinFilePath(const QString &programFolder)
{
    return Globals::ProgramPath(programFolder, QStringLiteral("\\x\\o.cjs"));
}

bool NormalFileListed(const QString &path)
{
    const QFileInfo info(path);
    // A file that cannot be read is still there; loading it then fails.
    QDir::Filters filters = QDir::Files;
#ifndef Q_OS_WIN
    filters |= QDir::CaseSensitive;
#endif
    const QStringList names = info.dir().entryList({info.fileName()}, filters);
    if (names.isEmpty())
        return false;
    const QString listed = info.dir().filePath(names.first());
#ifdef Q_OS_WIN
    return !isSystemFile(listed);
#else
    // A link is listed for what it is itself: what it leads to must be a file
    // too, or a device or pipe behind it would count as a skin.
    return QFileInfo(listed).isFile();
#endif
}

void ApplySkin(QWidget &form, Dispatch &skinFramework, const QString &programFolder)
{
    const QString path = SkinFilePath(programFolder);
    if (!NormalFileListed(path))
        return;

    setBackColor(form, layouts::ColorValue::ButtonFace);
    recolourControls(form, layouts::ColorValue::ButtonFace);

    skinFramework.invoke(DispId::LoadSkin, CallKind::Method, {path, QString()});
    const qint32 options
        = skin::toInt32(skinFramework.invoke(DispId::OptionFlags, CallKind::PropertyGet, {}));
    skinFramework.invoke(DispId::OptionFlags, CallKind::PropertyPut, {options | 1});
    skinFramework.invoke(DispId::FirstSwitch, CallKind::PropertyPut, {true});
    skinFramework.invoke(DispId::SecondSwitch, CallKind::PropertyPut, {true});
    // Native handles fit in 32 bits on the platforms we build for (X11 ids,
    // Windows HWNDs); the member takes a 32-bit integer.
    const auto handle = static_cast<qint32>(form.winId());
    skinFramework.invoke(DispId::ApplyWindow, CallKind::Method, {handle});
}

} // namespace skin
