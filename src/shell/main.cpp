#include "shell/endrequests.h"
#include "shell/program.h"

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char *argv[])
{
    // Before any thread starts, so that every thread inherits the block.
    shell::holdEndRequests();
#ifdef _WIN32
    // Before anything loads a DLL by name: only from the program's folder and
    // the system's, never from the current folder or PATH.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
#endif
    return shell::runProgram(argc, argv);
}
