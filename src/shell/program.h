#pragma once

namespace shell {

// The whole program: answers --help and --version, opens the display (or
// says in one line that there is none), then runs the main window until it
// closes. Returns the process's exit status.
int runProgram(int argc, char *argv[]);

} // namespace shell
