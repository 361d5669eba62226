// Feeds arbitrary bytes to the stream decoder, to the reply parser (ECU
// number, fault codes) and to the watch on the stream request's echo, in
// reads of the sizes the input itself chooses. Whatever the bytes, every
// sample the decoder delivers is the length byte 0x12 and 18 consecutive
// bytes of the input that follow an FF 0x12 of it; the spare byte is never
// written. The reply is the first frame of the input: the number is the
// five bytes around its first 0x55 with two bytes before it, or, with no
// 0x55 past its first two bytes, its last five data bytes when printable;
// its fault codes are its whole pairs. The echo refuses only registers of
// the request, and only on an A5 FE of the input.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "data/RecorderState.h"
#include "link/ConsultSession.h"
#include "link/FrameDecoder.h"
#include "link/StreamEcho.h"

namespace {

bool CameFromTheInput(const SampleRecord& sample, const uint8_t* data, size_t consumed) {
  if (sample[0] != kFrameLength || sample[kSampleRecordSize - 1] != 0) return false;
  for (size_t j = 0; j + 2 + kFrameLength <= consumed; ++j) {
    if (data[j] == 0xFF && data[j + 1] == kFrameLength &&
        std::memcmp(data + j + 2, &sample.bytes[1], kFrameLength) == 0)
      return true;
  }
  return false;
}

void CheckDecoder(const uint8_t* bytes, size_t count, size_t chunk) {
  StreamDecoderState decoder;
  RecorderState state;
  uint64_t delivered = 0;
  for (size_t at = 0; at < count; at += chunk) {
    const size_t n = count - at < chunk ? count - at : chunk;
    DecodeStream(decoder, state, bytes + at, static_cast<int>(n));
    const uint64_t now = state.framesDecoded.load();
    if (now == delivered) continue;
    delivered = now;
    if (!CameFromTheInput(state.current.Load(), bytes, at + n)) std::abort();
  }
}

void CheckReplyFrame(const uint8_t* bytes, size_t count, size_t chunk) {
  // Read by read, as the session does, until the reply is complete.
  ReplyFrame reply;
  size_t fed = 0;
  while (fed < count && !reply.Complete()) {
    const size_t n = count - fed < chunk ? count - fed : chunk;
    reply.Feed(bytes + fed, static_cast<int32_t>(n));
    fed += n;
  }
  char number[6] = {1, 1, 1, 1, 1, 1};
  const bool found = reply.Number(number);
  if (found && (!reply.Complete() || number[5] != 0)) std::abort();

  // The frame from the first FF: its length byte L and L data bytes (one
  // when L is 0).
  const uint8_t* start = static_cast<const uint8_t*>(std::memchr(bytes, 0xFF, fed));
  if (start == nullptr) {
    if (reply.Complete() || found) std::abort();
    return;
  }
  const size_t frameAt = static_cast<size_t>(start - bytes) + 1;  // the length byte
  const size_t length = frameAt < fed ? bytes[frameAt] : 0;
  const size_t dataBytes = length == 0 ? 1 : length;
  const bool whole = frameAt < fed && fed - frameAt >= dataBytes + 1;
  if (whole != reply.Complete()) std::abort();
  if (!whole) return;
  const size_t frameEnd = frameAt + dataBytes + 1;
  std::vector<uint8_t> frame(bytes + frameAt, bytes + frameEnd);
  if (reply.Data().size() != length || !std::equal(reply.Data().begin(), reply.Data().end(), frame.begin() + 1))
    std::abort();
  frame.resize(frame.size() + 2, 0);  // what lies beyond a short frame reads as zero
  size_t mark = 0;  // the length byte and the data bytes it names are searched
  while (mark <= length && frame[mark] != 0x55) ++mark;
  char expected[6] = {};
  bool expectFound = false;
  if (mark <= length && mark >= 2) {
    std::memcpy(expected, frame.data() + mark - 2, 5);
    expectFound = true;
  } else if (length >= 5 && std::find(frame.begin() + 2, frame.begin() + length + 1, 0x55) == frame.begin() + length + 1) {
    expectFound = std::all_of(frame.begin() + length - 4, frame.begin() + length + 1,
                              [](uint8_t b) { return b >= 0x20 && b <= 0x7E; });
    std::memcpy(expected, frame.data() + length - 4, 5);
  }
  if (found != expectFound) std::abort();
  if (found && std::memcmp(number, expected, 5) != 0) std::abort();

  std::vector<FaultCode> codes;
  (void)DecodeFaultCodes(reply.Data().data(), reply.Data().size(), codes);
  if (codes.size() != length / 2) std::abort();
}

void CheckStreamEcho(const uint8_t* bytes, size_t count, size_t chunk) {
  StreamEcho echo;
  for (size_t at = 0; at < count; at += chunk)
    echo.Feed(bytes + at, static_cast<int>(count - at < chunk ? count - at : chunk));
  if (echo.Refused() >> kStreamRegisterCount != 0) std::abort();
  bool refusal = false;
  for (size_t i = 0; i + 1 < count; ++i) refusal = refusal || (bytes[i] == 0xA5 && bytes[i + 1] == 0xFE);
  if (echo.Refused() != 0 && !refusal) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte sets the read size (1 to 32 bytes), as a port hands the
  // readers whatever has arrived.
  const size_t chunk = (data[0] & 31u) + 1;
  CheckDecoder(data + 1, size - 1, chunk);
  CheckReplyFrame(data + 1, size - 1, chunk);
  CheckStreamEcho(data + 1, size - 1, chunk);
  return 0;
}
