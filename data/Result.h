// What an operation that succeeds or fails reports: the Consult session, the
// log memory, record store and fetch, the log files and the export all give
// one of these two (0 for success, 1 for failure, as the program has always
// numbered them). An enum class, so that a result is compared by name and
// never read as a number or a truth value by mistake.
#pragma once

#include <cstdint>

enum class [[nodiscard]] Result : int32_t { kOk = 0, kFailed = 1 };
