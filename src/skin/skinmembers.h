#pragma once

#include <QtGlobal>

namespace skin {

// Dispatch ids of the skin component's members.
namespace DispId {
constexpr qint32 OptionFlags = 1;   // property: 32-bit option flags
constexpr qint32 LoadSkin = 2;      // method (path, section)
constexpr qint32 ApplyWindow = 3;   // method (native window handle)
constexpr qint32 FirstSwitch = 5;   // property: Boolean option
constexpr qint32 SecondSwitch = 10; // property: Boolean option
} // namespace DispId

} // namespace skin
