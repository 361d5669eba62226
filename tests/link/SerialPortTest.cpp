#include "link/SerialPort.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "tests/common/TempDir.h"
#include "tests/link/LinkTestSupport.h"

namespace {

constexpr int32_t kPort = 3;

termios SlaveSettings(const PtyPair& pty) {
  termios t{};
  tcgetattr(pty.slave(), &t);
  return t;
}

// ---- Open: names, bauds, formats, devices ----------------------------------

class SerialPortOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    port.SetDevicePath(kPort, pty.path());
  }
  PtyPair pty;
  SerialPort port;
};

TEST_F(SerialPortOpen, ConsultSettingsReachTheTerminal) {
  ASSERT_EQ(port.Open("COM3", "9600", "N,8,1"), 3);
  EXPECT_TRUE(port.IsOpen(3));

  const termios t = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&t), speed_t{B9600});
  EXPECT_EQ(cfgetispeed(&t), speed_t{B9600});
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS8});
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  LineSettings expected;
  expected.baudRate = 9600;
  expected.byteSize = 8;
  EXPECT_EQ(port.Settings(3), expected);  // also: no CTS, no XON/XOFF, DTR and RTS off
  EXPECT_EQ(port.Timeouts(3), (PortTimeouts{500, 10, 500, 10, 500}));
  // A pseudo-terminal has no latency to lower: no error, and nothing set.
  EXPECT_EQ(port.LowLatencyOf(3), LowLatency::kNone);
}

TEST(SerialPortLatency, TheTimerOfADeviceIsFoundThroughItsLinks) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const std::string name = pty.path().substr(pty.path().rfind('/') + 1);
  EXPECT_EQ(LatencyTimerPath(pty.path(), "/sys"), "/sys/class/tty/" + name + "/device/latency_timer");
  EXPECT_EQ(LatencyTimerPath("/dev/no-such-device"), "");
}

