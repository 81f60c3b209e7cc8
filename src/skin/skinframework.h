#pragma once

#include "dispatch.h"

#include <QObject>

namespace skin {

// The skin component of the main window.
class SkinFramework final : public QObject, public Dispatch
{
    Q_OBJECT

public:
    explicit SkinFramework(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(SkinFramework)

    Variant Invoke(qint32 dispId, CallKind kind, const QList<Variant> &args) override;
};

} // namespace skin
