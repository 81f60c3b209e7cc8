#include "errors/messagebox.h"

namespace errors {

MessageBox::~MessageBox() = default;

} // namespace errors
