#pragma once

#include <QtGlobal>

#ifdef Q_OS_WIN
#include "qtsettingsstore.h"
#else
#include "inifilestore.h"
#endif

namespace settings {

// The registry on Windows; an INI file in the user's configuration folder elsewhere.
#ifdef Q_OS_WIN
using NativeSettingsStore = QtSettingsStore;
#else
using NativeSettingsStore = IniFileStore;
#endif

} // namespace settings
