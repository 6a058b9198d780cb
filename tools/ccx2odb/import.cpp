// The import driver: the .frd's result blocks and the .dat's printed blocks
// merged in (step, increment) order into frames placed by the frame clock,
// the .dat's node prints gathered per step into history regions, and the
// model written last, so that it holds every node and element any block
// refers to (later .frd mesh blocks of a model change, deck elements that
// only the .dat prints).
#include "import.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "dat.h"
#include "frame_clock.h"
#include "frd.h"
#include "inp.h"
#include "mapping.h"
#include "mass.h"
#include "mesh.h"
#include "node_history.h"
#include "odb/odb.h"
#include "odb/odb_writer.h"
#include "sta.h"

namespace ccx {

namespace {

class Importer {
 public:
  Importer(const ImportOptions& o, odbw::Writer& w) : options_(o), w_(w) {}
  void run();
  const std::vector<std::string>& includes() const { return inp_.includes; }

 private:
  void readDeck();
  void readMesh();
  void completeMesh();
  void adoptFromDeck(const std::set<int>& nodes, const std::set<int>& elements);
  void writeModel();
  void mergeResults();
  bool nextFrd();
  bool nextDat();
  void finishFrd();
  BlockKey pendingFrdKey() const;
  void enter(const FramePlace& p, const std::string& origin, long line, const std::string& what);
  void openSteps(int step);
  void writeFrdBlock(const FrdResult& r);
  void writeNodal(const FrdResult& r, const FieldDef& f);
  void writeElementNodal(const FrdResult& r, const FieldDef& f);
  void writeDatBlock(const DatBlock& b, const BlockKey& key);
  void writeDatField(const DatBlock& b, const DatMapping& m, const FieldDef& f);
  void addField(const FieldDef& f);
  void progress();

