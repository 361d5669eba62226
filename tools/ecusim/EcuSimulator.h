// A Consult ECU on a pseudo-terminal: the program (or a test) opens the
// slave side like a serial cable, and the simulator answers on the master
// side from its own thread.
//
//   FF FF EF           -> 10 (the initialisation acknowledgement); a late ECU
//                         (initEd) takes FF FF ED instead and answers 12, and
//                         each kind ignores the other's as any stray bytes
//   D0 F0              -> 2F, then FF, length, data holding the five-character
//                         ECU number (22 or 32 data bytes, or a few)
//   D1 F0              -> 2E, then FF, n, n bytes: pairs of stored fault code
//                         (BCD: 0x12 is code 12) and engine starts since the
//                         fault was last seen; 55 00 when none is stored
//   C1 F0              -> 3E, and the stored codes are cleared
//   5A nn ... 5A nn F0 -> A5 nn for each pair as it comes (A5 FE for a
//                         register the ECU lacks), then a stream of FF, count,
//                         values of the registers it has, until 30; an ECU
//                         that went silent on a refused register (lacksSilent)
//                         sends no frame at all until the next request
//   0A tt vv ... F0    -> F5 tt vv for each test as it comes; the ECU holds
//                         the active tests (test number tt at value vv) and
//                         the engine answers to them as it would on a car:
//                         80 coolant temperature (vv = deg C + 50), 81
//                         injection trim (vv percent), 84 idle air valve
//                         (vv = percent x 2), 88 power balance (a set bit
//                         cuts a cylinder), 89 fuel pump (0 off, 1 on), 8B
//                         clear the learned values, 93 and 94 low and high
//                         fan (0 off, 1 on). Any other number is taken and
//                         changes nothing.
//   30                 -> stops a running stream (or a repeated reply) and
//                         releases the tests held
//
// One request may hold registers and tests alike, 5A nn ... 0A tt vv ... F0:
// the ECU then streams the registers while it holds the tests. A request
// takes the place of the stream and the tests that went before; the tests
// hold until the stop byte or an initialisation.
//
// A real ECU echoes every command byte it takes inverted and every parameter
// as sent; the terminator F0 is not echoed, the reply follows it at once.
//
// Output is paced as a serial line of the given baud would carry it (ten
// bits a byte), by absolute deadlines so the stream does not drift. When
// nobody reads the slave and its buffer fills, the simulator waits instead
// of dropping bytes, so every frame in the log really reached the line.
//
// A car is a hostile place, and the simulator can be too. A power dip (the
// starter pulling the battery down) kills the ECU for a while: what it was
// sending is cut off wherever it was, what comes in is lost, and it wakes
// as from power-up, streaming nothing, holding no test and taking nothing
// but its own initialisation. An unplugged USB-serial adapter takes the
// pseudo-terminal away (whoever holds the slave sees the line hang up, and
// the link vanishes) and brings a new one back under the same link; the ECU
// never noticed, and what it sent meanwhile went nowhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "data/SampleRecord.h"

// A fault the ECU keeps in its memory, as the self-diagnosis reads it out.
struct StoredCode {
  uint8_t code = 0;    // BCD as the lamp blinks it; any byte, to simulate odd ones
  uint8_t starts = 0;  // engine starts since the fault was last seen
};

struct EcuSimulatorOptions {
  uint64_t seed = 1;
  // With a 'U' as its third character the reply holds the number among a
  // few data bytes; otherwise it comes as an export-market ECU's 22 bytes
  // of identification ending in the number, with no 0x55 before it.
  std::string ecuNumber = "8JU17";
  // The reply is 32 data bytes, as some late ECUs send it: the number where
  // it always is, more identification behind a home-market one and before
  // an export one's.
  bool longNumber = false;
  // A late ECU: it answers the initialisation FF FF ED (with 12) and takes
  // FF FF EF for nothing. Without it, the other way round.
  bool initEd = false;
  // Two air flow meters and a right bank of its own: registers 06 07 0A 1B
  // 22 23 read like the left bank's. Without it the ECU lacks them.
  bool twinMaf = false;
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
  // Nobody drives the everyday engine: it idles on, the car standing.
  bool idleOnly = false;
  // Registers this ECU does not have: the request's echo marks them FE and
  // the stream leaves them out.
  std::vector<uint8_t> lacks;
  // After a request in which it refused a register, the ECU streams
  // nothing at all until the next request, as ECUs of one kind do.
  bool lacksSilent = false;
  // The fault memory at start, in the order the self-diagnosis reads it.
  std::vector<StoredCode> codes;
  // Each reply (ECU number, self-diagnosis) is sent again and again until
  // the stop byte, which then finishes the frame on its way, sends one more
  // whole frame and CF; the stream ends the same way. Some ECUs do this.
  bool repeatReplies = false;
  // Faults, as real lines and ECUs show them.
  bool noInit = false;           // never answer the initialisation
  bool strayBytes = false;       // now and then a few non-FF bytes between frames
  bool ffInFrame = false;        // now and then one register of a frame reads 255
  bool cutFrames = false;        // now and then a frame cut short
  bool echoInverted = false;     // an extra inverted copy of every byte, before the answer
  // The air flow meter reads 0 mV (registers 04 and 05) and its code 12 is
  // stored; a clear does not outlast the next read while the fault is there.
  bool deadMaf = false;
  double closeAfterSeconds = 0;  // close the line after this long (0: never)
  // Seconds after the first stream request is taken, and for how long:
  // one power dip, and one unplugging of the adapter (a length of 0: none).
  double powerDipAt = 0;
  double powerDipFor = 0;
  double unplugAt = 0;
  double unplugFor = 0;
  // How many sent frames the log keeps (the newest are dropped beyond it).
  size_t frameLogLimit = 1000000;
};

