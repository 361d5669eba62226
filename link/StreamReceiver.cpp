#include "link/StreamReceiver.h"

#include <chrono>
#include <system_error>

static_assert(kStreamRequestLength == 38, "30, 5A nn for each of the 18 registers, F0");

namespace {
constexpr int32_t kMaxReadPerPass = 1024;
// Active without an open port there is no descriptor to wait on; looking
// this often for a port that opens later costs nothing worth measuring.
constexpr int kNoPortLookMs = 100;
// When the system gave no wake descriptor, waits on the port are cut to
// this so that Stop is still seen.
constexpr int kWithoutWakeFdMs = 10;
// A byte at 9600 baud: ten bits.
constexpr auto kByteTime = std::chrono::microseconds(1042);

// The bytes to the end of the frame being decoded; a whole frame when none
// has begun.
int MissingBytes(const StreamDecoderState& decoder) {
  const int length = decoder.layout.count;
  switch (decoder.huntState) {
    case 0: return length + 2;  // FF, the length byte and the data
    case 1: return length + 1;
    case 2: return length + 1 - decoder.storedCount;
    case 3: return 2;  // a held frame waits for the FF 12 of the next
    default: return 1;
  }
}
}  // namespace

StreamReceiver::StreamReceiver(ConsultSession& session, RecorderState& recorder)
    : session_(session), recorder_(recorder) {
  try {
    thread_ = std::thread(&StreamReceiver::Run, this);
  } catch (const std::system_error&) {
    // Not reported: without the thread the stream simply shows nothing.
    running.store(0);
    ended_.store(true);
  }
}

StreamReceiver::~StreamReceiver() {
  StopReceiver();
  Join();
}

void StreamReceiver::Join() {
  if (thread_.joinable()) thread_.join();
}

int32_t StreamReceiver::StopReceiver() {
  active.store(0);
  running.store(0);
  return 0;
}

void StreamReceiver::BeginStream(const RegisterList& registers) {
  refusedRegisters.store(0);
  echoComplete.store(false);
  {
    std::lock_guard<std::mutex> hold(layoutLock_);
    nextLayout_ = registers;
  }
  streamStarts_.fetch_add(1);
}

// The echo comes before the first frame; once a frame came (an ECU that
// does not echo), frame bytes that happen to read A5 FE are no refusal.
void StreamReceiver::WatchEcho(const uint8_t* bytes, int32_t count) {
  const uint32_t starts = streamStarts_.load();
  if (starts != seenStarts_) {
    seenStarts_ = starts;
    RegisterList layout;
    {
      std::lock_guard<std::mutex> hold(layoutLock_);
      layout = nextLayout_;
    }
    // A request starts the frames afresh: what was begun before it (a frame
    // cut off when the ECU lost its power, or one of another length) is no
    // frame of the new stream, and bytes that follow it (the echo) must not
    // complete it.
    decoder_ = StreamDecoderState{.layout = layout};
    echo_ = StreamEcho(layout);
    echoOpen_ = true;
    framesAtStart_ = recorder_.framesDecoded.load();
  }
  if (!echoOpen_) return;
  if (recorder_.framesDecoded.load() != framesAtStart_) {
    echoOpen_ = false;
    return;
  }
  echo_.Feed(bytes, count);
  if (echo_.Refused() != 0) refusedRegisters.store(echo_.Refused());
  if (echo_.Complete()) {
    echoComplete.store(true);
    echoOpen_ = false;
  }
}

void StreamReceiver::BuildStreamRequest(uint8_t* buffer, int32_t* length) {
  BuildStreamRequest(EighteenRegisters(), buffer, length);
}

void StreamReceiver::BuildStreamRequest(const RegisterList& registers, uint8_t* buffer, int32_t* length) {
  int32_t k = 0;
  buffer[k++] = kConsultStop;
  for (int i = 0; i < registers.count; ++i) {
    buffer[k++] = kConsultRegisterRead;
    buffer[k++] = registers.Number(i);
  }
  buffer[k++] = kConsultTerminator;
  *length = k;
}

// Each pass looks at the flags first and then sleeps until something
// happens; a store to either flag ends any of its sleeps (the wake
// descriptors are in every poll set), so Stop and StopReceiver take effect
// at once and a store made just before a sleep returns it straight away.
void StreamReceiver::Run() {
  const int wakeFds[] = {active.WakeFd(), running.WakeFd()};
  const int portWaitMs = wakeFds[0] >= 0 && wakeFds[1] >= 0 ? -1 : kWithoutWakeFdMs;
  // A pass that read bytes sleeps before the next; one that found none
  // waits for the line.
  bool sleepBeforeRead = false;
  while (running.load() != 0) {
    if (active.load() == 0) {
      parked_.store(true);
      WaitForStore({&active, &running}, -1);
      parked_.store(false);
      continue;
    }
    // The bytes still missing to the end of the frame take about a
    // millisecond each at 9600 baud, and the ECU sends its frames back to
    // back: sleeping until all but the last should be in, and then waiting
    // for that one, reads a frame in two passes, where a wake-up for each
    // byte that comes would cost a thousand a second, and still takes its
    // last byte the moment it comes. A pass that comes late finds the next
    // frame begun and sleeps that much less: the passes keep to the frames.
    // A Stop wakes the sleep.
    if (sleepBeforeRead && MissingBytes(decoder_) > 1) {
      WaitForStore({&active, &running}, (MissingBytes(decoder_) - 1) * kByteTime);
      if (active.load() == 0) continue;
    }
    int32_t n = session_.WaitInput(portWaitMs, wakeFds);
    if (n < 0) {  // no port open
      WaitForStore({&active, &running}, kNoPortLookMs);
      continue;
    }
    if (n == 0) {  // woken by a flag, a purge or a port being closed
      sleepBeforeRead = false;
      continue;
    }
    if (n > kMaxReadPerPass) n = kMaxReadPerPass;  // the rest waits for the next pass
    int32_t got = 0;
    (void)session_.Receive(buffer_, n, &got);  // a failed read brings no bytes (got is 0)
    WatchEcho(buffer_, got);
    DecodeStream(decoder_, recorder_, buffer_, got);
    sleepBeforeRead = got > 0;
  }
  parked_.store(false);
  ended_.store(true);
}
