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

// A buckling block of value 0 after the modes of the open buckling step
// is the base state of the next buckling step.
bool FrameClock::bucklingRestarts(double value, int set) const {
  return open_ && frame_.analysisType == 4 && frame_.increment > 0 && value == 0.0 &&
         (set == 0 || set != frame_.set);
}

// The step a modal block belongs to. Its own number stands unless it lies
// behind the current step or the deck gives that step another procedure;
// then the current step if it is of the block's kind, else the next deck
// step that is.
int FrameClock::modalStep(int step, double value, int analysisType, int set) const {
  const int steps = static_cast<int>(procedures_.size());
  const auto kind = [&](int s) { return s >= 1 && s <= steps ? procedures_[s - 1] : -1; };
  if (procedures_.empty()) return step;
  const bool restart = analysisType == 4 && bucklingRestarts(value, set);
  const int own = kind(step);
  if (step >= step_ && (own == analysisType || own == 3 || own < 0) && !(restart && step == step_)) return step;
  if (step_ > 0 && kind(step_) == analysisType && !restart) return step_;
  for (int s = step_ + 1; s <= steps; ++s)
    if (kind(s) == analysisType) return s;
  return step;
}

// Buckling blocks carry no mode line: the base state (factor 0) comes first,
// then one result set per mode.
int FrameClock::bucklingMode(int step, double value, int set) const {
  if (open_ && frame_.step == step && frame_.analysisType == 4 && !bucklingRestarts(value, set)) {
    const bool same = set != 0 && frame_.set != 0 ? set == frame_.set : sameTime(frame_.value, value);
    return same ? frame_.increment : frame_.increment + 1;
  }
  return value == 0.0 ? 0 : 1;
}

BlockKey FrameClock::keyOfFrdBlock(int step, int increment, int mode, double value, int analysisType, int set) const {
  BlockKey key{step, modal(analysisType) && mode > 0 ? mode : increment, value, analysisType, set};
  if (modal(analysisType)) key.step = modalStep(step, value, analysisType, set);
  if (analysisType == 4 && mode <= 0) key.increment = bucklingMode(key.step, value, set);
  if (key.step > 0) return key;
  key.step = std::max(step_, 1);
  if (!open_)
    key.increment = 1;
  else
    key.increment = sameTime(frame_.value, value) ? frame_.increment : frame_.increment + 1;
  return key;
}

BlockKey FrameClock::keyOfPrint(double time, const BlockKey* upcoming, int mode, int modeKind) {
  if (mode > 0 && modal(modeKind)) {
    if (upcoming && upcoming->analysisType == modeKind && upcoming->increment == mode) return *upcoming;
    if (open_ && frame_.analysisType == modeKind && frame_.increment == mode) return frame_;
    if (upcoming && upcoming->analysisType == modeKind) return {upcoming->step, mode, 0.0, modeKind};
    // No modal frame to join: the print is placed by its time like any other.
  }
  const int i = findIncrement(sta_, time, staCursor_);
  if (i >= 0 && sta_[static_cast<std::size_t>(i)].step >= step_) {
    staCursor_ = static_cast<std::size_t>(i);
    const StaIncrement& s = sta_[staCursor_];
    return {s.step, s.increment, time, 0};
  }
  if (upcoming && upcoming->step > 0 && sameTime(upcoming->value, time))
    return {upcoming->step, upcoming->increment, time, upcoming->analysisType};
  if (upcoming && upcoming->analysisType == 4 && upcoming->increment == 0) return *upcoming;
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
  if (f.analysisType == 4 && f.increment == 0) {
    p.frameValue = 0.0;
    p.description = "Base state";
  } else if (modal(f.analysisType)) {
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
  p.frameValue = modal(key.analysisType) ? key.value : key.value - stepStart_;
  return p;
}

}  // namespace ccx