enum class FrameFault { None, FfInFrame, Cut };

// One stream frame as the simulator put it on the line.
struct SentFrame {
  uint64_t number = 0;            // 0, 1, 2 ... since the simulator started
  std::vector<uint8_t> values;    // the register values, in request order
  FrameFault fault = FrameFault::None;
  // The one more frame that ECUs repeating their replies send after the
  // stop byte, before CF.
  bool afterStop = false;
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

  // A new path after each replug.
  std::string SlavePath() const;
  std::string Error() const;
  // False once stopped or once the line was closed by closeAfterSeconds.
  bool Running() const { return running_.load(); }
  bool Streaming() const { return streaming_.load(); }

  // What went over the line, for tests. Copies taken under a lock.
  std::vector<SentFrame> SentFrames() const;
  uint64_t SentFrameCount() const { return framesSent_.load(); }
  // Every byte that reached the ECU's end of the line, in order, whether it
  // took it or not (a dead or deaf ECU takes none).
  std::vector<uint8_t> ReceivedBytes() const;
  uint64_t InitAnswers() const { return initAnswers_.load(); }
  uint64_t EcuNumberAnswers() const { return numberAnswers_.load(); }
  // Every active test taken, as (test number, value), in the order they
  // came, whether or not a terminator made it hold.
  std::vector<std::pair<uint8_t, uint8_t>> TestsReceived() const;
  bool TestHeld() const { return testHeld_.load(); }
  // Stop bytes, initialisations and power dips that ended a held test.
  uint64_t TestReleases() const { return testReleases_.load(); }

  // The ECU loses its power for that long, from now (any thread). A dip
  // during a dip starts it anew.
  void PowerDip(double seconds);
  // The adapter goes for that long, from now (any thread): the pair is
  // closed and the link removed, then both are made anew. Acted on by the
  // simulator's thread at its next turn.
  void Unplug(double seconds);
  bool Powered() const { return powered_.load(); }
  // Woken from a dip and not yet initialised: it takes nothing else.
  bool Deaf() const { return deaf_.load(); }
  bool Plugged() const { return plugged_.load(); }
  uint64_t PowerDips() const { return powerDips_.load(); }  // dips begun
  uint64_t Replugs() const { return replugs_.load(); }      // adapters back

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
  void HoldTests();  // those of the request just ended
  void ReleaseTests();
  void QueueReply();
  void FinishOnStop();
  bool Lacks(uint8_t registerNumber) const;
  bool ReadsZero(uint8_t registerNumber) const;
  void StoreDetectedFaults();
  [[nodiscard]] bool OpenLine();  // the pair and the link; false with error_
  void CloseLine();
  void SetError(std::string error);
  void ActOnFaults(int64_t now);
  void CutPower();

  EcuSimulatorOptions options_;
  int master_ = -1;
  int slave_ = -1;  // kept open so the line stays up between clients
  // The serve thread makes a new pair (or fails to) on a replug.
  mutable std::mutex pathLock_;
  std::string slavePath_;  // under pathLock_
  std::string error_;      // under pathLock_
  bool linkMade_ = false;

  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> streaming_{false};
  std::atomic<uint64_t> framesSent_{0};
  std::atomic<uint64_t> initAnswers_{0};
  std::atomic<uint64_t> numberAnswers_{0};
  std::atomic<bool> testHeld_{false};
  std::atomic<uint64_t> testReleases_{0};
  std::atomic<bool> powered_{true};
  std::atomic<bool> deaf_{false};
  std::atomic<bool> plugged_{true};
  std::atomic<uint64_t> powerDips_{0};
  std::atomic<uint64_t> replugs_{0};

  // Asked for by PowerDip and Unplug, taken by the serve thread: how long,
  // in ns, or -1 for nothing asked. Under faultLock_, with the flags above
  // going false as the fault is asked for, so that they never read true
  // while one waits to be acted on.
  std::mutex faultLock_;
  int64_t dipAskedNs_ = -1;
  int64_t unplugAskedNs_ = -1;

  void (*observer_)(const SentFrame&, void*) = nullptr;
  void* observerContext_ = nullptr;

  mutable std::mutex logLock_;
  std::vector<SentFrame> frameLog_;
  std::vector<uint8_t> receivedLog_;
  std::vector<std::pair<uint8_t, uint8_t>> testLog_;

  // Simulator-thread state.
  Output* output_ = nullptr;
  int commandState_ = 0;
  std::vector<uint8_t> pendingRegisters_;
  bool pendingRefused_ = false;  // the request so far holds a register the ECU lacks
  std::vector<uint8_t> streamRegisters_;
  std::vector<std::pair<uint8_t, uint8_t>> pendingTests_;
  uint8_t testNumber_ = 0;  // of the test whose value comes next
  std::vector<StoredCode> storedCodes_;
  std::vector<uint8_t> reply_;  // the reply being repeated; empty when none
  int64_t firstStreamNs_ = 0;   // when the first stream request was taken; 0: not yet
  bool dipDone_ = false;        // the dip of the options
  bool unplugDone_ = false;     // the unplugging of the options
  int64_t powerBackNs_ = 0;     // while dead: when the power returns
  bool dead_ = false;
  int64_t replugNs_ = 0;        // while unplugged: when the adapter returns
};
