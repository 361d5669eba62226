// One stream frame as the ECU sent it, with everything that reads or holds
// one: the register, value and bit tables and the conversions
// (data/Registers.h), the current-sample cell (data/SampleCell.h) and the
// recorder state the threads share (data/RecorderState.h).
#pragma once

#include "data/RecorderState.h"
#include "data/Registers.h"
#include "data/SampleCell.h"
