#include "skin/skinframework.h"

#include "errors/failure.h"
#include "skin/skinmembers.h"
#include "skin/skinsheet.h"

#include <QApplication>
#include <QWidget>

namespace skin {

namespace {

[[noreturn]] void fail(qint32 dispId, const QString &reason)
{
    throw errors::Failure(
        QStringLiteral("%1: member %2 %3")
            .arg(QString(SkinFramework::kName), QString::number(dispId), reason));
}

void expectKind(qint32 dispId, CallKind kind, std::initializer_list<CallKind> allowed)
{
    for (CallKind each : allowed) {
        if (each == kind)
            return;
    }
    fail(dispId, QStringLiteral("does not support a %1").arg(kindName(kind)));
}

// Checks the argument list against the member's parameter types.
void expectArgs(qint32 dispId, const QList<Variant> &args, std::initializer_list<Variant> types)
{
    if (args.size() != static_cast<qsizetype>(types.size()))
        fail(dispId, QStringLiteral("takes %1 argument(s), not %2")
                         .arg(QString::number(types.size()), QString::number(args.size())));
    qsizetype i = 0;
    for (const Variant &type : types) {
        if (args[i].index() != type.index())
            fail(dispId, QStringLiteral("needs %1 as argument %2, not %3")
                             .arg(typeName(type), QString::number(i + 1), typeName(args[i])));
        ++i;
    }
}

QWidget *topLevelWithHandle(qint32 handle)
{
    if (handle == 0)
        return nullptr;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->internalWinId() && static_cast<qint32>(window->internalWinId()) == handle)
            return window;
    }
    return nullptr;
}

} // namespace

SkinFramework::SkinFramework(QObject *parent)
    : QObject(parent)
{}

Variant SkinFramework::invoke(qint32 dispId, CallKind kind, const QList<Variant> &args)
{
    switch (dispId) {
    case DispId::OptionFlags:
        return optionFlags(dispId, kind, args);
    case DispId::LoadSkin:
        return loadSkin(dispId, kind, args);
    case DispId::ApplyWindow:
        return applyWindow(dispId, kind, args);
    case DispId::FirstSwitch:
        return switchOption(dispId, kind, args, m_firstSwitch);
    case DispId::SecondSwitch:
        return switchOption(dispId, kind, args, m_secondSwitch);
    default:
        fail(dispId, QStringLiteral("does not exist"));
    }
}

Variant SkinFramework::optionFlags(qint32 dispId, CallKind kind, const QList<Variant> &args)
{
    expectKind(dispId, kind, {CallKind::PropertyGet, CallKind::PropertyPut});
    if (kind == CallKind::PropertyGet) {
        expectArgs(dispId, args, {});
        return m_optionFlags;
    }
    expectArgs(dispId, args, {qint32{}});
    m_optionFlags = std::get<qint32>(args[0]);
    return {};
}

Variant SkinFramework::switchOption(qint32 dispId, CallKind kind, const QList<Variant> &args,
                                    bool &option)
{
    expectKind(dispId, kind, {CallKind::PropertyGet, CallKind::PropertyPut});
    if (kind == CallKind::PropertyGet) {
        expectArgs(dispId, args, {});
        return option;
    }
    expectArgs(dispId, args, {false});
    option = std::get<bool>(args[0]);
    return {};
}

Variant SkinFramework::loadSkin(qint32 dispId, CallKind kind, const QList<Variant> &args)
{
    expectKind(dispId, kind, {CallKind::Method});
    expectArgs(dispId, args, {QString(), QString()});
    if (!std::get<QString>(args[1]).isEmpty())
        fail(dispId, QStringLiteral("knows no skin sections; the section must be empty"));
    // A skin that fails to load leaves none loaded rather than the previous one.
    m_sheet.clear();
    m_sheet = loadSkinSheet(std::get<QString>(args[0]));
    return {};
}

Variant SkinFramework::applyWindow(qint32 dispId, CallKind kind, const QList<Variant> &args)
{
    expectKind(dispId, kind, {CallKind::Method});
    expectArgs(dispId, args, {qint32{}});
    const qint32 handle = std::get<qint32>(args[0]);
    QWidget *window = topLevelWithHandle(handle);
    if (!window)
        fail(dispId, QStringLiteral("found no window with the handle %1").arg(handle));
    if (!hasSkin())
        fail(dispId, QStringLiteral("has no skin loaded to apply"));
    // Plain widget classes draw a style-sheet background only when asked to.
    window->setAttribute(Qt::WA_StyledBackground, true);
    window->setStyleSheet(m_sheet);
    m_window = window;
    return {};
}

} // namespace skin
