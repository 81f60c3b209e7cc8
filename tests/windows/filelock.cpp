// Holds the file named by its argument open, shared with no one, until it is
// ended: a file in use that cannot be removed, as a virus scanner or another
// program may hold one of the program's files.
//   filelock <file>
#include <windows.h>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    Sleep(INFINITE);
    return 0;
}
