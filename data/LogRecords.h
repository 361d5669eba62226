// Reading a stretch of the recording out of the log memory in one go, for
// the computations that look at a whole recording (run timing, pulls).
#pragma once

#include <cstdint>
#include <vector>

#include "data/Memmap.h"
#include "data/SampleRecord.h"

// Copies records [first, first + count) of the log memory's recording (slot
// kLogMemorySlot, 40-byte header area, 20-byte records), clipped to what the
// section holds. Never writes the log memory.
std::vector<SampleRecord> ReadLogRecords(LogMemory& memory, uint32_t first, uint32_t count);
