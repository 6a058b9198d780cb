// Placement of result blocks in steps and frames. The .frd gives steps and
// increments (1PSTEP, 1PMODE); the .dat gives total times only, which the
// .sta's increment rows, the .frd's frames or the order of the file place.
// Pure bookkeeping: no file is read or written here.
#pragma once

#include <string>
#include <vector>

#include "sta.h"

namespace ccx {

// What a block says about where it belongs.
struct BlockKey {
  int step = 0;          // solver step, 0 when unknown (no 1PSTEP line, a .dat block)
  int increment = 0;     // solver increment (or mode number of a modal step)
  double value = 0.0;    // total time, or frequency / buckling factor of a modal step
  int analysisType = 0;  // 0 static, 1 dynamic, 2 frequency, 3 other, 4 buckling
};

// Where a block goes: step, increment and the frame's value and description.
struct FramePlace {
  int step = 1;
  int increment = 1;
  double frameValue = 0.0;  // step time, or the frequency / buckling factor
  std::string description;  // "Increment 3: Step Time = 0.3", "Mode 2: Frequency = 41.7"
  bool newStep = false;     // steps up to step have to be opened first
  bool newFrame = false;    // the block opens a frame of its own
};

// The one place where step names are made: "Step-1", "Step-2", ...
std::string stepName(int step);

class FrameClock {
 public:
  explicit FrameClock(std::vector<StaIncrement> sta = {}) : sta_(std::move(sta)) {}

  // The key of a .frd block: modal steps count their modes; a file without
  // step lines makes a new total time the next increment of the current step.
  BlockKey keyOfFrdBlock(int step, int increment, int mode, double value, int analysisType) const;
  // The key of a .dat block printed at total time: the .sta row of that
  // time, else the pending .frd block (upcoming, may be null) or the open
  // frame of the same time, else the next increment of the current step.
  BlockKey keyOfPrint(double time, const BlockKey* upcoming);

  // Places a block that fills a frame, opening steps and frames as needed.
  FramePlace place(const BlockKey& key);
  // Places a printed history row: its step (opened as needed) and step time.
  FramePlace placeHistory(const BlockKey& key);

  int step() const { return step_; }  // the last step opened, 0 before any
  // Step and increment of the last frame, for messages.
  int frameStep() const { return open_ ? frame_.step : 0; }
  int frameIncrement() const { return open_ ? frame_.increment : 0; }

 private:
  int enterStep(int step, bool& opened);
  double stepStart(int step) const;

  std::vector<StaIncrement> sta_;
  std::size_t staCursor_ = 0;
  int step_ = 0;
  double stepStart_ = 0.0;
  double lastTime_ = 0.0;  // total time of the last frame that had one
  bool open_ = false;
  BlockKey frame_;  // key of the open frame (step and increment resolved)
};

}  // namespace ccx
