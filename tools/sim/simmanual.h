#pragma once

#include "manual.h"

// What brem-sim is, how it is called and what it answers: its --help and manual page.
SManual SimManual();
