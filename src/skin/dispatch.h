#pragma once

#include <QList>
#include <QString>

#include <variant>

namespace skin {

enum class CallKind { Method, PropertyGet, PropertyPut };

// An automation value: nothing, text, a 32-bit integer or a Boolean.
using Variant = std::variant<std::monostate, QString, qint32, bool>;

// A component driven by numeric dispatch ids. Arguments are in parameter order.
// A rejected call throws errors::Failure.
class Dispatch
{
public:
    virtual ~Dispatch() = default;
    virtual Variant Invoke(qint32 dispId, CallKind kind, const QList<Variant> &args) = 0;
};

} // namespace skin
