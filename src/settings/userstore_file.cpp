#include "userstore.h"

#include "qtsettingsstore.h"

namespace settings {

std::unique_ptr<SettingsStore> openUserStore()
{
    return std::make_unique<QtSettingsStore>();
}

} // namespace settings
