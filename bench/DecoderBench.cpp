// How fast the frame decoder eats a stream: bytes per second through
// DecodeStream, for clean frames and for a noisy line.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "data/RecorderState.h"
#include "link/FrameDecoder.h"

namespace {

// Frames of random register values (FF among them, as real ones read 255).
// With lastRegister255 every frame ends in FF and so waits for the next
// frame start to confirm it: the decoder's slowest ordinary path.
std::vector<uint8_t> CleanStream(int frames, bool lastRegister255 = false) {
  std::vector<uint8_t> bytes;
  std::mt19937 random(7);
  for (int f = 0; f < frames; ++f) {
    bytes.push_back(0xFF);
    bytes.push_back(kFrameLength);
    for (int i = 0; i < kFrameLength; ++i) bytes.push_back(static_cast<uint8_t>(random()));
    if (lastRegister255) bytes.back() = 0xFF;
  }
  return bytes;
}

std::vector<uint8_t> NoisyStream(int bytes) {
  std::vector<uint8_t> out(static_cast<size_t>(bytes));
  std::mt19937 random(11);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

// Reads the size of one receiver pass: at 9600 baud a pass sees a byte or
// two, but the decoder must also keep up with a backlog of 1024.
void RunDecoder(benchmark::State& state, const std::vector<uint8_t>& stream) {
  StreamDecoderState decoder;
  RecorderState recorder;
  const int chunk = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += static_cast<size_t>(chunk)) {
      const int n = static_cast<int>(std::min(stream.size() - at, static_cast<size_t>(chunk)));
      DecodeStream(decoder, recorder, stream.data() + at, n);
    }
    benchmark::DoNotOptimize(recorder.current.Load());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(stream.size()));
}

void BM_DecodeCleanFrames(benchmark::State& state) { RunDecoder(state, CleanStream(5000)); }
void BM_DecodeHeldFrames(benchmark::State& state) { RunDecoder(state, CleanStream(5000, true)); }
void BM_DecodeNoise(benchmark::State& state) { RunDecoder(state, NoisyStream(100000)); }

}  // namespace

BENCHMARK(BM_DecodeCleanFrames)->Arg(1)->Arg(20)->Arg(1024);
BENCHMARK(BM_DecodeHeldFrames)->Arg(1)->Arg(1024);
BENCHMARK(BM_DecodeNoise)->Arg(1)->Arg(1024);
BENCHMARK_MAIN();