  const ImportOptions& options_;
  odbw::Writer& w_;
  InpModel inp_;
  FrameClock clock_;
  Mesh mesh_;
  NodeRows rows_;
  std::unique_ptr<InputFile> frdFile_, datFile_;
  std::unique_ptr<FrdReader> frd_;
  std::unique_ptr<DatReader> dat_;
  DatBlock datBlock_;
  BlockKey pendingDatKey_;
  bool frdPending_ = false, datPending_ = false;
  bool frdBlocks_ = false;          // the .frd had a mesh or result block
  int stepsWritten_ = 0;
  int frameIndex_ = -1;
  std::set<std::string> fields_;    // field outputs of the open frame
  std::map<std::pair<int, int>, std::string> frames_;  // (step, increment) of each frame -> the block that opened it
  std::set<int> strayNodes_, strayElements_;  // labels in blocks but not in the mesh (yet)
  std::unordered_map<int, std::size_t> deckNodes_;  // deck node label -> index, made when first needed
  StepHistory history_;
  MassProperties mass_;
  int percent_ = 0;
};

}  // namespace

static bool fileExists(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

void Importer::readDeck() {
  inp_ = readInp(options_.job + ".inp");
  clock_ = FrameClock({}, inp_.procedures);
  if (!fileExists(options_.job + ".sta")) return;
  InputFile sta(options_.job + ".sta");
  clock_ = FrameClock(readSta(sta), inp_.procedures);
}

void Importer::readMesh() {
  const std::string frd = options_.job + ".frd", dat = options_.job + ".dat";
  if (!fileExists(frd) && !fileExists(dat))
    throw ParseError(options_.job, 0, "no results found (looked for " + frd + " and " + dat + ")");
  if (!fileExists(frd))
    std::fprintf(stderr, "ccx2odb: %s: not found; only the printed results of %s are imported\n", frd.c_str(),
                 dat.c_str());
  if (fileExists(frd)) {
    frdFile_ = std::make_unique<InputFile>(frd);
    frd_ = std::make_unique<FrdReader>(*frdFile_, options_.partial);
    frdPending_ = nextFrd();
  }
  if (mesh_.nodeLabels.empty() && mesh_.elementLabels.empty()) mesh_.fromInp(inp_);
}

// Node and element blocks (the first ones and those of later model changes)
// go into the mesh; true when a result block is pending.
bool Importer::nextFrd() {
  if (!frd_) return false;
  for (;;) {
    const FrdReader::Item item = frd_->next();
    progress();
    if (item == FrdReader::Item::End) {
      finishFrd();
      return false;
    }
    frdBlocks_ = true;
    if (item == FrdReader::Item::Result) return true;
    if (item == FrdReader::Item::Nodes)
      mesh_.mergeNodes(std::move(frd_->nodes()));
    else
      mesh_.mergeElements(std::move(frd_->elements()));
  }
}

// A file that ends without its 9999 record: the solver stopped. What it
// finished is kept, with a warning.
void Importer::finishFrd() {
  const std::string& name = frdFile_->name();
  if (!frd_->complete()) {
    if (!frdBlocks_) throw ParseError(name, 0, "nothing after the header: the solver stopped before writing results");
    if (!frd_->dropped().empty()) std::fprintf(stderr, "ccx2odb: %s; block dropped\n", frd_->dropped().c_str());
    if (clock_.frameStep() > 0)
      std::fprintf(stderr, "ccx2odb: %s: no end record; the solver stopped after step %d increment %d\n", name.c_str(),
                   clock_.frameStep(), clock_.frameIncrement());
    else
      std::fprintf(stderr, "ccx2odb: %s: no end record; the solver stopped before writing results\n", name.c_str());
  }
  frd_.reset();
}

bool Importer::nextDat() {
  if (!dat_ || !dat_->next(datBlock_)) {
    dat_.reset();
    return false;
  }
  const BlockKey upcoming = frdPending_ ? pendingFrdKey() : BlockKey{};
  pendingDatKey_ =
      clock_.keyOfPrint(datBlock_.time, frdPending_ ? &upcoming : nullptr, datBlock_.mode, datBlock_.modeKind);
  return true;
}

BlockKey Importer::pendingFrdKey() const {
  const FrdResult& r = frd_->result();
  return clock_.keyOfFrdBlock(r.step, r.increment, r.mode, r.value, r.analysisType, r.set);
}

void Importer::progress() {
  if (!options_.progress || !frdFile_ || frdFile_->size() < (64u << 20)) return;
  const int now =
      static_cast<int>(100.0 * static_cast<double>(frdFile_->offset()) / static_cast<double>(frdFile_->size()));
  if (now / 10 == percent_ / 10) return;
  percent_ = now;
  std::fprintf(stderr, "ccx2odb: %s: %d%%\n", frdFile_->name().c_str(), now);
}

void Importer::openSteps(int step) {
  while (stepsWritten_ < step) {
    if (stepsWritten_ > 0) history_.write(w_, stepName(stepsWritten_));
    ++stepsWritten_;
    odbw::StepInfo info;
    info.mass = mass_.valid ? mass_.mass : -1.0;
    if (mass_.valid) {
      info.massCenter = std::vector<double>(mass_.center.begin(), mass_.center.end());
      info.inertiaAboutCenter = std::vector<double>(mass_.inertiaCenter.begin(), mass_.inertiaCenter.end());
      info.inertiaAboutOrigin = std::vector<double>(mass_.inertiaOrigin.begin(), mass_.inertiaOrigin.end());
    }
    w_.addStep(stepName(stepsWritten_), info);
  }
}

// A frame for the block at origin:line (what names it); two frames of one
// step never share an increment number, whose report names would repeat.
void Importer::enter(const FramePlace& p, const std::string& origin, long line, const std::string& what) {
  openSteps(p.step);
  if (!p.newFrame) return;
  const std::string here = origin + ":" + std::to_string(line);
  const auto [first, added] = frames_.emplace(std::pair(p.step, p.increment), here);
  if (!added)
    throw ParseError(origin, line,
                     what + " would open a second frame of " + stepName(p.step) + " with increment " +
                         std::to_string(p.increment) + " (the first was opened at " + first->second + ")");
  fields_.clear();
  odbw::FrameInfo info;
  info.incrementNumber = p.increment;
  info.frameValue = p.frameValue;
  info.description = p.description;
  frameIndex_ = w_.addFrame(stepName(p.step), info);
}

void Importer::addField(const FieldDef& f) {
  odbw::FieldInfo info;
  info.description = f.description;
  info.type = f.type;
  info.componentLabels = f.labels;
  info.validInvariants = f.invariants;
  w_.addFieldOutput(stepName(stepsWritten_), frameIndex_, f.name, info);
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
  w_.addBlock(stepName(stepsWritten_), frameIndex_, f.name, block, view, static_cast<int>(width));
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
    block.position = odb_Enum::ELEMENT_NODAL;
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
    w_.addBlock(stepName(stepsWritten_), frameIndex_, f.name, block, std::span<const float>(data), 6);
  }
}

void Importer::writeFrdBlock(const FrdResult& r) {
  enter(clock_.place(pendingFrdKey()), frdFile_->name(), r.line, "the " + r.name + " block");
  std::set<int> stray;  // nodes new to the mesh; those the deck lacks too are looked for once
  for (int n : r.nodes)
    if (!mesh_.hasNode(n) && !strayNodes_.count(n)) stray.insert(n);
  if (!stray.empty()) adoptFromDeck(stray, {});
  for (int n : stray)
    if (!mesh_.hasNode(n)) strayNodes_.insert(n);
  FrdMapping m = mapFrdBlock(r);
  if (m.layout == FrdLayout::ElementNodal && !fields_.count(m.field.name)) writeElementNodal(r, m.field);
  if (m.layout == FrdLayout::Nodal && !fields_.count(m.field.name)) writeNodal(r, m.field);
  for (FieldDef& c : m.components) {
    if (fields_.count(c.name)) c.name = fieldName(r.name) + "_" + c.name;
    if (!fields_.count(c.name)) writeNodal(r, c);
  }
}

// One block per number of values per element: a print may mix element
// types (8-point and 27-point bricks), and a block holds one count. A
// contact print per face gives each element face its points 1, 2, ... in
// the order printed, and a block per face and count, the face as the
// section point.
void Importer::writeDatField(const DatBlock& b, const DatMapping& m, const FieldDef& f) {
  const std::size_t rows = b.rows(), width = static_cast<std::size_t>(b.width);
  const bool atPoints = b.kind == DatBlock::Kind::IntegrationPoint, atFaces = b.kind == DatBlock::Kind::Face;
  std::vector<std::size_t> run(rows);  // the element (and face) run of each row
  std::vector<std::size_t> runSize;
  std::map<std::pair<int, int>, std::size_t> faceRun;
  for (std::size_t i = 0; i < rows; ++i) {
    std::size_t r = runSize.size();
    if (atFaces)
      r = faceRun.emplace(std::pair(b.ids[i], b.points[i]), r).first->second;
    else if (atPoints && i > 0 && b.ids[i] == b.ids[i - 1] && b.points[i] > b.points[i - 1])
      r = run[i - 1];
    if (r == runSize.size()) runSize.push_back(0);
    ++runSize[r];
    run[i] = r;
  }
  std::vector<std::size_t> order(rows);
  for (std::size_t i = 0; i < rows; ++i) order[i] = i;
  if (atFaces)
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return run[x] < run[y]; });
  using Key = std::pair<int, std::size_t>;  // face (0 for other prints), values per element
  std::map<Key, odbw::BlockInfo> blocks;
  std::map<Key, std::vector<double>> data;
  std::vector<Key> keys;  // in order of first appearance
  for (std::size_t k = 0; k < rows;) {
    const std::size_t count = runSize[run[order[k]]];
    const Key key{atFaces ? b.points[order[k]] : 0, count};
    odbw::BlockInfo& block = blocks[key];
    if (block.elementLabels.empty()) {
      keys.push_back(key);
      block.position = m.position;
      block.instance = kInstance;
      if (atFaces) block.sectionPoint = key.first;
    }
    for (std::size_t j = 0; j < count; ++j, ++k) {
      const std::size_t i = order[k];
      block.elementLabels.push_back(b.ids[i]);
      if (atPoints || atFaces) block.integrationPoints.push_back(atFaces ? static_cast<int>(j + 1) : b.points[i]);
      for (int c : f.columns) data[key].push_back(b.values[i * width + static_cast<std::size_t>(c)]);
    }
  }
  for (const Key& key : keys)
    w_.addBlock(stepName(stepsWritten_), frameIndex_, f.name, blocks[key], std::span<const double>(data[key]),
                static_cast<int>(f.columns.size()));
}

