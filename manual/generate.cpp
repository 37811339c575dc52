// Writes a program's manual page (and bash completion) at build time, on the build machine.
#include "manual.h"

SManual BREM_MANUAL();

int main(int argc, char** argv)
{
    return WriteManualFiles(BREM_MANUAL(), argc, argv);
}
