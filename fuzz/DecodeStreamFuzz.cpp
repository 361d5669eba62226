// Feeds arbitrary bytes to the stream decoder, in reads of the sizes the
// input itself chooses. Whatever the bytes, every sample the decoder
// delivers is the length byte 0x12 and 18 consecutive bytes of the input
// that follow an FF 0x12 of it; the spare byte is never written.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "data/RecorderState.h"
#include "link/FrameDecoder.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte sets the read size (1 to 32 bytes), as a port hands the
  // decoder whatever has arrived.
  const size_t chunk = (data[0] & 31u) + 1;
  const uint8_t* bytes = data + 1;
  const size_t count = size - 1;

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
  return 0;
}
