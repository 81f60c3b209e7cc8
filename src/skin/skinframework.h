#pragma once

#include "skin/dispatch.h"

#include <QLatin1String>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace skin {

// The skin component of the main window. It loads a skin (a Qt style sheet,
// see skinsheet.h) and sets it on the window whose native handle it is given.
// Members by dispatch id (skinmembers.h):
//   1  property, 32-bit integer: option flags, kept as written
//   2  method (text path, text section): loads the skin; section must be empty
//   3  method (32-bit integer handle): applies the loaded skin to that window
//   5, 10  property, Boolean: options, kept as written
// The options are stored for the caller; none of them changes what is drawn.
class SkinFramework final
    : public QObject
    , public Dispatch
{
    Q_OBJECT

public:
    explicit SkinFramework(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(SkinFramework)

    // Its object name in the main window, which its failure reports carry too.
    static constexpr QLatin1String kName{"SkinFramework1"};

    Variant invoke(qint32 dispId, CallKind kind, const QList<Variant> &args) override;

    bool hasSkin() const { return !m_sheet.isEmpty(); }
    const QString &styleSheet() const { return m_sheet; }
    // The window the skin was last applied to, while it exists.
    QWidget *skinnedWindow() const { return m_window; }

private:
    Variant optionFlags(qint32 dispId, CallKind kind, const QList<Variant> &args);
    Variant loadSkin(qint32 dispId, CallKind kind, const QList<Variant> &args);
    Variant applyWindow(qint32 dispId, CallKind kind, const QList<Variant> &args);
    Variant switchOption(qint32 dispId, CallKind kind, const QList<Variant> &args, bool &option);

    QString m_sheet;
    QPointer<QWidget> m_window;
    qint32 m_optionFlags = 0;
    bool m_firstSwitch = false;
    bool m_secondSwitch = false;
};

} // namespace skin
