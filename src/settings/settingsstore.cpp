#include "settings/settingsstore.h"

namespace settings {

errors::Failure writeFailure(const QString &where, const QString &why)
{
    return errors::Failure(QStringLiteral("Cannot write the settings to %1: %2").arg(where, why));
}

SettingsStore::~SettingsStore() = default;

} // namespace settings
