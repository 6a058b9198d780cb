// Steps and frames (docs/format.md §6): loaded with the database, field
// outputs excepted. No globals.
#include <cstdlib>

#include "odb/impl.h"

namespace odb_detail {

int countIndexedChildren(hid_t group, const Where& w, const char* what) {
  const std::vector<std::string> names = childNames(group, w);
  const std::size_t n = names.size();
  std::vector<bool> seen(n, false);
  // docs/format.md §3: frames and blocks are named exactly 0..n-1, without padding.
  for (const std::string& name : names) {
    bool ok = !name.empty() && name.size() <= 10 && (name == "0" || name[0] != '0');
    for (char c : name) ok = ok && c >= '0' && c <= '9';
    const unsigned long long i = ok ? std::strtoull(name.c_str(), nullptr, 10) : n;
    if (i >= n || seen[i])
      odbFail(w, std::string("found ") + what + " '" + name + "', expected " + what + "s named 0.." +
                     std::to_string(n - 1));
    seen[i] = true;
  }
  return static_cast<int>(n);
}

static odb_SequenceDouble massArray(hid_t step, const char* name, std::size_t size, const Where& w) {
  auto v = readDoubleArrayAttribute(step, name, w);
  if (!v) return {};
  if (!v->empty() && v->size() != size)
    odbFail(w, std::string(name) + " has " + std::to_string(v->size()) + " values, expected " + std::to_string(size));
  return odb_SequenceDouble(std::move(*v));
}

static odb_SequenceFrame loadFrames(const OdbImpl& odb, hid_t step, const std::string& stepPath) {
  const FileCtx& ctx = *odb.ctx;
  const Where fw = ctx.at(stepPath + "/frames");
  odb_SequenceFrame frames;
  H5Group g = openOptionalGroup(step, "frames", fw);
  if (!g.valid()) return frames;
  const int n = countIndexedChildren(g.get(), fw, "frame");
  for (int i = 0; i < n; ++i) {
    auto f = std::make_shared<FrameImpl>();
    f->ctx = odb.ctx;
    f->path = fw.path + "/" + std::to_string(i);
    const Where w = ctx.at(f->path);
    H5Group frame = openGroup(g.get(), std::to_string(i), w);
    f->id = i;
    f->incrementNumber = readInt32Attribute(frame.get(), "incrementNumber", w, i);
    f->description = readStringAttribute(frame.get(), "description", w).value_or("");
    f->frameValue = readDoubleAttribute(frame.get(), "frameValue", w).value_or(0.0);
    frames.append(odb_Frame(f));
  }
  return frames;
}

static odb_Step loadStep(const OdbImpl& odb, hid_t steps, const std::string& name) {
  const std::string path = "/steps/" + name;
  const Where w = odb.ctx->at(path);
  H5Group g = openGroup(steps, name, w);
  auto s = std::make_shared<StepImpl>();
  s->name = name;
  s->description = readStringAttribute(g.get(), "description", w).value_or("");
  s->mass = readDoubleAttribute(g.get(), "mass", w).value_or(-1.0);
  s->massCenter = massArray(g.get(), "massCenter", 3, w);
  s->inertiaAboutCenter = massArray(g.get(), "inertiaAboutCenter", 6, w);
  s->inertiaAboutOrigin = massArray(g.get(), "inertiaAboutOrigin", 6, w);
  s->frames = loadFrames(odb, g.get(), path);
  const Where hw = w.at("historyRegions");
  if (H5Group h = openOptionalGroup(g.get(), "historyRegions", hw); h.valid())
    for (const std::string& region : childNames(h.get(), hw))
      s->historyRegions.insert(region, loadHistoryRegion(odb, h.get(), hw.path + "/" + region, region));
  return odb_Step(s);
}

void loadSteps(OdbImpl& odb) {
  const Where w = odb.ctx->at("/steps");
  H5Group g = openOptionalGroup(odb.ctx->file.get(), "/steps", w);
  if (!g.valid()) return;
  for (const std::string& name : childNames(g.get(), w)) odb.steps.insert(name, loadStep(odb, g.get(), name));
}

}  // namespace odb_detail

// ------------------------------------------------------------------- handles

static const odb_String noString;
static const odb_SequenceDouble noDoubles;
static const odb_SequenceFrame noFrames;
static const odb_HistoryRegionRepository noRegions;

const odb_String& odb_Step::name() const { return impl_ ? impl_->name : noString; }
const odb_String& odb_Step::description() const { return impl_ ? impl_->description : noString; }
double odb_Step::mass() const { return impl_ ? impl_->mass : -1.0; }
const odb_SequenceDouble& odb_Step::massCenter() const { return impl_ ? impl_->massCenter : noDoubles; }
const odb_SequenceDouble& odb_Step::inertiaAboutCenter() const {
  return impl_ ? impl_->inertiaAboutCenter : noDoubles;
}
const odb_SequenceDouble& odb_Step::inertiaAboutOrigin() const {
  return impl_ ? impl_->inertiaAboutOrigin : noDoubles;
}
const odb_SequenceFrame& odb_Step::frames() const { return impl_ ? impl_->frames : noFrames; }
const odb_HistoryRegionRepository& odb_Step::historyRegions() const {
  return impl_ ? impl_->historyRegions : noRegions;
}

int odb_Frame::frameId() const { return impl_ ? impl_->id : 0; }
int odb_Frame::incrementNumber() const { return impl_ ? impl_->incrementNumber : 0; }
const odb_String& odb_Frame::description() const { return impl_ ? impl_->description : noString; }
double odb_Frame::frameValue() const { return impl_ ? impl_->frameValue : 0.0; }
