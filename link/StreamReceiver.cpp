#include "link/StreamReceiver.h"

#include <chrono>
#include <system_error>

const uint8_t kStreamRegisters[kStreamRegisterCount] = {
    0x00, 0x01, 0x04, 0x05, 0x08, 0x09, 0x0B, 0x0C, 0x0D,
    0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x1A, 0x1E, 0x1F,
};

namespace {
constexpr int32_t kMaxReadPerPass = 1024;
}  // namespace

StreamReceiver::StreamReceiver(ConsultSession& session, RecorderState& recorder)
    : session_(session), recorder_(recorder) {
  try {
    thread_ = std::thread(&StreamReceiver::Run, this);
  } catch (const std::system_error&) {
    // Not reported: without the thread the stream simply shows nothing.
    running.store(0);
  }
}

StreamReceiver::~StreamReceiver() {
  StopReceiver();
  if (thread_.joinable()) thread_.join();
}

int32_t StreamReceiver::StopReceiver() {
  active.store(0);
  running.store(0);
  return 0;
}

void StreamReceiver::BuildStreamRequest(uint8_t* buffer, int32_t* length) {
  int32_t k = 0;
  buffer[k++] = kConsultStop;
  for (uint8_t reg : kStreamRegisters) {
    buffer[k++] = kConsultRegisterRead;
    buffer[k++] = reg;
  }
  buffer[k++] = kConsultTerminator;
  *length = k;
}

void StreamReceiver::Run() {
  while (running.load() != 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (active.load() != 0) {
      // Waits in poll() up to 1 ms instead of a fixed 1 ms sleep: the same
      // pace when the line is quiet, a prompt read when bytes arrive.
      int32_t n = session_.WaitInput(1);
      if (n <= 0) continue;
      if (n > kMaxReadPerPass) n = kMaxReadPerPass;  // the rest waits for the next pass
      int32_t got = 0;
      session_.Receive(buffer_, n, &got);
      recorder_.DecodeStream(buffer_, got);
    }
  }
}
