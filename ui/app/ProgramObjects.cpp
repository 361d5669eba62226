// The program-wide objects, built in the order the program needs (see
// ProgramObjects) before any window exists.
#include "control/ProgramObjects.h"

namespace {
ProgramObjects programObjects;
}  // namespace

ProgramObjects& TheProgram() { return programObjects; }