void Importer::writeDatBlock(const DatBlock& b, const BlockKey& key) {
  if (b.rows() == 0) return;  // a print with nothing in it (no contact yet)
  const DatMapping m = mapDatBlock(b);
  const bool atNodes = b.kind == DatBlock::Kind::Node;
  for (int id : b.ids)
    if (atNodes ? !mesh_.hasNode(id) : !mesh_.hasElement(id)) (atNodes ? strayNodes_ : strayElements_).insert(id);
  if (m.history) {
    const FramePlace p = clock_.placeHistory(key);
    openSteps(p.step);
    history_.add(b, m, p.frameValue);
    return;
  }
  enter(clock_.place(key), datFile_->name(), b.line, "the " + b.what + " print");
  for (const FieldDef& f : m.fields) {
    if (!fields_.count(f.name)) addField(f);
    writeDatField(b, m, f);
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
      const BlockKey f = pendingFrdKey(), &d = pendingDatKey_;
      takeFrd = frd_->result().step == 0 || std::pair(f.step, f.increment) <= std::pair(d.step, d.increment);
    }
    if (takeFrd) {
      writeFrdBlock(frd_->result());
      frdPending_ = nextFrd();
    } else {
      writeDatBlock(datBlock_, pendingDatKey_);
      datPending_ = nextDat();
    }
  }
}

