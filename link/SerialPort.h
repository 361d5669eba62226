// The serial port layer: open a COM port by name with a baud and a line
// format given as text, and move bytes on a port named by its number.
//
// Every call returns one signed 32-bit integer, as the program has always
// used them: a port number or a small negative code from Open, and from the
// rest one of the SerialPort::k... results below. Compare against those by
// name: -1 (a bad port number) is non-zero too, and must never pass for
// success. The Linux calls (termios, poll, ioctl, flock) stay in
// SerialPort.cpp; nothing above this layer sees a file descriptor.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <string>

// Five time-outs in milliseconds, in the order of the Windows COMMTIMEOUTS
// they stand for. Read: a total of readMultiplier x count + readConstant,
// and readInterval between two received bytes. Write: writeMultiplier x
// count + writeConstant. A zero disables that time-out; both write values
// zero means a write has no limit.
//
// A write completes before it returns, as on a synchronous Windows handle:
// Write hands the bytes to the driver and then waits until the driver's
// output queue (TIOCOUTQ) is empty, all within the one write time-out, so a
// purge or close straight after (the stop byte, then Close) cannot throw
// away bytes that had not left. Purge clears the output side only while the
// driver still reports bytes queued. What a USB adapter holds in its own
// transmit buffer once the queue is empty goes out at the line rate, and no
// purge reaches it. tcdrain() is not used: it has no time-out, and an
// adapter whose transmitter never empties would hang the caller. A
// pseudo-terminal always reports an empty queue; there write() itself waits
// for room while the other side reads nothing, within the same time-out. A
// write cut short by the time-out after some bytes were taken still counts
// as done (they go out, or a purge drops them); nothing taken is a failure.
struct PortTimeouts {
  uint32_t readInterval = 0;
  uint32_t readMultiplier = 0;
  uint32_t readConstant = 0;
  uint32_t writeMultiplier = 0;
  uint32_t writeConstant = 0;
  bool operator==(const PortTimeouts&) const = default;
};

// The line settings as last applied by Open: the counterpart of the
// Windows device-control record.
struct LineSettings {
  int32_t baudRate = 0;
  int32_t byteSize = 0;  // 5..8
  int32_t parity = 0;    // 0 none, 1 odd, 2 even
  int32_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  bool parityCheck = false;
  bool ctsFlow = false;   // RTS/CTS hardware flow control
  bool xonXoff = false;   // software flow control, either direction
  bool dtrOn = false;     // DTR held on
  bool rtsOn = false;     // RTS held on
  bool operator==(const LineSettings&) const = default;
};

// How an open port was made to hand over received bytes at once. USB-serial
// adapters of the FTDI kind hold them for up to 16 ms by default, longer
// than a record; the driver turns the low-latency flag into a 1 ms latency
// timer. A pseudo-terminal or a plain UART has nothing to set: no error.
enum class LowLatency {
  kNone,          // refused or not needed
  kFlag,          // TIOCSSERIAL with ASYNC_LOW_LATENCY
  kLatencyTimer,  // the driver's latency_timer in sysfs, written as 1 ms
};

// The sysfs file of a terminal device's latency timer
// ("/sys/class/tty/ttyUSB0/device/latency_timer" for /dev/ttyUSB0 or a link
// to it); "" when the path names no device.
std::string LatencyTimerPath(const std::string& devicePath, const std::string& sysRoot = "/sys");

class SerialPort {
 public:
  static constexpr int kSlotCount = 10;

  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Results. Open gives the port number (1..10) on success, the others
  // kDone; every call gives kBadPort for a number outside 1..10.
  static constexpr int32_t kDone = 1;         // done (the port number, from Open)
  static constexpr int32_t kRefused = 0;      // the system refused, or no device is open
  static constexpr int32_t kBadPort = -1;     // number out of range; Open: unknown name or no slot
  static constexpr int32_t kBadBaud = -2;     // Open: baud text not accepted
  static constexpr int32_t kBadFormat = -3;   // Open: format text invalid
  static constexpr int32_t kOpenFailed = -4;  // Open: the device could not be opened or set up
  static constexpr int32_t kNoData = -5;      // Read: no byte came within the time-outs

