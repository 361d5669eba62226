#include "link/SerialSpeed.h"

// Only the kernel's own definitions here: <termios.h> must not be included.
#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetArbitraryBaudRate(int fd, int32_t baud) {
  struct termios2 t;
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  // BOTHER in both the output and the input speed field: the speeds are
  // then taken from c_ospeed and c_ispeed as plain numbers.
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = static_cast<speed_t>(baud);
  t.c_ospeed = static_cast<speed_t>(baud);
  return ioctl(fd, TCSETS2, &t) == 0;
}
