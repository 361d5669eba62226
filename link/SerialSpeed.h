// Baud rates that <termios.h> has no Bxxx constant for (28800, 14400) are
// set through the kernel's termios2 interface. Its header clashes with
// <termios.h>, so it lives in a translation unit of its own.
#pragma once

#include <cstdint>

// Sets input and output speed of a terminal to any rate; true on success.
bool SetArbitraryBaudRate(int fd, int32_t baud);