TEST_F(SerialPortOpen, FormatLetterIsUpperCasedAndSeparatorsIgnored) {
  struct Case {
    const char* format;
    int32_t parity, byteSize, stopBits;
    tcflag_t cflags;  // PARENB | PARODD | CSTOPB | CSIZE as a real port keeps them
    bool parityCheck;
  };
  const Case cases[] = {
      {"n,8,1", 0, 8, 0, CS8, false},
      {"E,7,2", 2, 7, 2, PARENB | CSTOPB | CS7, true},
      {"o,6,1", 1, 6, 0, PARENB | PARODD | CS6, true},
      // One and a half stop bits are sent as two on Linux.
      {"O-5-1.5", 1, 5, 1, PARENB | PARODD | CSTOPB | CS5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    ASSERT_EQ(port.Open("COM3", "9600", c.format), 3);
    const LineSettings s = port.Settings(3);
    EXPECT_EQ(s.parity, c.parity);
    EXPECT_EQ(s.byteSize, c.byteSize);
    EXPECT_EQ(s.stopBits, c.stopBits);
    EXPECT_EQ(s.parityCheck, c.parityCheck);
    // A pseudo-terminal forces 8 data bits and no parity on itself; the
    // parity sense, the stop bits and the parity check stay as set.
    const termios t = SlaveSettings(pty);
    EXPECT_EQ(t.c_cflag & (PARODD | CSTOPB), c.cflags & (PARODD | CSTOPB));
    EXPECT_EQ((t.c_iflag & INPCK) != 0, c.parityCheck);
    EXPECT_EQ(port.Close(3), 1);
  }
}

TEST_F(SerialPortOpen, EveryBaudOfTheTableOpens) {
  struct Case {
    const char* text;
    int32_t rate;
    speed_t code;  // B0: no termios constant, set through termios2
  };
  const Case cases[] = {{"115200", 115200, B115200}, {"57600", 57600, B57600},
                        {"38400", 38400, B38400},    {"28800", 28800, B0},
                        {"19200", 19200, B19200},    {"14400", 14400, B0},
                        {"9600", 9600, B9600}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(port.Open("COM3", c.text, "N,8,1"), 3);
    EXPECT_EQ(port.Settings(3).baudRate, c.rate);
    if (c.code != B0) {
      const termios t = SlaveSettings(pty);
      EXPECT_EQ(cfgetospeed(&t), c.code);
    }
    EXPECT_EQ(port.Close(3), 1);
  }
}

TEST_F(SerialPortOpen, NamesOutsideTheSlotsAreRefused) {
  for (const char* name : {"com3", "Com3", "COM3 ", " COM3", "COM0", "COM11", "COM12", "COM20",
                           "COM21", "COM", "", "/dev/ttyUSB2"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(port.Open(name, "9600", "N,8,1"), -1);
  }
  EXPECT_EQ(port.Open(nullptr, "9600", "N,8,1"), -1);
  // The name is checked first, then the baud, then the format.
  EXPECT_EQ(port.Open("COM12", "4800", "X"), -1);
  EXPECT_EQ(port.Open("COM3", "4800", "X"), -2);
  for (int n = 1; n <= SerialPort::kSlotCount; ++n) EXPECT_FALSE(port.IsOpen(n));
}

TEST_F(SerialPortOpen, BaudTextsOutsideTheTableAreRefused) {
  for (const char* baud : {"4800", "9600 ", " 9600", "09600", "9601", "", "115200.0"}) {
    SCOPED_TRACE(baud);
    EXPECT_EQ(port.Open("COM3", baud, "N,8,1"), -2);
  }
  EXPECT_EQ(port.Open("COM3", nullptr, "N,8,1"), -2);
  EXPECT_FALSE(port.IsOpen(3));
}

TEST_F(SerialPortOpen, InvalidFormatsAreRefused) {
  for (const char* format : {"X,8,1", "N,9,1", "N,4,1", "N,8,3", "N,8,0", "N,8,", "N,8", "N",
                             "", "N,8,1 ", "N,8,1.0", "N,8,15", "N,a,1", "@,8,1"}) {
    SCOPED_TRACE(format);
    EXPECT_EQ(port.Open("COM3", "9600", format), -3);
  }
  EXPECT_EQ(port.Open("COM3", "9600", nullptr), -3);
  EXPECT_FALSE(port.IsOpen(3));
}

TEST_F(SerialPortOpen, DevicesThatAreNotTerminalsAreRefused) {
  TempDir dir;
  const std::string file = dir.Path("plain-file");
  std::ofstream(file).put('x');
  for (const std::string& path : {std::string("/nonexistent/ttyUSB0"), std::string("/dev/null"),
                                 file, dir.Root()}) {
    SCOPED_TRACE(path);
    port.SetDevicePath(3, path);
    EXPECT_EQ(port.Open("COM3", "9600", "N,8,1"), -4);
    EXPECT_FALSE(port.IsOpen(3));
  }
  // The slot is still usable afterwards.
  port.SetDevicePath(3, pty.path());
  EXPECT_EQ(port.Open("COM3", "9600", "N,8,1"), 3);
}

TEST_F(SerialPortOpen, AnOpenPortIsExclusiveAndTheFirstHandleKeepsWorking) {
  ASSERT_EQ(port.Open("COM3", "9600", "N,8,1"), 3);
  EXPECT_EQ(port.Open("COM3", "9600", "N,8,1"), -4);  // same slot again

  port.SetDevicePath(4, pty.path());  // another slot naming the same device
  EXPECT_EQ(port.Open("COM4", "9600", "N,8,1"), -4);
  EXPECT_FALSE(port.IsOpen(4));

  SerialPort other;  // another owner, as another program would be
  other.SetDevicePath(3, pty.path());
  EXPECT_EQ(other.Open("COM3", "9600", "N,8,1"), -4);
  EXPECT_FALSE(other.IsOpen(3));

  // The first handle still talks both ways, with its settings intact.
  const uint8_t out[] = {0x30};
  EXPECT_EQ(port.Write(3, out, 1), SerialPort::kDone);
  EXPECT_TRUE(WaitFor([&] { return !pty.ReadAvailable().empty(); }));
  pty.Write({0x10});
  uint8_t in[2] = {};
  EXPECT_EQ(port.Read(3, in, 1), 1);
  EXPECT_EQ(in[0], 0x10);
  const termios t = SlaveSettings(pty);
  EXPECT_EQ(cfgetospeed(&t), speed_t{B9600});

  // Closing gives the device up for the next owner.
  EXPECT_EQ(port.Close(3), 1);
  EXPECT_EQ(other.Open("COM3", "9600", "N,8,1"), 3);
}

// ---- Slot numbers and the port map -----------------------------------------

TEST(SerialPortSlots, NumbersOutsideOneToTenAnswerMinusOne) {
  SerialPort port;
  uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  for (int32_t n : {0, 11, -1, 1000}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(port.Close(n), -1);
    EXPECT_EQ(port.Purge(n), -1);
    EXPECT_EQ(port.Write(n, buffer, 1), -1);
    EXPECT_EQ(port.Read(n, buffer, 1), -1);
    EXPECT_EQ(port.InputCount(n), -1);
    EXPECT_EQ(port.SetTimeouts(n, PortTimeouts{}), -1);
    EXPECT_EQ(port.WaitInput(n, 0), 0);
    EXPECT_FALSE(port.IsOpen(n));
    EXPECT_EQ(port.DevicePath(n), "");
  }
  EXPECT_EQ(buffer[0], 0xAA);  // out of range touches nothing
}

TEST(SerialPortSlots, AFreeSlotClosesButRefusesTransfers) {
  SerialPort port;
  uint8_t buffer[4] = {};
  EXPECT_EQ(port.Close(3), 1);
  EXPECT_EQ(port.Purge(3), 0);
  EXPECT_EQ(port.Write(3, buffer, 1), 0);
  EXPECT_EQ(port.Read(3, buffer, 1), 0);
  EXPECT_EQ(port.InputCount(3), 0);
  EXPECT_EQ(port.SetTimeouts(3, PortTimeouts{1, 2, 3, 4, 5}), 0);
  EXPECT_EQ(port.WaitInput(3, 0), 0);
}

TEST(SerialPortSlots, PortMapDefaultsToUsbSerialDevices) {
  SerialPort port;
  EXPECT_EQ(port.DevicePath(1), "/dev/ttyUSB0");
  EXPECT_EQ(port.DevicePath(10), "/dev/ttyUSB9");
  port.SetDevicePath(4, "/dev/serial/by-id/cable");
  port.SetDevicePath(11, "/dev/ignored");
  EXPECT_EQ(port.DevicePath(4), "/dev/serial/by-id/cable");
  EXPECT_EQ(port.DevicePath(3), "/dev/ttyUSB2");
  EXPECT_EQ(port.DevicePath(5), "/dev/ttyUSB4");
}

TEST(SerialPortSlots, PortNumberFromName) {
  EXPECT_EQ(PortNumberFromName("COM1"), 1);
  EXPECT_EQ(PortNumberFromName("COM10"), 10);
  EXPECT_EQ(PortNumberFromName("COM11"), 0);
  EXPECT_EQ(PortNumberFromName("COM0"), 0);
  EXPECT_EQ(PortNumberFromName("com1"), 0);
  EXPECT_EQ(PortNumberFromName("COM1 "), 0);
  EXPECT_EQ(PortNumberFromName("/dev/ttyUSB0"), 0);
  EXPECT_EQ(PortNumberFromName(""), 0);
}

// ---- Transfers on an open port -------------------------------------------

class SerialPortTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    port.SetDevicePath(kPort, pty.path());
    ASSERT_EQ(port.Open("COM3", "9600", "N,8,1"), kPort);
  }
  // Waits until the bytes the test wrote on the master side have reached
  // the port's input queue.
  void WaitQueued(int32_t count) {
    ASSERT_TRUE(WaitFor([&] { return port.InputCount(kPort) == count; }));
  }
  PtyPair pty;
  SerialPort port;
};

