// The import driver: model first, then the .frd's result blocks and the
// .dat's printed blocks merged in (step, increment) order into frames, and
// the .dat's node prints gathered per step into history regions.
#include "import.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "dat.h"
#include "frd.h"
#include "inp.h"
#include "mapping.h"
#include "mass.h"
#include "mesh.h"
#include "node_history.h"
#include "odb/odb_writer.h"
#include "sta.h"

namespace ccx {

namespace {

struct FrameKey {
  int step = 0;
  int increment = 0;
  double time = 0;  // total time, or the frequency of a modal step
  int analysisType = 0;
};

class Importer {
 public:
  Importer(const ImportOptions& o, odbw::Writer& w) : options_(o), w_(w) {}
  void run();

 private:
  void readDeck();
  void readMesh();
  void writeModel();
  void mergeResults();
  bool nextFrd();
  bool nextDat();
  FrameKey datKey(const DatBlock& b);
  FrameKey datKey_;
  void openFrame(FrameKey key);
  void openStep(int step);
  void finishStep();
  double stepStart(int step) const;
  void writeFrdBlock(const FrdResult& r);
  void writeNodal(const FrdResult& r, const FieldDef& f);
  void writeElementNodal(const FrdResult& r, const FieldDef& f);
  void writeDatBlock(const DatBlock& b, const FrameKey& key);
  void addField(const FieldDef& f);
  void progress();

