#include "link/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/SerialSpeed.h"

namespace {

using Clock = std::chrono::steady_clock;

// Names a user may give; the position counted from 1 is the port number.
// Only the first kSlotCount have a slot.
const char* const kPortNames[] = {
    "COM1",  "COM2",  "COM3",  "COM4",  "COM5",  "COM6",  "COM7",
    "COM8",  "COM9",  "COM10", "COM11", "COM12", "COM13", "COM14",
    "COM15", "COM16", "COM17", "COM18", "COM19", "COM20",
};

// Accepted baud texts, with the termios code of each; B0 marks the rates
// that termios has no constant for and that go through termios2.
struct BaudEntry {
  const char* text;
  speed_t code;
};
const BaudEntry kBaudRates[] = {
    {"115200", B115200}, {"57600", B57600}, {"38400", B38400}, {"28800", B0},
    {"19200", B19200},   {"14400", B0},     {"9600", B9600},
};

// Stop-bit texts; the position is the stop-bits code of LineSettings.
const char* const kStopBitTexts[] = {"1", "1.5", "2"};

// What Open leaves in force until the owner sets its own.
constexpr PortTimeouts kOpenTimeouts{500, 10, 500, 10, 500};

// A read with this interval and no total time-out returns at once with
// whatever is waiting, as on Windows.
constexpr uint32_t kReturnAtOnce = 0xFFFFFFFFu;

// The port map's default: the n-th USB-serial adapter the kernel found.
std::string DefaultDevicePath(int32_t port) { return "/dev/ttyUSB" + std::to_string(port - 1); }

template <size_t N>
int TableIndex(const char* const (&table)[N], const char* text) {
  if (text == nullptr) return -1;
  for (size_t i = 0; i < N; ++i)
    if (std::strcmp(table[i], text) == 0) return static_cast<int>(i);
  return -1;
}

// The format text is letter, separator, data-bits digit, separator,
// stop-bit text ("N,8,1"); the separators are not looked at.
bool ParseFormat(const char* format, LineSettings& line) {
  if (format == nullptr || std::strlen(format) < 5) return false;
  switch (format[0] & ~0x20) {
    case 'E': line.parity = 2; break;
    case 'N': line.parity = 0; break;
    case 'O': line.parity = 1; break;
    default: return false;
  }
  if (format[2] < '5' || format[2] > '8') return false;
  line.byteSize = format[2] - '0';
  const int stop = TableIndex(kStopBitTexts, format + 4);
  if (stop < 0) return false;
  line.stopBits = stop;
  line.parityCheck = line.parity != 0;
  return true;
}

tcflag_t DataBitsFlag(int32_t byteSize) {
  switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

// Raw line, the parsed format, no flow control of any kind, modem lines
// ignored, DTR and RTS held off.
bool ApplyLine(int fd, const LineSettings& line, speed_t speedCode) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= DataBitsFlag(line.byteSize) | CLOCAL | CREAD;
  if (line.parity != 0) {
    t.c_cflag |= PARENB;
    if (line.parity == 1) t.c_cflag |= PARODD;
    t.c_iflag |= INPCK;
  } else {
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  }
  // termios knows one or two stop bits only; one and a half becomes two,
  // which any receiver set to 1.5 still reads.
  if (line.stopBits != 0) t.c_cflag |= CSTOPB;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // Reads never block in the driver: poll() carries the time-outs.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (speedCode != B0) {
    cfsetispeed(&t, speedCode);
    cfsetospeed(&t, speedCode);
  }
  if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
  if (speedCode == B0 && !SetArbitraryBaudRate(fd, line.baudRate)) return false;

  // Pseudo-terminals have no modem lines and say so with ENOTTY or EINVAL.
  int bits = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd, TIOCMBIC, &bits) != 0 && errno != ENOTTY && errno != EINVAL) return false;
  return true;
}

// Undoes TIOCEXCL before closing: the flag belongs to the terminal, not to
// this descriptor, and would otherwise lock out the next open while anyone
// else still holds the terminal.
void ReleaseDevice(int fd) {
  ioctl(fd, TIOCNXCL);
  ::close(fd);  // also drops the flock
}

// Milliseconds from now until deadline, rounded up, at least 0.
int MsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, INT_MAX));
}

void RingEventFd(int fd) {
  const uint64_t one = 1;
  if (fd >= 0 && ::write(fd, &one, sizeof one) < 0) {
    // Only a counter about to overflow refuses, and that one is readable.
  }
}

void ClearEventFd(int fd) {
  uint64_t count = 0;
  if (fd >= 0 && ::read(fd, &count, sizeof count) < 0) {
    // EAGAIN: it was empty already.
  }
}