  // The port number, or kBadPort, kBadBaud, kBadFormat or kOpenFailed (the
  // device is then closed again).
  [[nodiscard]] int32_t Open(const char* name, const char* baud, const char* format);
  [[nodiscard]] int32_t Close(int32_t port);  // kDone also when the slot was free
  [[nodiscard]] int32_t Purge(int32_t port);  // kDone, kRefused or kBadPort
  // kDone once the bytes were taken, kRefused when none were, kBadPort.
  [[nodiscard]] int32_t Write(int32_t port, const uint8_t* bytes, int32_t count);
  // Reads up to count bytes within the time-outs and stores a zero byte
  // after them (buffer holds count + 1): kDone some bytes, kNoData none,
  // kRefused, kBadPort. bytesRead, when given, receives how many bytes came:
  // a caller that asked for what InputCount promised can still get fewer (a
  // purge or a second reader in between), and must not use stale buffer bytes.
  [[nodiscard]] int32_t Read(int32_t port, uint8_t* buffer, int32_t count,
                             int32_t* bytesRead = nullptr);
  // Bytes waiting (0 when unknown), or kBadPort.
  [[nodiscard]] int32_t InputCount(int32_t port);
  // kDone, kRefused or kBadPort.
  [[nodiscard]] int32_t SetTimeouts(int32_t port, const PortTimeouts& timeouts);

  // Waits up to timeoutMs (negative: no limit) for input on an open port;
  // returns the number of bytes waiting then (0 when none, no port or out of
  // range). Lets a reader sleep in the kernel instead of polling. The wait
  // also ends when one of wakeFds turns readable; each is taken to be an
  // eventfd and read empty then. Open, Close and SetTimeouts end the wait
  // too, so a reader waiting without a limit never holds them off.
  [[nodiscard]] int32_t WaitInput(int32_t port, int32_t timeoutMs,
                                  std::span<const int> wakeFds = {});

  // The port map: slot n ("COMn") is a device path, /dev/ttyUSB<n-1>
  // unless its owner sets another. Takes effect at the next Open.
  void SetDevicePath(int32_t port, const std::string& path);
  std::string DevicePath(int32_t port) const;

  // What Open and SetTimeouts last applied to an open slot, for callers
  // that report the line state and for tests.
  bool IsOpen(int32_t port) const;
  // The device of an open port went away (the adapter was pulled or reset):
  // the descriptor only reports a hang-up now, and nothing is left to read.
  // A device that comes back under its name is a new one: only a new Open
  // reaches it.
  bool HungUp(int32_t port) const;
  LineSettings Settings(int32_t port) const;
  PortTimeouts Timeouts(int32_t port) const;
  LowLatency LowLatencyOf(int32_t port) const;

 private:
  struct PortSlot {
    // Transfers share the slot; Open, Close and SetTimeouts take it alone,
    // so a descriptor is never closed under a running read.
    mutable std::shared_mutex lock;
    // One who wants the slot alone counts itself here and rings the
    // interrupt (an eventfd, made by the constructor), so that WaitInput
    // and the wait at the end of Write give way instead of holding it off.
    std::atomic<int32_t> aloneWaiting{0};
    int interruptFd = -1;
    int fd = -1;
    LineSettings settings;
    PortTimeouts timeouts;
    LowLatency lowLatency = LowLatency::kNone;
    std::string devicePath;
  };
  PortSlot* SlotOf(int32_t port);
  const PortSlot* SlotOf(int32_t port) const;
  static std::unique_lock<std::shared_mutex> TakeAlone(PortSlot& slot);

  PortSlot slots_[kSlotCount];
  mutable std::mutex mapLock_;  // guards devicePath of every slot
};

// Maps a port argument as users give it: "COM1".."COM10" to its number,
// anything else to 0 (callers then treat it as a device path).
int32_t PortNumberFromName(const std::string& name);