  const ImportOptions& options_;
  odbw::Writer& w_;
  InpModel inp_;
  std::vector<StaIncrement> sta_;
  std::size_t staCursor_ = 0;
  Mesh mesh_;
  NodeRows rows_;
  std::unique_ptr<InputFile> frdFile_, datFile_;
  std::unique_ptr<FrdReader> frd_;
  std::unique_ptr<DatReader> dat_;
  DatBlock datBlock_;
  bool frdPending_ = false, datPending_ = false;
  int step_ = 0;                   // steps written so far
  std::optional<FrameKey> frame_;  // the open frame
  int frameIndex_ = -1;
  double lastTime_ = 0, stepStartTime_ = 0;
  std::set<std::string> fields_;  // field outputs of the open frame
  StepHistory history_;
  MassProperties mass_;
  int percent_ = 0;
};

}  // namespace

static bool fileExists(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

void Importer::readDeck() {
  inp_ = readInp(options_.job + ".inp");
  if (fileExists(options_.job + ".sta")) {
    InputFile sta(options_.job + ".sta");
    sta_ = readSta(sta);
  }
}

void Importer::readMesh() {
  const std::string frd = options_.job + ".frd";
  if (!fileExists(frd)) {
    mesh_.fromInp(inp_);
    return;
  }
  frdFile_ = std::make_unique<InputFile>(frd);
  frd_ = std::make_unique<FrdReader>(*frdFile_);
  for (;;) {
    const FrdReader::Item item = frd_->next();
    progress();
    if (item == FrdReader::Item::Nodes)
      mesh_.fromFrdNodes(std::move(frd_->nodes()));
    else if (item == FrdReader::Item::Elements)
      mesh_.fromFrdElements(std::move(frd_->elements()));
    else {
      frdPending_ = item == FrdReader::Item::Result;
      break;
    }
  }
  if (mesh_.nodeLabels.empty() && mesh_.elementLabels.empty()) mesh_.fromInp(inp_);
}

void Importer::writeModel() {
  w_.addPart(kPart);
  w_.addInstance(kInstance, kPart);
  w_.setInstanceNodes(kInstance, mesh_.nodeLabels, mesh_.coordinates);
  w_.setInstanceElements(kInstance, mesh_.elementLabels, mesh_.offsets, mesh_.connectivity);
  for (int pass = 0; pass < 2; ++pass) {
    const bool nodes = pass == 0;
    for (const InpSet& s : nodes ? inp_.nodeSets : inp_.elementSets) {
      std::vector<int> labels = s.labels;
      std::sort(labels.begin(), labels.end());
      labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
      w_.addAssemblySet(nodes ? odbw::SetKind::Node : odbw::SetKind::Element, s.name, {{kInstance, std::move(labels)}});
    }
  }
}

void Importer::progress() {
  if (!options_.progress || !frdFile_ || frdFile_->size() < (64u << 20)) return;
  const int now =
      static_cast<int>(100.0 * static_cast<double>(frdFile_->offset()) / static_cast<double>(frdFile_->size()));
  if (now / 10 == percent_ / 10) return;
  percent_ = now;
  std::fprintf(stderr, "ccx2odb: %s: %d%%\n", frdFile_->name().c_str(), now);
}

bool Importer::nextFrd() {
  if (!frd_) return false;
  const FrdReader::Item item = frd_->next();
  if (item == FrdReader::Item::End) {
    frd_.reset();
    return false;
  }
  if (item != FrdReader::Item::Result) frdFile_->fail("mesh block after the first result block");
  progress();
  return true;
}

bool Importer::nextDat() {
  if (!dat_) return false;
  if (dat_->next(datBlock_)) {
    datKey_ = datKey(datBlock_);
    return true;
  }
  dat_.reset();
  return false;
}

double Importer::stepStart(int step) const {
  for (const StaIncrement& s : sta_)
    if (s.step == step) return s.totalTime - s.stepTime;
  return lastTime_;  // without the .sta: where the previous step's last frame ended
}

void Importer::finishStep() {
  if (step_ > 0) history_.write(w_, "Step-" + std::to_string(step_));
}

void Importer::openStep(int step) {
  while (step_ < step) {
    finishStep();
    ++step_;
    stepStartTime_ = stepStart(step_);
    frame_.reset();
    odbw::StepInfo info;
    const MassProperties& mp = mass_;
    info.mass = mp.valid ? mp.mass : -1.0;
    if (mp.valid) {
      info.massCenter = std::vector<double>(mp.center.begin(), mp.center.end());
      info.inertiaAboutCenter = std::vector<double>(mp.inertiaCenter.begin(), mp.inertiaCenter.end());
      info.inertiaAboutOrigin = std::vector<double>(mp.inertiaOrigin.begin(), mp.inertiaOrigin.end());
    }
    w_.addStep("Step-" + std::to_string(step_), info);
  }
}

static std::string number(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

void Importer::openFrame(FrameKey key) {
  if (key.step < step_) key.step = step_;  // a block out of order joins the current step
  if (key.step < 1) key.step = 1;
  openStep(key.step);
  if (frame_ && frame_->step == key.step && frame_->increment == key.increment) return;
  frame_ = key;
  fields_.clear();
  if (key.analysisType != 2 && key.analysisType != 4) lastTime_ = key.time;
  odbw::FrameInfo info;
  info.incrementNumber = key.increment;
  if (key.analysisType == 2 || key.analysisType == 4) {
    info.frameValue = key.time;
    const char* what = key.analysisType == 2 ? ": Frequency = " : ": Buckling factor = ";
    info.description = "Mode " + std::to_string(key.increment) + what + number(key.time);
  } else {
    const double stepTime = key.time - stepStartTime_;
    info.frameValue = stepTime;
    info.description = "Increment " + std::to_string(key.increment) + ": Step Time = " + number(stepTime);
  }
  frameIndex_ = w_.addFrame("Step-" + std::to_string(step_), info);
}

void Importer::addField(const FieldDef& f) {
  odbw::FieldInfo info;
  info.description = f.description;
  info.type = f.type;
  info.componentLabels = f.labels;
  info.validInvariants = f.invariants;
  w_.addFieldOutput("Step-" + std::to_string(step_), frameIndex_, f.name, info);
  fields_.insert(f.name);
}

void Importer::writeNodal(const FrdResult& r, const FieldDef& f) {
  const std::size_t stored = r.storedColumns.size(), width = f.columns.size();
  std::vector<float> data;
  std::span<const float> view(r.values);
  if (width != stored) {
    data.resize(r.nodes.size() * width);
    for (std::size_t i = 0; i < r.nodes.size(); ++i)
      for (std::size_t k = 0; k < width; ++k)
        data[i * width + k] = r.values[i * stored + static_cast<std::size_t>(f.columns[k])];
    view = data;
  }
  addField(f);
  odbw::BlockInfo block;
  block.instance = kInstance;
  block.nodeLabels = r.nodes;
  w_.addBlock("Step-" + std::to_string(step_), frameIndex_, f.name, block, view, static_cast<int>(width));
}

// Spreads nodal tensors over the elements: one block per element type, each
// element with the values at its nodes in its node order. Elements with a
// node outside the block (an output set) are left out.
void Importer::writeElementNodal(const FrdResult& r, const FieldDef& f) {
  rows_.reset(r.nodes);
  const std::size_t stored = r.storedColumns.size();
  addField(f);
  for (const auto& group : mesh_.groups) {
    odbw::BlockInfo block;
    block.position = "ELEMENT_NODAL";
    block.instance = kInstance;
    std::vector<float> data;
    for (std::size_t e : group) {
      const auto first = static_cast<std::size_t>(mesh_.offsets[e]),
                 last = static_cast<std::size_t>(mesh_.offsets[e + 1]);
      bool complete = true;
      for (std::size_t n = first; n < last && complete; ++n) complete = rows_.row(mesh_.connectivity[n]) >= 0;
      if (!complete) continue;
      for (std::size_t n = first; n < last; ++n) {
        const auto row = static_cast<std::size_t>(rows_.row(mesh_.connectivity[n]));
        block.elementLabels.push_back(mesh_.elementLabels[e]);
        block.nodeLabels.push_back(mesh_.connectivity[n]);
        for (int c : f.columns) data.push_back(r.values[row * stored + static_cast<std::size_t>(c)]);
      }
    }
    if (block.elementLabels.empty()) continue;
    w_.addBlock("Step-" + std::to_string(step_), frameIndex_, f.name, block, std::span<const float>(data), 6);
  }
}

void Importer::writeFrdBlock(const FrdResult& r) {
  const bool modal = r.analysisType == 2 || r.analysisType == 4;
  FrameKey key{r.step, modal && r.mode > 0 ? r.mode : r.increment, r.value, r.analysisType};
  if (r.step == 0) {  // no 1PSTEP lines: a new time is a new increment
    key.step = std::max(step_, 1);
    key.increment = frame_ && frame_->time == r.value ? frame_->increment : (frame_ ? frame_->increment + 1 : 1);
  }
  openFrame(key);
  FrdMapping m = mapFrdBlock(r);
  if (m.layout == FrdLayout::ElementNodal) {
    if (!fields_.count(m.field.name)) writeElementNodal(r, m.field);
    return;
  }
  if (m.layout == FrdLayout::Nodal) {
    if (!fields_.count(m.field.name)) writeNodal(r, m.field);
    return;
  }
  for (FieldDef& c : m.components) {
    if (fields_.count(c.name)) c.name = r.name + "_" + c.name;
    if (!fields_.count(c.name)) writeNodal(r, c);
  }
}

static bool sameTime(double a, double b) { return std::fabs(a - b) <= 6e-6 * std::max(1.0, std::fabs(a)); }

// The .dat has total times only: the .sta places them in steps and
// increments; without it a time that matches a .frd frame joins that frame.
FrameKey Importer::datKey(const DatBlock& b) {
  if (!sta_.empty()) {
    const int i = findIncrement(sta_, b.time, staCursor_);
    if (i >= 0) {
      staCursor_ = static_cast<std::size_t>(i);
      const StaIncrement& s = sta_[staCursor_];
      return {s.step, s.increment, b.time, 0};
    }
  }
  if (frdPending_ && frd_ && frd_->result().step > 0 && sameTime(frd_->result().value, b.time))
    return {frd_->result().step, frd_->result().increment, b.time, 0};
  if (frame_ && sameTime(frame_->time, b.time)) return *frame_;
  return {std::max(step_, 1), frame_ ? frame_->increment + 1 : 1, b.time, 0};
}

void Importer::writeDatBlock(const DatBlock& b, const FrameKey& key) {
  const DatMapping m = mapDatBlock(b);
  if (m.history) {
    openStep(std::max(key.step, step_));
    history_.add(b, m, b.time - stepStartTime_);
    return;
  }
  openFrame(key);
  const std::size_t rows = b.rows();
  for (const FieldDef& f : m.fields) {
    if (!fields_.count(f.name)) addField(f);
    odbw::BlockInfo block;
    block.position = m.position;
    block.instance = kInstance;
    block.elementLabels = b.ids;
    if (m.position == "INTEGRATION_POINT") block.integrationPoints = b.points;
    std::vector<double> data;
    data.reserve(rows * f.columns.size());
    for (std::size_t i = 0; i < rows; ++i)
      for (int c : f.columns)
        data.push_back(b.values[i * static_cast<std::size_t>(b.width) + static_cast<std::size_t>(c)]);
    w_.addBlock("Step-" + std::to_string(step_), frameIndex_, f.name, block, std::span<const double>(data),
                static_cast<int>(f.columns.size()));
  }
}

void Importer::mergeResults() {
  if (fileExists(options_.job + ".dat")) {
    datFile_ = std::make_unique<InputFile>(options_.job + ".dat");
    dat_ = std::make_unique<DatReader>(*datFile_);
  }
  datPending_ = nextDat();
  while (frdPending_ || datPending_) {
    bool takeFrd = frdPending_;
    if (frdPending_ && datPending_) {
      const FrdResult& r = frd_->result();
      takeFrd = r.step == 0 || std::pair(r.step, r.increment) <= std::pair(datKey_.step, datKey_.increment);
    }
    if (takeFrd) {
      writeFrdBlock(frd_->result());
      frdPending_ = nextFrd();
    } else {
      writeDatBlock(datBlock_, datKey_);
      datPending_ = nextDat();
    }
  }
}

void Importer::run() {
  readDeck();
  mass_ = computeMass(inp_);
  readMesh();
  writeModel();
  // From here on only the connectivity is needed (to spread tensors over
  // elements): the deck's mesh, the sets and the coordinates go.
  inp_.coordinates = {};
  inp_.connectivity = {};
  inp_.nodeSets = {};
  inp_.elementSets = {};
  inp_.nodeSetIndex = {};
  inp_.elementSetIndex = {};
  mesh_.coordinates = {};
  mergeResults();
  openStep(inp_.steps);  // steps without any output still appear
  finishStep();
}

void importJob(const ImportOptions& options) {
  const std::string output = options.output.empty() ? options.job + ".odb" : options.output;
  const std::string temporary = output + ".tmp" + std::to_string(::getpid());
  try {
    odbw::Writer writer(temporary);
    writer.setDescription("CalculiX job " + options.job);
    Importer(options, writer).run();
    writer.close();
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
  if (std::rename(temporary.c_str(), output.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw ParseError(output, 0, "cannot rename the temporary database into place");
  }
}

}  // namespace ccx
