// The stream frame decoder: finds the frames in the bytes the port hands
// over and puts each complete one into the recorder's current sample.
#pragma once

#include <cstdint>

#include "data/RecorderState.h"
#include "data/RegisterList.h"
#include "data/Registers.h"

// Lives from one DecodeStream call to the next; never reset by Start or Stop.
struct StreamDecoderState {
  // 0 hunting FF, 1 expecting the length byte, 2 data, 3 a complete frame
  // held until the next frame start confirms it, 4 held and FF seen.
  int32_t huntState = 0;
  int32_t storedCount = 0;  // frame bytes stored so far (the length byte counts)
  int32_t resumeAt = 0;     // held frame: index in work of its first suspicious FF
  uint8_t work[kMaxFrameLength + 1] = {};
  // The registers the stream asked for, in request order: a frame is FF,
  // their count, their values. Whoever changes it starts the hunt afresh.
  RegisterList layout = EighteenRegisters();
};

// Feeds bytes of one read to the frame decoder; a complete frame becomes
// the recorder's current sample (register values of 255 included): its
// values where the layout's registers belong, marked as what the record
// holds. Then it counts in framesDecoded and stores to sampleChanged. One
// thread per decoder state (the receiver's).
void DecodeStream(StreamDecoderState& decoder, RecorderState& recorder, const uint8_t* bytes,
                  int count);