// Nodes and elements that blocks refer to but the .frd's mesh lacks (a
// model change adds elements back, prints name deck elements) come from the
// deck: the elements named, the nodes named, and the deck elements that
// hold a node named and whose nodes are all in the mesh then.
void Importer::adoptFromDeck(const std::set<int>& nodes, const std::set<int>& elements) {
  if (deckNodes_.empty())
    for (std::size_t i = 0; i < inp_.nodeLabels.size(); ++i) deckNodes_.emplace(inp_.nodeLabels[i], i);
  auto adoptNode = [&](int n) {
    const auto it = deckNodes_.find(n);
    if (it == deckNodes_.end() || mesh_.hasNode(n)) return;
    mesh_.addNode(n, std::span<const double>(inp_.coordinates).subspan(3 * it->second).first<3>());
  };
  for (int n : nodes) adoptNode(n);
  for (std::size_t e = 0; e < inp_.elementLabels.size(); ++e) {
    if (mesh_.hasElement(inp_.elementLabels[e])) continue;
    const auto first = static_cast<std::size_t>(inp_.offsets[e]), last = static_cast<std::size_t>(inp_.offsets[e + 1]);
    const std::span<const int> conn = std::span<const int>(inp_.connectivity).subspan(first, last - first);
    const bool named = elements.count(inp_.elementLabels[e]) > 0;
    if (!named && (std::none_of(conn.begin(), conn.end(), [&](int n) { return nodes.count(n) > 0; }) ||
                   !std::all_of(conn.begin(), conn.end(), [&](int n) { return mesh_.hasNode(n); })))
      continue;
    for (int n : conn) adoptNode(n);
    mesh_.addElement(inp_.elementLabels[e], inp_.elementTypes[e], conn);
  }
  mesh_.makeGroups();
}

