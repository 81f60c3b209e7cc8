#pragma once

#include <QLatin1String>

// Where the main window's choices are stored: the application names the file
// (or registry key), the product name the section, and each list has its key.
// Stores written by every earlier version use these names.
namespace settings::stored {

constexpr QLatin1String kApplication("Quarnel");
constexpr QLatin1String kStyleKey("Combo1");
constexpr QLatin1String kSpeedKey("Combo2");

} // namespace settings::stored
