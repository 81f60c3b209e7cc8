#pragma once

#include <QString>
#include <QtGlobal>

namespace errors {

class MessageBox;

QString supportAddress();

// Where a guarded handler is, as its reports name it: "in <program>.<window>.<handler> ".
QString handlerLocation(const char *window, const char *handler);

// The exact report text: description, CR LF, location, "at line ", number,
// CR CR and the request to mail a screenshot.
QString applicationErrorText(const QString &description, const QString &location, quint16 line);

// Shows the "Application Error" box (warning icon, OK only) and returns once it
// is dismissed.
void reportApplicationError(MessageBox &box, const QString &description, const QString &location,
                            quint16 line);

} // namespace errors
