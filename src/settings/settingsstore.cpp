#include "settingsstore.h"

namespace settings {

SettingsStore::~SettingsStore() = default;

} // namespace settings
