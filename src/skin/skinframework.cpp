#include "skinframework.h"

namespace skin {

SkinFramework::SkinFramework(QObject *parent)
    : QObject(parent)
{}

Variant SkinFramework::Invoke(qint32, CallKind, const QList<Variant> &)
{
    return {};
}

} // namespace skin
