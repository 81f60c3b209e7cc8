#include "settings/userstore.h"

#include "settings/inifilestore.h"

namespace settings {

std::unique_ptr<SettingsStore> openUserStore()
{
    return std::make_unique<IniFileStore>();
}

} // namespace settings
