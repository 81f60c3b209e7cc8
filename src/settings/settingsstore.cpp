#include "settings/settingsstore.h"

namespace settings {

SettingsStore::~SettingsStore() = default;

} // namespace settings
