#include "link/ConsultSession.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/link/LinkTestSupport.h"

namespace {

constexpr int32_t kPort = 3;
const Bytes kInitCommand = {0xFF, 0xFF, 0xEF};
const Bytes kNumberCommand = {0xD0, 0xF0};
// Sent by the test after an operation, so that everything the operation
// sent has reached the ECU once the marker has.
const Bytes kMarker = {0xA5};

class ConsultSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    serial.SetDevicePath(kPort, pty.path());
  }
  void OpenAndStartEcu() {
    ASSERT_EQ(session.OpenPort(kPort), Result::kOk);
    ecu.Start();
  }
  // Everything the session sent until now.
  Bytes SentSoFar() {
    EXPECT_EQ(session.Send(kMarker.data(), 1), Result::kOk);
    EXPECT_TRUE(WaitFor([&] { return ecu.HasReceived(kMarker); }));
    Bytes sent = ecu.Received();
    if (!sent.empty() && sent.back() == kMarker[0]) sent.pop_back();
    return sent;
  }
  // The ECU number text and result of one ReadEcuNumber, with ecuFound set
  // as a successful initialisation leaves it.
  Result ReadNumber(char (&out)[6]) {
    session.ecuFound = 1;
    return session.ReadEcuNumber(out);
  }

  PtyPair pty;
  SerialPort serial;
  ConsultSession session{serial};
  FakeEcu ecu{pty};
};

// ---- Port ---------------------------------------------------------------

TEST_F(ConsultSessionTest, OpenPortSetsConsultTimeoutsAndRefusesASecondOpen) {
  ASSERT_EQ(session.OpenPort(kPort), Result::kOk);
  EXPECT_EQ(session.portNumber.load(), kPort);
  EXPECT_EQ(serial.Settings(kPort).baudRate, 9600);
  EXPECT_EQ(serial.Settings(kPort).byteSize, 8);
  EXPECT_EQ(serial.Timeouts(kPort), (PortTimeouts{100, 100, 100, 10, 500}));

  EXPECT_EQ(session.OpenPort(kPort), Result::kFailed);
  EXPECT_EQ(session.OpenPort(4), Result::kFailed);
  EXPECT_EQ(session.portNumber.load(), kPort);
  EXPECT_TRUE(serial.IsOpen(kPort));
  EXPECT_FALSE(serial.IsOpen(4));
}

TEST_F(ConsultSessionTest, AFailedOpenLeavesNoPort) {
  serial.SetDevicePath(5, "/nonexistent/ttyUSB4");
  for (int32_t n : {5, 0, 11, -1}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(session.OpenPort(n), Result::kFailed);
    EXPECT_EQ(session.portNumber.load(), 0);
  }
  EXPECT_EQ(session.OpenPort(kPort), Result::kOk);  // and the next open still works
}

TEST_F(ConsultSessionTest, ClosePortFreesThePortAndKeepsEcuFound) {
  EXPECT_EQ(session.ClosePort(), Result::kFailed);  // nothing open
  ASSERT_EQ(session.OpenPort(kPort), Result::kOk);
  session.ecuFound = 1;
  EXPECT_EQ(session.ClosePort(), Result::kOk);
  EXPECT_EQ(session.portNumber.load(), 0);
  EXPECT_FALSE(serial.IsOpen(kPort));
  EXPECT_EQ(session.ecuFound.load(), 1);
  EXPECT_EQ(session.ClosePort(), Result::kFailed);
}

TEST_F(ConsultSessionTest, WithoutAPortEveryOperationFails) {
  uint8_t buffer[4] = {};
  char out[6] = "zzzzz";
  EXPECT_EQ(session.Purge(), Result::kFailed);
  EXPECT_EQ(session.Send(buffer, 1), Result::kFailed);
  EXPECT_EQ(session.Receive(buffer, 1), Result::kFailed);
  EXPECT_EQ(session.Waiting(), 0);
  EXPECT_EQ(session.WaitInput(1), 0);
  EXPECT_EQ(session.StopStream(), Result::kFailed);
  EXPECT_EQ(session.InitializeEcu(), Result::kFailed);
  session.ecuFound = 1;
  EXPECT_EQ(session.ReadEcuNumber(out), Result::kFailed);
  EXPECT_STREQ(out, "zzzzz");
}

