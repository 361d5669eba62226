// The program-wide instances: one object whose members are built in the
// order the program needs (see ProgramObjects), before any window exists.
#include "control/ProgramInstances.h"

namespace {
ProgramObjects programObjects;
}  // namespace

ProgramInstances& TheProgramInstances() { return programObjects.refs; }
