#pragma once

#include "dispatch.h"
#include "failure.h"

#include <QList>

// Records every call; answers the option-flags get with flags and fails the
// call numbered failAt (0-based) when asked to.
class RecordingDispatch final : public skin::Dispatch
{
public:
    struct Call
    {
        qint32 dispId = 0;
        skin::CallKind kind = skin::CallKind::Method;
        QList<skin::Variant> args;
    };

    skin::Variant Invoke(qint32 dispId, skin::CallKind kind,
                         const QList<skin::Variant> &args) override
    {
        calls.append({dispId, kind, args});
        if (calls.size() - 1 == failAt)
            throw errors::Failure(QStringLiteral("The component rejected the call"));
        if (dispId == 1 && kind == skin::CallKind::PropertyGet)
            return flags;
        return {};
    }

    QList<Call> calls;
    skin::Variant flags = qint32{0};
    qsizetype failAt = -1;
};