// A write has completed when it returns: the bytes are on the other side
// already, so a purge straight after cannot drop them (the stop byte before
// Close).
TEST_F(SerialPortTransfer, WriteHasReachedTheLineWhenItReturns) {
  const uint8_t request[] = {0x30, 0xFF, 0xFF, 0xEF};
  EXPECT_EQ(port.Write(kPort, request, 4), SerialPort::kDone);
  EXPECT_EQ(port.Purge(kPort), SerialPort::kDone);
  EXPECT_EQ(pty.ReadAvailable(), (Bytes{0x30, 0xFF, 0xFF, 0xEF}));
  EXPECT_EQ(port.Write(kPort, request, 0), SerialPort::kDone);  // nothing to send is no failure
}

// Nobody reads the other side: the terminal's buffer fills and the write
// ends at its time-out with what went out, instead of hanging the caller.
TEST_F(SerialPortTransfer, AWriteNobodyReadsEndsAtItsTimeout) {
  ASSERT_EQ(port.SetTimeouts(kPort, PortTimeouts{0, 0, 0, 0, 50}), 1);
  const std::vector<uint8_t> bulk(256 * 1024, 0x55);  // far more than a terminal buffers
  EXPECT_EQ(port.Write(kPort, bulk.data(), static_cast<int32_t>(bulk.size())), 1);
  const size_t arrived = pty.ReadAvailable().size();
  EXPECT_GT(arrived, 0u);
  EXPECT_LT(arrived, bulk.size());
}