// Labels neither the .frd nor the deck knows (nodes the solver generated)
// are placed at the origin.
void Importer::completeMesh() {
  if (!strayNodes_.empty() || !strayElements_.empty()) adoptFromDeck(strayNodes_, strayElements_);
  for (int n : strayNodes_)
    if (!mesh_.hasNode(n)) mesh_.addNode(n, std::array<double, 3>{});
}

void Importer::writeModel() {
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

void Importer::run() {
  readDeck();
  mass_ = computeMass(inp_);
  w_.addPart(kPart);
  w_.addInstance(kInstance, kPart);
  readMesh();
  mergeResults();
  openSteps(std::max(inp_.steps, clock_.step()));  // steps without any output still appear
  if (stepsWritten_ > 0) history_.write(w_, stepName(stepsWritten_));
  completeMesh();
  writeModel();
}

// Whether two paths name one existing file.
static bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// An output that is one of the inputs is refused before anything is written.
static void refuseInput(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs)
    if (sameFile(output, input)) throw ParseError(output, 0, "is an input");
}

// A job is named without its extension (JOB or JOB.inp); a result file
// given instead is a mistake unless it names a deck of its own.
static void checkJobName(const std::string& job) {
  static const char* const kResults[] = {".frd", ".dat", ".sta", ".odb", ".cvg"};
  for (const char* ext : kResults) {
    const std::size_t n = std::strlen(ext);
    if (job.size() > n && job.compare(job.size() - n, n, ext) == 0 && !fileExists(job + ".inp"))
      throw ParseError(job, 0,
                       "a job name is expected (" + job.substr(0, job.size() - n) + " or " +
                           job.substr(0, job.size() - n) + ".inp), not a result file");
  }
}

// Temporary databases (OUTPUT.tmp<pid>) left by imports that were killed:
// those of processes that no longer exist are removed, a live one's are not.
static void removeStaleTemporaries(const std::string& output) {
  const std::size_t slash = output.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : output.substr(0, slash + 1);
  const std::string prefix = (slash == std::string::npos ? output : output.substr(slash + 1)) + ".tmp";
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const long long pid = std::stoll(digits);
    if (pid <= 0 || pid > INT_MAX || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::remove((slash == std::string::npos ? name : folder + name).c_str());
  }
  ::closedir(dir);
}

void importJob(const ImportOptions& options) {
  checkJobName(options.job);
  const std::string output = options.output.empty() ? options.job + ".odb" : options.output;
  std::vector<std::string> inputs;
  for (const char* ext : {".inp", ".frd", ".dat", ".sta"}) inputs.push_back(options.job + ext);
  refuseInput(output, inputs);
  struct stat st{};
  if (::stat(output.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw ParseError(output, 0, "is a directory; -o names the database file to write");
  removeStaleTemporaries(output);
  const std::string temporary = output + ".tmp" + std::to_string(::getpid());
  try {
    odbw::Writer writer(temporary);
    writer.setDescription("CalculiX job " + options.job);
    Importer importer(options, writer);
    importer.run();
    refuseInput(output, importer.includes());
    writer.close();
  } catch (const odb_Exception& e) {
    // A write the system refused (full disk, file size limit) is told by
    // its reason; other library failures keep their message. Either names
    // the output, not the temporary file.
    const int error = errno;
    std::remove(temporary.c_str());
    if (error == EFBIG || error == ENOSPC || error == EIO || error == EDQUOT)
      throw ParseError(output, 0, std::strerror(error));
    std::string message = e.message();
    if (message.rfind(temporary, 0) == 0) message.replace(0, temporary.size(), output);
    throw std::runtime_error(message);
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
