#include "userstore.h"

#include "inifilestore.h"

namespace settings {

std::unique_ptr<SettingsStore> openUserStore()
{
    return std::make_unique<IniFileStore>();
}

} // namespace settings