TEST_F(ConsultSessionTest, TransfersReachTheEcuAndBack) {
  OpenAndStartEcu();
  EXPECT_EQ(session.StopStream(), Result::kOk);
  EXPECT_EQ(SentSoFar(), (Bytes{0x30}));

  ecu.Stop();  // the test reads the line itself from here on
  pty.Write({0x12, 0x34, 0x56});
  ASSERT_TRUE(WaitFor([&] { return session.Waiting() == 3; }));
  uint8_t buffer[4] = {};
  int32_t got = 0;
  EXPECT_EQ(session.Receive(buffer, 3, &got), Result::kOk);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x12, 0x34, 0x56, 0}));
  EXPECT_EQ(session.Receive(buffer, 1), Result::kFailed);  // nothing came within the time-outs
}

// ---- Initialisation -------------------------------------------------------

TEST_F(ConsultSessionTest, AnAckAfterOtherBytesFindsTheEcu) {
  ecu.OnCommand(kInitCommand, {{0x00, 0x2F, 0x11, 0xEF, 0x10}});
  OpenAndStartEcu();
  EXPECT_EQ(session.InitializeEcu(), Result::kOk);
  EXPECT_EQ(session.ecuFound.load(), 1);
  EXPECT_EQ(SentSoFar(), (Bytes{0x30, 0xFF, 0xFF, 0xEF}));
}

TEST_F(ConsultSessionTest, OtherBytesAloneDoNotFindTheEcu) {
  ecu.OnCommand(kInitCommand, {{0x11, 0x01, 0xEF, 0x00, 0xFF}});
  OpenAndStartEcu();
  session.ecuFound = 1;  // from an earlier initialisation: cleared at the start
  EXPECT_EQ(session.InitializeEcu(), Result::kFailed);
  EXPECT_EQ(session.ecuFound.load(), 0);
}

TEST_F(ConsultSessionTest, ASilentEcuIsNotFoundAndTheNextTryStillWorks) {
  ecu.OnCommand(kInitCommand, {{}, {0x10}});  // silent first, then answers
  OpenAndStartEcu();
  EXPECT_EQ(session.InitializeEcu(), Result::kFailed);
  EXPECT_EQ(session.ecuFound.load(), 0);
  EXPECT_EQ(session.InitializeEcu(), Result::kOk);
  EXPECT_EQ(session.ecuFound.load(), 1);
  EXPECT_EQ(session.initAnswered.load(), 0xEF);
  // The silent try also asked with the late initialisation, and the next
  // begins with the usual one again.
  EXPECT_EQ(SentSoFar(), (Bytes{0x30, 0xFF, 0xFF, 0xEF, 0x30, 0xFF, 0xFF, 0xED, 0x30, 0xFF, 0xFF, 0xEF}));
}

TEST_F(ConsultSessionTest, ALateEcuIsFoundByTheSecondInitialisationWithItsOwnAck) {
  // 10 to ED is no acknowledgement: only 12, its inverse, is.
  ecu.OnCommand({0xFF, 0xFF, 0xED}, {{0x10}, {0x00, 0x12}});
  OpenAndStartEcu();
  EXPECT_EQ(session.InitializeEcu(), Result::kFailed);
  EXPECT_EQ(session.initAnswered.load(), 0);
  EXPECT_EQ(session.InitializeEcu(), Result::kOk);
  EXPECT_EQ(session.initAnswered.load(), 0xED);
}

// ---- ECU number -------------------------------------------------------------

TEST_F(ConsultSessionTest, EcuNumberIsTheFiveBytesAroundThe55) {
  ecu.OnCommand(kNumberCommand, {{0xFF, 0x06, 0x31, 0x32, 0x55, 0x33, 0x34, 0x35}});
  OpenAndStartEcu();
  char out[6] = {};
  EXPECT_EQ(ReadNumber(out), Result::kOk);
  EXPECT_STREQ(out, "12U34");
  // The stop byte after the reply ends an ECU that repeats it.
  EXPECT_EQ(SentSoFar(), (Bytes{0x30, 0xD0, 0xF0, 0x30}));
}

