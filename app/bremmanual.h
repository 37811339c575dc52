#pragma once

#include "manual.h"

// What brem is, how it is called and what it answers: its --help and manual page.
SManual BremManual();

// Whether the command line asks for --help, which brem answers before it opens a window.
bool BremHelpAsked(int argc, char** argv);
