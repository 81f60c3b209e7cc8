#pragma once

#include "settings/settingsstore.h"

#include <memory>

namespace settings {

// The signed-in user's own store: the registry on Windows, a file in the
// configuration folder elsewhere.
std::unique_ptr<SettingsStore> openUserStore();

} // namespace settings