TEST_F(ConsultSessionTest, AnExportReplyEndsInTheNumberAndHoldsNo55) {
  // 22 data bytes: 17 of other identification, then the part number's suffix.
  Bytes exportReply = {0xFF, 22};
  for (int i = 0; i < 17; ++i) exportReply.push_back(static_cast<uint8_t>(0x20 + 3 * i));
  for (char c : std::string("0V700")) exportReply.push_back(static_cast<uint8_t>(c));
  Bytes unprintable = exportReply;
  unprintable.back() = 0x07;
  ecu.OnCommand(kNumberCommand, {exportReply, unprintable, {0xFF, 0x04, 0x41, 0x42, 0x43, 0x44}});
  OpenAndStartEcu();
  char out[6] = "zzzzz";
  EXPECT_EQ(ReadNumber(out), Result::kOk);
  EXPECT_STREQ(out, "0V700");
  EXPECT_EQ(ReadNumber(out), Result::kFailed);  // not printable
  EXPECT_EQ(ReadNumber(out), Result::kFailed);  // fewer than five data bytes
  EXPECT_STREQ(out, "0V700");
}

TEST_F(ConsultSessionTest, BytesBeforeTheFrameAndAfterItAreIgnored) {
  // An echo of the command before the frame, stray bytes after it.
  ecu.OnCommand(kNumberCommand,
                {{0x2F, 0x0F, 0x00, 0xFF, 0x06, 0x31, 0x32, 0x55, 0x33, 0x34, 0x35, 0x00, 0x11},
                 // A repeating ECU: the read ends just after the next copy's FF.
                 {0x2F, 0xFF, 0x06, 0x31, 0x32, 0x55, 0x33, 0x34, 0x36, 0xFF}});
  OpenAndStartEcu();
  char out[6] = {};
  EXPECT_EQ(ReadNumber(out), Result::kOk);
  EXPECT_STREQ(out, "12U34");
  EXPECT_EQ(ReadNumber(out), Result::kOk);
  EXPECT_STREQ(out, "12U34");
}

TEST_F(ConsultSessionTest, BeforeInitialisationNothingIsSent) {
  OpenAndStartEcu();
  char out[6] = "zzzzz";
  EXPECT_EQ(session.ReadEcuNumber(out), Result::kFailed);
  EXPECT_STREQ(out, "zzzzz");
  EXPECT_EQ(SentSoFar(), Bytes{});
}

TEST_F(ConsultSessionTest, RepliesWithoutAUsable55Fail) {
  const std::vector<Bytes> replies = {
      {0xFF, 0x06, 0x55, 0x32, 0x55, 0x33, 0x34, 0x35},  // first data byte: position 1
      {0xFF, 0x06, 0x31, 0x32, 0x33, 0x34, 0x35, 0x06},  // no 0x55, and not printable at the end
      {0xFF, 0x06, 0x31, 0x32, 0x55},                    // frame never completes
      {},                                                // no reply
  };
  ecu.OnCommand(kNumberCommand, replies);
  OpenAndStartEcu();
  for (size_t k = 0; k < replies.size(); ++k) {
    SCOPED_TRACE(k);
    char out[6] = "zzzzz";
    EXPECT_EQ(ReadNumber(out), Result::kFailed);
    EXPECT_STREQ(out, "zzzzz");
  }
}

TEST_F(ConsultSessionTest, ALengthByteOf55IsPositionZeroAndFails) {
  Bytes reply = {0xFF, 0x55};
  for (int i = 1; i <= 0x55; ++i) reply.push_back(i == 4 ? 0x55 : 0x41);
  ecu.OnCommand(kNumberCommand, {reply});
  OpenAndStartEcu();
  char out[6] = "zzzzz";
  EXPECT_EQ(ReadNumber(out), Result::kFailed);
  EXPECT_STREQ(out, "zzzzz");
}

TEST_F(ConsultSessionTest, TheLongestFrameFitsAndReadsZerosBeyondItsEnd) {
  // Length byte FF: 255 data bytes at positions 1..255, the 0x55 the last.
  Bytes reply = {0xFF, 0xFF};
  for (int i = 1; i <= 255; ++i) reply.push_back(i == 255 ? 0x55 : 0x41);
  ecu.OnCommand(kNumberCommand, {reply});
  OpenAndStartEcu();
  char out[6] = "zzzzz";
  EXPECT_EQ(ReadNumber(out), Result::kOk);
  EXPECT_EQ(Bytes(out, out + 6), (Bytes{0x41, 0x41, 0x55, 0, 0, 0}));
}

