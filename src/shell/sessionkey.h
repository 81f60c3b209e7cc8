#pragma once

#include <QString>
#include <QStringList>

class QProcessEnvironment;

namespace shell {

// The value of Qt's option -name (or --name) in arguments; empty if not given.
QString qtOptionValue(const QStringList &arguments, const QString &name);

// The platform plugins Qt is asked to try, by -platform or QT_QPA_PLATFORM,
// without their options; empty for Qt's default.
QStringList requestedPlatforms(const QStringList &arguments,
                               const QProcessEnvironment &environment);

} // namespace shell
