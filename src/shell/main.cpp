#include "program.h"

int main(int argc, char *argv[])
{
    return shell::runProgram(argc, argv);
}