TEST_F(ConsultSessionTest, AFrameLongerThanAHundredBytesIsHeld) {
  Bytes reply = {0xFF, 200};
  for (int i = 1; i <= 200; ++i) reply.push_back(i == 150 ? 0x55 : static_cast<uint8_t>(0x30 + i % 10));
  ecu.OnCommand(kNumberCommand, {reply});
  OpenAndStartEcu();
  char out[6] = {};
  EXPECT_EQ(ReadNumber(out), Result::kOk);
  EXPECT_STREQ(out, "89U12");
}

TEST_F(ConsultSessionTest, EachCallStartsWithAClearedFrameStore) {
  ecu.OnCommand(kNumberCommand, {
                                    {0xFF, 0x08, 0x31, 0x32, 0x55, 0x33, 0x34, 0x35, 0x36, 0x37},
                                    {0xFF, 0x04, 0x41, 0x42, 0x43, 0x55},  // 0x55 is the last byte
                                });
  OpenAndStartEcu();
  char out[6] = {};
  EXPECT_EQ(ReadNumber(out), Result::kOk);
  EXPECT_STREQ(out, "12U34");
  // Positions 5 and 6 held 34 35 from the first reply; they now read 0.
  EXPECT_EQ(ReadNumber(out), Result::kOk);
  EXPECT_EQ(Bytes(out, out + 6), (Bytes{0x42, 0x43, 0x55, 0, 0, 0}));
}

}  // namespace

// ---- Self-diagnosis ------------------------------------------------------------

const Bytes kCodesCommand = {0xD1, 0xF0};
const Bytes kClearCommand = {0xC1, 0xF0};

TEST_F(ConsultSessionTest, FaultCodesArePairsOfCodeAndStarts) {
  ecu.OnCommand(kCodesCommand, {{0x2E, 0xFF, 0x04, 0x12, 0x03, 0xA3, 0x31},
                                {0x2E, 0xFF, 0x02, 0x55, 0x00},
                                {0x2E, 0xFF, 0x03, 0x12, 0x03, 0x45},  // an odd byte: the pair still counts
                                {0x2E}});                              // no frame
  OpenAndStartEcu();
  std::vector<FaultCode> codes;
  EXPECT_EQ(session.ReadFaultCodes(codes), Result::kFailed);  // before the ECU was found
  EXPECT_EQ(SentSoFar(), Bytes{});
  session.ecuFound = 1;
  ASSERT_EQ(session.ReadFaultCodes(codes), Result::kOk);
  EXPECT_EQ(codes, (std::vector<FaultCode>{{0x12, 3}, {0xA3, 0x31}}));
  ASSERT_EQ(session.ReadFaultCodes(codes), Result::kOk);
  EXPECT_TRUE(NoMalfunction(codes));
  ASSERT_EQ(session.ReadFaultCodes(codes), Result::kOk);
  EXPECT_EQ(codes, (std::vector<FaultCode>{{0x12, 3}}));
  EXPECT_EQ(session.ReadFaultCodes(codes), Result::kFailed);
  EXPECT_TRUE(codes.empty());
  const Bytes once = {0x30, 0xD1, 0xF0, 0x30};
  Bytes four = kMarker;  // of the check that nothing was sent at first
  for (int i = 0; i < 4; ++i) four.insert(four.end(), once.begin(), once.end());
  EXPECT_EQ(SentSoFar(), four);
}

TEST_F(ConsultSessionTest, ClearingNeedsItsEcho) {
  ecu.OnCommand(kClearCommand, {{0x3E}, {0x00, 0x11}});
  OpenAndStartEcu();
  session.ecuFound = 1;
  EXPECT_EQ(session.ClearFaultCodes(), Result::kOk);
  EXPECT_EQ(session.ClearFaultCodes(), Result::kFailed);
  EXPECT_EQ(SentSoFar(), (Bytes{0x30, 0xC1, 0xF0, 0x30, 0x30, 0xC1, 0xF0, 0x30}));
}
