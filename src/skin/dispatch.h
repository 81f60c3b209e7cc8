#pragma once

#include <QList>
#include <QString>

#include <variant>

namespace skin {

enum class CallKind { Method, PropertyGet, PropertyPut };

// An automation value: nothing, text, a 32-bit integer or a Boolean.
using Variant = std::variant<std::monostate, QString, qint32, bool>;

// A component driven by numeric dispatch ids. Arguments are in parameter order
// (an IDispatch-based implementation reverses them for DISPPARAMS). A rejected
// call throws errors::Failure.
class Dispatch
{
public:
    virtual ~Dispatch() = default;
    virtual Variant invoke(qint32 dispId, CallKind kind, const QList<Variant> &args) = 0;
};

// "text", "32-bit integer", "Boolean" or "nothing", for failure descriptions.
QString typeName(const Variant &value);
QString kindName(CallKind kind);

// Converts a call's result to a 32-bit integer the way an automation client
// does: nothing is 0, true is -1, text must hold a number in range.
// Throws errors::Failure ("Type mismatch", "Overflow") otherwise.
qint32 toInt32(const Variant &value);

} // namespace skin