int QueuedInput(int fd) {
  int waiting = 0;
  if (ioctl(fd, FIONREAD, &waiting) != 0) return 0;
  return waiting;
}

// How long one character takes on the line: start bit, data bits, parity
// bit, stop bits.
std::chrono::microseconds CharacterTime(const LineSettings& line) {
  const int bits = 1 + line.byteSize + (line.parity != 0 ? 1 : 0) + (line.stopBits != 0 ? 2 : 1);
  const int baud = line.baudRate > 0 ? line.baudRate : 9600;
  return std::chrono::microseconds(1000000LL * bits / baud + 1);
}

}  // namespace

SerialPort::SerialPort() {
  for (int32_t n = 1; n <= kSlotCount; ++n) {
    slots_[n - 1].devicePath = DefaultDevicePath(n);
    // Without one (no descriptors left) a reader's wait is not cut short
    // and Close waits for its time-out; nothing else changes.
    slots_[n - 1].interruptFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }
}

// The program's one instance ends with the process, which would close its
// ports anyway; closing here keeps short-lived instances (tests, tools)
// from leaving a locked device behind.
SerialPort::~SerialPort() {
  for (int32_t n = 1; n <= kSlotCount; ++n) {
    (void)Close(n);  // always kDone for a number in range
    if (slots_[n - 1].interruptFd >= 0) ::close(slots_[n - 1].interruptFd);
  }
}

// A reader may sit in WaitInput without a time-out, holding the slot
// shared; it sees the count or the ring and returns, and the count keeps it
// (and any other) from starting a new wait until this one has the slot. The
// ring is cleared under the exclusive lock, when nobody waits on it.
std::unique_lock<std::shared_mutex> SerialPort::TakeAlone(PortSlot& slot) {
  slot.aloneWaiting.fetch_add(1);
  RingEventFd(slot.interruptFd);
  std::unique_lock<std::shared_mutex> lock(slot.lock);
  slot.aloneWaiting.fetch_sub(1);
  ClearEventFd(slot.interruptFd);
  return lock;
}

SerialPort::PortSlot* SerialPort::SlotOf(int32_t port) {
  if (port < 1 || port > kSlotCount) return nullptr;
  return &slots_[port - 1];
}

const SerialPort::PortSlot* SerialPort::SlotOf(int32_t port) const {
  if (port < 1 || port > kSlotCount) return nullptr;
  return &slots_[port - 1];
}

std::string LatencyTimerPath(const std::string& devicePath, const std::string& sysRoot) {
  std::error_code error;
  const std::filesystem::path device = std::filesystem::canonical(devicePath, error);
  if (error || device.filename().empty()) return {};
  return sysRoot + "/class/tty/" + device.filename().string() + "/device/latency_timer";
}

namespace {

// Asks the driver for its lowest latency; neither way is needed for the
// port to work, so a refusal is only reported, never a failure.
LowLatency AskLowLatency(int fd, const std::string& path) {
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &serial) == 0) return LowLatency::kFlag;
  }
  const std::string timer = LatencyTimerPath(path);
  if (timer.empty() || access(timer.c_str(), W_OK) != 0) return LowLatency::kNone;
  std::ofstream file(timer);
  file << "1\n";
  file.flush();
  return file ? LowLatency::kLatencyTimer : LowLatency::kNone;
}

}  // namespace

int32_t SerialPort::Open(const char* name, const char* baud, const char* format) {
  const int32_t port = TableIndex(kPortNames, name) + 1;
  if (port == 0 || port > kSlotCount) return kBadPort;

  const BaudEntry* baudEntry = nullptr;
  for (const BaudEntry& entry : kBaudRates)
    if (baud != nullptr && std::strcmp(entry.text, baud) == 0) baudEntry = &entry;
  if (baudEntry == nullptr) return kBadBaud;
  long baudRate = 0;
  std::sscanf(baudEntry->text, "%ld", &baudRate);

  LineSettings line;
  if (!ParseFormat(format, line)) return kBadFormat;
  line.baudRate = static_cast<int32_t>(baudRate);

  const std::string path = DevicePath(port);
  PortSlot& slot = slots_[port - 1];
  const std::unique_lock lock = TakeAlone(slot);
  if (slot.fd >= 0) return kOpenFailed;  // the device is not shared, not even with ourselves

  // O_NONBLOCK so that open() does not wait for a carrier on a modem line;
  // every wait afterwards is a poll() with the port's time-outs.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kOpenFailed;
  if (!isatty(fd)) {
    ::close(fd);
    return kOpenFailed;
  }
  // TIOCEXCL stops other opens, but not root's; the flock also holds
  // against root. Lock first, so a refused open never touches the
  // exclusive flag of the terminal that its first owner set.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return kOpenFailed;
  }
  if (ioctl(fd, TIOCEXCL) != 0 || !ApplyLine(fd, line, baudEntry->code)) {
    ReleaseDevice(fd);
    return kOpenFailed;
  }
  slot.fd = fd;
  slot.settings = line;
  slot.timeouts = kOpenTimeouts;
  slot.lowLatency = AskLowLatency(fd, path);
  return port;
}

