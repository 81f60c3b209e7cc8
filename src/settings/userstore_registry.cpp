#include "settings/userstore.h"

#include "settings/registrysettingsstore.h"

namespace settings {

std::unique_ptr<SettingsStore> openUserStore()
{
    return std::make_unique<RegistrySettingsStore>();
}

} // namespace settings