TEST_F(SerialPortTransfer, NothingArrivingGivesMinusFiveAndAZeroByte) {
  const PortTimeouts shortTotals[] = {
      {0, 0, 20, 10, 500},   // constant only
      {0, 5, 0, 10, 500},    // multiplier only: 5 ms x 4 bytes
      {50, 2, 10, 10, 500},  // the interval never starts without a first byte
  };
  for (const PortTimeouts& t : shortTotals) {
    ASSERT_EQ(port.SetTimeouts(kPort, t), 1);
    EXPECT_EQ(port.Timeouts(kPort), t);
    uint8_t buffer[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    int32_t got = -1;
    EXPECT_EQ(port.Read(kPort, buffer, 4, &got), -5);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 0xAA);
  }
  uint8_t buffer[1] = {0xAA};
  EXPECT_EQ(port.Read(kPort, buffer, 0), -5);  // asking for nothing
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(SerialPortTransfer, ReadTakesAtMostCountAndTerminatesTheBytes) {
  pty.Write({1, 2, 3, 4, 5, 6});
  WaitQueued(6);
  uint8_t buffer[5] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  int32_t got = 0;
  EXPECT_EQ(port.Read(kPort, buffer, 4, &got), 1);
  EXPECT_EQ(got, 4);
  EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{1, 2, 3, 4, 0}));
  EXPECT_EQ(port.InputCount(kPort), 2);
}

TEST_F(SerialPortTransfer, IntervalEndsAReadOnceBytesStopComing) {
  // The total would allow ten seconds; the gap after the last byte ends it.
  ASSERT_EQ(port.SetTimeouts(kPort, PortTimeouts{20, 0, 10000, 0, 0}), 1);
  pty.Write({0x41, 0x42});
  WaitQueued(2);
  uint8_t buffer[11] = {};
  int32_t got = 0;
  EXPECT_EQ(port.Read(kPort, buffer, 10, &got), 1);
  EXPECT_EQ(got, 2);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "AB");
}