int32_t SerialPort::Close(int32_t port) {
  PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return kBadPort;
  const std::unique_lock lock = TakeAlone(*slot);
  if (slot->fd >= 0) ReleaseDevice(slot->fd);
  slot->fd = -1;
  return kDone;
}

int32_t SerialPort::Purge(int32_t port) {
  PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return kBadPort;
  std::shared_lock lock(slot->lock);
  if (slot->fd < 0) return kRefused;
  // Input always; output only while the driver still holds some. A write
  // that returned has completed (see PortTimeouts), so there is nothing of
  // it to recall; and a pseudo-terminal, which never reports an output
  // queue, would drop bytes the other side was sent but has not taken in
  // yet (the stop byte before Close).
  int queued = 0;
  const bool outputQueued = ioctl(slot->fd, TIOCOUTQ, &queued) != 0 || queued > 0;
  return tcflush(slot->fd, outputQueued ? TCIOFLUSH : TCIFLUSH) == 0 ? kDone : kRefused;
}

int32_t SerialPort::Write(int32_t port, const uint8_t* bytes, int32_t count) {
  PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return kBadPort;
  std::shared_lock lock(slot->lock);
  if (slot->fd < 0) return kRefused;
  if (count <= 0) return kDone;
  if (bytes == nullptr) return kRefused;

  const PortTimeouts& t = slot->timeouts;
  const uint64_t totalMs = uint64_t{t.writeMultiplier} * uint64_t(count) + t.writeConstant;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
  int32_t written = 0;
  while (written < count) {
    const ssize_t n = ::write(slot->fd, bytes + written, static_cast<size_t>(count - written));
    if (n > 0) {
      written += static_cast<int32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return kRefused;
    // The output queue is full: wait for room within the write time-out.
    pollfd p{slot->fd, POLLOUT, 0};
    const int r = poll(&p, 1, totalMs == 0 ? -1 : MsUntil(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return kRefused;
    // A time-out ends the write with what went out; nothing at all is a failure.
    if (r == 0) return written > 0 ? kDone : kRefused;
    if ((p.revents & POLLOUT) == 0) return kRefused;  // hung up or in error
  }

  // Then until the driver has sent them (see PortTimeouts), looking again
  // about when the queue should have gone at the line rate.
  const std::chrono::microseconds perCharacter = CharacterTime(slot->settings);
  for (;;) {
    int queued = 0;
    if (ioctl(slot->fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    if (slot->aloneWaiting.load() > 0) break;  // a Close wants the slot: let it have it
    auto pause = std::clamp<Clock::duration>(perCharacter * queued, std::chrono::milliseconds(1),
                                             std::chrono::milliseconds(20));
    if (totalMs != 0) {
      const Clock::duration left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) break;
      pause = std::min(pause, left);
    }
    std::this_thread::sleep_for(pause);
  }
  return kDone;
}

int32_t SerialPort::Read(int32_t port, uint8_t* buffer, int32_t count, int32_t* bytesRead) {
  if (bytesRead != nullptr) *bytesRead = 0;
  PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return kBadPort;
  std::shared_lock lock(slot->lock);
  if (slot->fd < 0 || buffer == nullptr) return kRefused;
  count = std::max(count, 0);

  // The Windows rules: a total of multiplier x count + constant from the
  // start, and an interval between two bytes counted once the first came.
  // No time-out at all means waiting for all count bytes.
  const PortTimeouts& t = slot->timeouts;
  const bool atOnce = t.readInterval == kReturnAtOnce && t.readMultiplier == 0 && t.readConstant == 0;
  const uint64_t totalMs = uint64_t{t.readMultiplier} * uint64_t(count) + t.readConstant;
  const Clock::time_point totalDeadline = Clock::now() + std::chrono::milliseconds(totalMs);
  Clock::time_point lastByte{};

  int32_t got = 0;
  bool failed = false;
  while (got < count) {
    int waitMs = -1;
    if (atOnce) {
      waitMs = 0;
    } else {
      if (totalMs > 0) waitMs = MsUntil(totalDeadline);
      if (t.readInterval > 0 && got > 0) {
        const int intervalMs = MsUntil(lastByte + std::chrono::milliseconds(t.readInterval));
        waitMs = waitMs < 0 ? intervalMs : std::min(waitMs, intervalMs);
      }
    }
    pollfd p{slot->fd, POLLIN, 0};
    const int r = poll(&p, 1, waitMs);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      failed = true;
      break;
    }
    if (r == 0) break;  // timed out
    const ssize_t n = ::read(slot->fd, buffer + got, static_cast<size_t>(count - got));
    if (n > 0) {
      got += static_cast<int32_t>(n);
      lastByte = Clock::now();
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    // End of file or an error: the device has gone (cable pulled, peer closed).
    failed = true;
    break;
  }
  buffer[got] = 0;
  if (bytesRead != nullptr) *bytesRead = got;
  if (got > 0) return kDone;
  return failed ? kRefused : kNoData;
}

int32_t SerialPort::InputCount(int32_t port) {
  PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return kBadPort;
  std::shared_lock lock(slot->lock);
  if (slot->fd < 0) return 0;  // a count: nothing waits on a closed slot
  return QueuedInput(slot->fd);
}

int32_t SerialPort::SetTimeouts(int32_t port, const PortTimeouts& timeouts) {
  PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return kBadPort;
  const std::unique_lock lock = TakeAlone(*slot);
  if (slot->fd < 0) return kRefused;
  slot->timeouts = timeouts;
  return kDone;
}

int32_t SerialPort::WaitInput(int32_t port, int32_t timeoutMs, std::span<const int> wakeFds) {
  PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return 0;  // a count, like the rest of its results
  std::shared_lock lock(slot->lock);
  if (slot->fd < 0) return 0;
  if (slot->aloneWaiting.load() > 0) return QueuedInput(slot->fd);  // give way at once

  // The port, the slot's interrupt, then the caller's wake descriptors.
  constexpr size_t kMaxWakeFds = 4;
  pollfd fds[2 + kMaxWakeFds];
  fds[0] = pollfd{slot->fd, POLLIN, 0};
  fds[1] = pollfd{slot->interruptFd, POLLIN, 0};
  nfds_t count = 2;
  for (const int fd : wakeFds)
    if (count < std::size(fds)) fds[count++] = pollfd{fd, POLLIN, 0};
  const int waitMs = timeoutMs < 0 ? -1 : timeoutMs;
  const int r = poll(fds, count, waitMs);
  const int waiting = QueuedInput(slot->fd);

  // A vanished device reports a hang-up at once, again and again; wait on
  // the other descriptors alone for the time-out, so that a caller that
  // waits again does not spin.
  bool othersFired = false;
  for (nfds_t i = 1; i < count; ++i) othersFired = othersFired || fds[i].revents != 0;
  if (r > 0 && waiting == 0 && !othersFired &&
      (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
    fds[0].fd = -1;  // poll() skips it
    poll(fds, count, waitMs);
  }
  for (nfds_t i = 2; i < count; ++i)
    if ((fds[i].revents & POLLIN) != 0) ClearEventFd(fds[i].fd);
  return waiting;
}

void SerialPort::SetDevicePath(int32_t port, const std::string& path) {
  PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return;
  std::lock_guard lock(mapLock_);
  slot->devicePath = path;
}

std::string SerialPort::DevicePath(int32_t port) const {
  const PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return {};
  std::lock_guard lock(mapLock_);
  return slot->devicePath;
}

bool SerialPort::HungUp(int32_t port) const {
  const PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return false;
  std::shared_lock lock(slot->lock);
  if (slot->fd < 0) return false;
  pollfd fd{slot->fd, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && QueuedInput(slot->fd) == 0;
}

bool SerialPort::IsOpen(int32_t port) const {
  const PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return false;
  std::shared_lock lock(slot->lock);
  return slot->fd >= 0;
}

LineSettings SerialPort::Settings(int32_t port) const {
  const PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return {};
  std::shared_lock lock(slot->lock);
  return slot->fd >= 0 ? slot->settings : LineSettings{};
}

LowLatency SerialPort::LowLatencyOf(int32_t port) const {
  const PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return LowLatency::kNone;
  std::shared_lock lock(slot->lock);
  return slot->fd >= 0 ? slot->lowLatency : LowLatency::kNone;
}

PortTimeouts SerialPort::Timeouts(int32_t port) const {
  const PortSlot* slot = SlotOf(port);
  if (slot == nullptr) return {};
  std::shared_lock lock(slot->lock);
  return slot->fd >= 0 ? slot->timeouts : PortTimeouts{};
}

int32_t PortNumberFromName(const std::string& name) {
  const int index = TableIndex(kPortNames, name.c_str());
  return index >= 0 && index < SerialPort::kSlotCount ? index + 1 : 0;
}
