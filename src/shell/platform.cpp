#include "shell/platform.h"

namespace shell {

Platform::~Platform() = default;

} // namespace shell
