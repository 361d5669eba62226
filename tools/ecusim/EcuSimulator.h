// A Consult ECU on a pseudo-terminal: the program (or a test) opens the
// slave side like a serial cable, and the simulator answers on the master
// side from its own thread.
//
//   FF FF EF          -> 10 (the initialisation acknowledgement)
//   D0 F0             -> FF, length, data holding the five-character ECU number
//   5A nn ... 5A nn F0 -> a stream of FF, count, register values, until 30
//   30                -> stops a running stream
//
// Output is paced as a serial line of the given baud would carry it (ten
// bits a byte), by absolute deadlines so the stream does not drift. When
// nobody reads the slave and its buffer fills, the simulator waits instead
// of dropping bytes, so every frame in the log really reached the line.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data/SampleRecord.h"

struct EcuSimulatorOptions {
  uint64_t seed = 1;
  std::string ecuNumber = "8JU17";
  int32_t baud = 9600;
  std::string linkPath;          // when set: a symbolic link to the slave path
  // The engine drives standing starts and pulls (DragRunCar). It then moves
  // in real time rather than by frames sent, so its data depend on the
  // timing too, not only on the seed.
  bool dragRun = false;
  // Every register of a measured value changes in every frame, by one step
  // where the engine would leave it: the most a display has to follow,
  // which a real engine under full load comes close to. The switch banks
  // follow the engine, as switches do not chatter.
  bool restless = false;
  // Faults, as real lines and ECUs show them.
  bool noInit = false;           // never answer the initialisation
  bool strayBytes = false;       // now and then a few non-FF bytes between frames
  bool ffInFrame = false;        // now and then one register of a frame reads 255
  bool cutFrames = false;        // now and then a frame cut short
  bool echoInverted = false;     // every command byte echoed inverted first
  double closeAfterSeconds = 0;  // close the line after this long (0: never)
  // How many sent frames the log keeps (the newest are dropped beyond it).
  size_t frameLogLimit = 1000000;
};

enum class FrameFault { None, FfInFrame, Cut };

// One stream frame as the simulator put it on the line.
struct SentFrame {
  uint64_t number = 0;            // 0, 1, 2 ... since the simulator started
  std::vector<uint8_t> values;    // the register values, in request order
  FrameFault fault = FrameFault::None;
  // The frame as the program stores it: byte 0 the count, then the values
  // (at most 19 of them), spare byte 0.
  SampleRecord Record() const;
};

class EcuSimulator {
 public:
  explicit EcuSimulator(EcuSimulatorOptions options);
  ~EcuSimulator();  // Stop()
  EcuSimulator(const EcuSimulator&) = delete;
  EcuSimulator& operator=(const EcuSimulator&) = delete;

  // Opens the pseudo-terminal pair and starts serving. false with a reason
  // in Error() when the pair or the link cannot be made.
  [[nodiscard]] bool Start();
  // Stops serving, closes the pair and removes the link. Safe to repeat.
  void Stop();

  std::string SlavePath() const { return slavePath_; }
  std::string Error() const { return error_; }
  // False once stopped or once the line was closed by closeAfterSeconds.
  bool Running() const { return running_.load(); }
  bool Streaming() const { return streaming_.load(); }

  // What went over the line, for tests. Copies taken under a lock.
  std::vector<SentFrame> SentFrames() const;
  uint64_t SentFrameCount() const { return framesSent_.load(); }
  std::vector<uint8_t> ReceivedBytes() const;  // every command byte, in order
  uint64_t InitAnswers() const { return initAnswers_.load(); }
  uint64_t EcuNumberAnswers() const { return numberAnswers_.load(); }

  // Called on the simulator's thread for each frame it completes sending;
  // set before Start. The executable writes its frame log with it.
  void SetFrameObserver(void (*observer)(const SentFrame&, void*), void* context);

  // Seconds one stream frame of n registers stands for in the engine, as at
  // 9600 baud whatever the pacing: the data depend on the seed only.
  static double FrameSeconds(int registerCount);

 private:
  struct Output;
  void Serve();
  void HandleByte(uint8_t b);
  void QueueStreamFrame();

  EcuSimulatorOptions options_;
  int master_ = -1;
  int slave_ = -1;  // kept open so the line stays up between clients
  std::string slavePath_;
  std::string error_;
  bool linkMade_ = false;

  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> streaming_{false};
  std::atomic<uint64_t> framesSent_{0};
  std::atomic<uint64_t> initAnswers_{0};
  std::atomic<uint64_t> numberAnswers_{0};

  void (*observer_)(const SentFrame&, void*) = nullptr;
  void* observerContext_ = nullptr;

  mutable std::mutex logLock_;
  std::vector<SentFrame> frameLog_;
  std::vector<uint8_t> receivedLog_;

  // Simulator-thread state.
  Output* output_ = nullptr;
  int commandState_ = 0;
  std::vector<uint8_t> pendingRegisters_;
  std::vector<uint8_t> streamRegisters_;
};