TEST_F(SerialPortTransfer, IntervalAloneWaitsForTheFirstByte) {
  ASSERT_EQ(port.SetTimeouts(kPort, PortTimeouts{10, 0, 0, 0, 0}), 1);
  std::atomic<int32_t> result{99};
  uint8_t buffer[5] = {};
  int32_t got = 0;
  std::thread reader([&] { result = port.Read(kPort, buffer, 4, &got); });
  pty.Write({0x41, 0x42});
  reader.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(got, 2);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "AB");
}

TEST_F(SerialPortTransfer, NoTimeoutsWaitForEveryByteAskedFor) {
  ASSERT_EQ(port.SetTimeouts(kPort, PortTimeouts{}), 1);
  pty.Write({1, 2});
  WaitQueued(2);
  std::atomic<int32_t> result{99};
  uint8_t buffer[5] = {};
  int32_t got = 0;
  std::thread reader([&] { result = port.Read(kPort, buffer, 4, &got); });
  // Once the reader has taken the first two, it must still be waiting.
  ASSERT_TRUE(WaitFor([&] { return port.InputCount(kPort) == 0; }));
  pty.Write({3, 4});
  reader.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(got, 4);
  EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{1, 2, 3, 4, 0}));
}

TEST_F(SerialPortTransfer, MaximumIntervalWithoutTotalsReturnsAtOnce) {
  ASSERT_EQ(port.SetTimeouts(kPort, PortTimeouts{0xFFFFFFFFu, 0, 0, 0, 0}), 1);
  uint8_t buffer[9] = {};
  EXPECT_EQ(port.Read(kPort, buffer, 8), -5);
  pty.Write({7, 8, 9});
  WaitQueued(3);
  int32_t got = 0;
  EXPECT_EQ(port.Read(kPort, buffer, 8, &got), 1);
  EXPECT_EQ(got, 3);
}

TEST_F(SerialPortTransfer, InputCountPurgeAndWaitInput) {
  EXPECT_EQ(port.InputCount(kPort), 0);
  EXPECT_EQ(port.WaitInput(kPort, 1), 0);
  pty.Write({1, 2, 3, 4, 5});
  EXPECT_TRUE(WaitFor([&] { return port.WaitInput(kPort, 1) == 5; }));
  EXPECT_EQ(port.InputCount(kPort), 5);
  EXPECT_EQ(port.Purge(kPort), SerialPort::kDone);
  EXPECT_EQ(port.InputCount(kPort), 0);
  ASSERT_EQ(port.SetTimeouts(kPort, PortTimeouts{0, 0, 10, 0, 0}), 1);
  uint8_t buffer[6] = {};
  EXPECT_EQ(port.Read(kPort, buffer, 5), -5);
}

TEST_F(SerialPortTransfer, CloseFreesTheSlotForTheNextOpen) {
  EXPECT_EQ(port.Close(kPort), 1);
  EXPECT_FALSE(port.IsOpen(kPort));
  EXPECT_EQ(port.Timeouts(kPort), PortTimeouts{});
  uint8_t buffer[2] = {};
  EXPECT_EQ(port.Read(kPort, buffer, 1), 0);
  EXPECT_EQ(port.Close(kPort), 1);
  EXPECT_EQ(port.Open("COM3", "9600", "N,8,1"), kPort);
}

TEST_F(SerialPortTransfer, AVanishedDeviceFailsWithoutHanging) {
  pty.CloseMaster();
  uint8_t buffer[5] = {0xAA};
  EXPECT_EQ(port.Read(kPort, buffer, 4), 0);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(port.InputCount(kPort), 0);
  EXPECT_EQ(port.WaitInput(kPort, 1), 0);
  const uint8_t stop = 0x30;
  EXPECT_EQ(port.Write(kPort, &stop, 1), 0);
  EXPECT_EQ(port.Close(kPort), 1);
}

}  // namespace
