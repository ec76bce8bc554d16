#pragma once

// The atomic writer lives in the io subsystem, which every front end links; this name is kept
// for the code that still includes it from here.
#include "io/AtomicOutput.h"
