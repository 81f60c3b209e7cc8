#include "skin/dispatch.h"

#include "errors/wholenumber.h"

#include <limits>

namespace skin {

namespace {

struct TypeNamer
{
    QString operator()(std::monostate) const { return QStringLiteral("nothing"); }
    QString operator()(const QString &) const { return QStringLiteral("text"); }
    QString operator()(qint32) const { return QStringLiteral("32-bit integer"); }
    QString operator()(bool) const { return QStringLiteral("Boolean"); }
};

struct Int32Converter
{
    qint32 operator()(std::monostate) const { return 0; }
    qint32 operator()(const QString &text) const
    {
        return static_cast<qint32>(errors::readWholeNumber(
            text, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
    }
    qint32 operator()(qint32 number) const { return number; }
    qint32 operator()(bool flag) const { return flag ? -1 : 0; }
};

} // namespace

QString typeName(const Variant &value)
{
    return std::visit(TypeNamer{}, value);
}

QString kindName(CallKind kind)
{
    switch (kind) {
    case CallKind::Method:
        return QStringLiteral("method call");
    case CallKind::PropertyGet:
        return QStringLiteral("property get");
    case CallKind::PropertyPut:
        return QStringLiteral("property put");
    }
    return QStringLiteral("unknown call kind");
}

qint32 toInt32(const Variant &value)
{
    return std::visit(Int32Converter{}, value);
}

} // namespace skin
