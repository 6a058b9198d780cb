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
  int set = 0;           // .frd output counter, shared by the blocks of one result set (0 unknown)
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
  // procedures: the deck's per step, as InpModel::procedures (may be empty).
  explicit FrameClock(std::vector<StaIncrement> sta = {}, std::vector<int> procedures = {})
      : sta_(std::move(sta)), procedures_(std::move(procedures)) {}

  // The key of a .frd block: modal steps count their modes; a file without
  // step lines makes a new total time the next increment of the current step.
  // A modal block goes to the deck step of its kind when its own step number
  // cannot be (the solver numbers a buckling step after a perturbation step
  // 1); a buckling block without a mode line is the base state (increment 0)
  // or the next mode, told by its output counter (set) or else its factor.
  BlockKey keyOfFrdBlock(int step, int increment, int mode, double value, int analysisType, int set = 0) const;
  // The key of a .dat block printed at total time: the .sta row of that
  // time, else the pending .frd block (upcoming, may be null) or the open
  // frame of the same time, else the next increment of the current step.
  // A print of a mode (mode > 0, modeKind 2 or 4) joins that mode's frame
  // of the pending or open modal step (else it is placed by its time); a
  // print that a .sta row places behind
  // the current step, before a buckling base state, joins the base state.
  BlockKey keyOfPrint(double time, const BlockKey* upcoming, int mode = 0, int modeKind = 0);

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
  int modalStep(int step, double value, int analysisType, int set) const;
  int bucklingMode(int step, double value, int set) const;
  bool bucklingRestarts(double value, int set) const;
  double stepStart(int step) const;

  std::vector<StaIncrement> sta_;
  std::vector<int> procedures_;
  std::size_t staCursor_ = 0;
  int step_ = 0;
  double stepStart_ = 0.0;
  double lastTime_ = 0.0;  // total time of the last frame that had one
  bool open_ = false;
  BlockKey frame_;  // key of the open frame (step and increment resolved)
};

}  // namespace ccx
