// The frame clock: step and frame placement of .frd and .dat blocks.
#include "frame_clock.h"

#include <algorithm>
#include <charconv>

#include "input.h"

namespace ccx {

std::string stepName(int step) { return "Step-" + std::to_string(step); }

static bool modal(int analysisType) { return analysisType == 2 || analysisType == 4; }

// A frame value in six significant digits, "%g" style ("1.5e-06", "41.7"),
// the same in every locale.
static std::string sixDigits(double v) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 6).ptr;
  return std::string(text, end);
}

BlockKey FrameClock::keyOfFrdBlock(int step, int increment, int mode, double value, int analysisType) const {
  BlockKey key{step, modal(analysisType) && mode > 0 ? mode : increment, value, analysisType};
  if (step > 0) return key;
  key.step = std::max(step_, 1);
  if (!open_)
    key.increment = 1;
  else
    key.increment = sameTime(frame_.value, value) ? frame_.increment : frame_.increment + 1;
  return key;
}

BlockKey FrameClock::keyOfPrint(double time, const BlockKey* upcoming) {
  const int i = findIncrement(sta_, time, staCursor_);
  if (i >= 0) {
    staCursor_ = static_cast<std::size_t>(i);
    const StaIncrement& s = sta_[staCursor_];
    return {s.step, s.increment, time, 0};
  }
  if (upcoming && upcoming->step > 0 && sameTime(upcoming->value, time))
    return {upcoming->step, upcoming->increment, time, upcoming->analysisType};
  if (open_ && sameTime(frame_.value, time)) return frame_;
  return {std::max(step_, 1), open_ ? frame_.increment + 1 : 1, time, 0};
}

double FrameClock::stepStart(int step) const {
  for (const StaIncrement& s : sta_)
    if (s.step == step) return s.totalTime - s.stepTime;
  return lastTime_;  // without a .sta row: where the previous step's last frame ended
}

// Opens steps up to step; a block of an earlier step joins the current one.
int FrameClock::enterStep(int step, bool& opened) {
  step = std::max({step, step_, 1});
  opened = step > step_;
  while (step_ < step) {
    ++step_;
    stepStart_ = stepStart(step_);
    open_ = false;
  }
  return step;
}

FramePlace FrameClock::place(const BlockKey& key) {
  FramePlace p;
  p.step = enterStep(key.step, p.newStep);
  BlockKey k = key;
  k.step = p.step;
  // The same step and increment again at another time (an analysis keyword
  // outside *STEP makes the solver repeat them) is the next increment.
  const bool again = open_ && frame_.step == k.step && !modal(k.analysisType) && k.increment <= frame_.increment &&
                     !sameTime(frame_.value, k.value);
  if (again) k.increment = frame_.increment + 1;
  p.increment = k.increment;
  p.newFrame = !open_ || frame_.step != k.step || frame_.increment != k.increment;
  if (p.newFrame) {
    frame_ = k;
    open_ = true;
    if (!modal(k.analysisType)) lastTime_ = k.value;
  }
  const BlockKey& f = frame_;
  if (modal(f.analysisType)) {
    p.frameValue = f.value;
    const char* what = f.analysisType == 2 ? ": Frequency = " : ": Buckling factor = ";
    p.description = "Mode " + std::to_string(f.increment) + what + sixDigits(f.value);
  } else {
    p.frameValue = f.value - stepStart_;
    p.description = "Increment " + std::to_string(f.increment) + ": Step Time = " + sixDigits(p.frameValue);
  }
  return p;
}

FramePlace FrameClock::placeHistory(const BlockKey& key) {
  FramePlace p;
  p.step = enterStep(key.step, p.newStep);
  p.increment = key.increment;
  p.frameValue = key.value - stepStart_;
  return p;
}

}  // namespace ccx
