// The database writer, results: steps, frames, field outputs with their
// blocks, history regions and history outputs. No globals.
#include "odb/h5_write.h"
#include "odb/vocabulary.h"

namespace odbw {

using odb_detail::H5Group;
using odb_detail::Where;

std::string stepPath(const std::string& step) { return "/steps/" + step; }
std::string framePath(const std::string& step, int frame) {
  return stepPath(step) + "/frames/" + std::to_string(frame);
}
std::string fieldPath(const std::string& step, int frame, const std::string& field) {
  return framePath(step, frame) + "/fieldOutputs/" + field;
}
std::string regionPath(const std::string& step, const std::string& region) {
  return stepPath(step) + "/historyRegions/" + region;
}

Writer::Impl::Step& Writer::Impl::step(const std::string& name) {
  const auto it = steps.find(name);
  if (it == steps.end()) odb_detail::odbFail(at(stepPath(name)), "no such step");
  return it->second;
}

Writer::Impl::Frame& Writer::Impl::frame(const std::string& stepName, int index) {
  Step& s = step(stepName);
  if (index < 0 || static_cast<std::size_t>(index) >= s.frames.size())
    odb_detail::odbFail(at(framePath(stepName, index)),
                          "no such frame, the step has " + std::to_string(s.frames.size()) + " frames");
  return s.frames[static_cast<std::size_t>(index)];
}

static void putOptional(const Where& at, hid_t obj, const char* name, const std::optional<std::string>& v) {
  if (v) odb_detail::putStringAttr(at, obj, name, *v);
}
static void putOptional(const Where& at, hid_t obj, const char* name, const std::optional<int>& v) {
  if (v) odb_detail::putIntAttr(at, obj, name, *v, H5T_STD_I32LE);
}
static void putOptional(const Where& at, hid_t obj, const char* name, const std::optional<double>& v) {
  if (v) odb_detail::putDoubleAttr(at, obj, name, *v);
}
static void putOptional(const Where& at, hid_t obj, const char* name, const std::optional<std::vector<double>>& v) {
  if (v) odb_detail::putDoubleArrayAttr(at, obj, name, *v);
}

// Creates group `name` under the group at parentPath, which must exist or is created.
static H5Group makeChild(Writer::Impl& w, const std::string& parentPath, const std::string& name) {
  const H5Group parent = w.group(parentPath);
  return odb_detail::createGroup(w.at(parentPath), parent.get(), name, w.options.trackOrder);
}

void Writer::addStep(const std::string& step, const StepInfo& info) {
  const odb_detail::H5Guard guard;
  const H5Group g = makeChild(*impl_, "/steps", step);
  const Where at = impl_->at(stepPath(step));
  putOptional(at, g.get(), "description", info.description);
  putOptional(at, g.get(), "mass", info.mass);
  putOptional(at, g.get(), "massCenter", info.massCenter);
  putOptional(at, g.get(), "inertiaAboutCenter", info.inertiaAboutCenter);
  putOptional(at, g.get(), "inertiaAboutOrigin", info.inertiaAboutOrigin);
  odb_detail::createGroup(at, g.get(), "frames", impl_->options.trackOrder);
  odb_detail::createGroup(at, g.get(), "historyRegions", impl_->options.trackOrder);
  impl_->steps[step];
}

int Writer::addFrame(const std::string& step, const FrameInfo& info) {
  const odb_detail::H5Guard guard;
  Impl::Step& s = impl_->step(step);
  const int index = static_cast<int>(s.frames.size());
  const H5Group g = makeChild(*impl_, stepPath(step) + "/frames", std::to_string(index));
  const Where at = impl_->at(framePath(step, index));
  putOptional(at, g.get(), "incrementNumber", info.incrementNumber);
  putOptional(at, g.get(), "description", info.description);
  putOptional(at, g.get(), "frameValue", info.frameValue);
  odb_detail::createGroup(at, g.get(), "fieldOutputs", impl_->options.trackOrder);
  s.frames.emplace_back();
  return index;
}

void Writer::addFieldOutput(const std::string& step, int frame, const std::string& field, const FieldInfo& info) {
  const odb_detail::H5Guard guard;
  Impl::Frame& f = impl_->frame(step, frame);
  const H5Group g = makeChild(*impl_, framePath(step, frame) + "/fieldOutputs", field);
  const Where at = impl_->at(fieldPath(step, frame, field));
  putOptional(at, g.get(), "description", info.description);
  odb_detail::putIntAttr(at, g.get(), "type", info.type, H5T_STD_I32LE);
  if (!info.componentLabels.empty())
    odb_detail::putStringArrayAttr(at, g.get(), "componentLabels", info.componentLabels);
  if (!info.validInvariants.empty())
    odb_detail::putIntArrayAttr(at, g.get(), "validInvariants",
                                std::vector<int>(info.validInvariants.begin(), info.validInvariants.end()));
  putOptional(at, g.get(), "isComplex", info.isComplex);
  odb_detail::createGroup(at, g.get(), "blocks", impl_->options.trackOrder);
  f.blocks[field] = 0;
}

// Number of rows of data with `width` values a row; throws when they do not divide.
static std::size_t rowCount(const Where& at, const char* what, std::size_t values, int width, bool widthZeroOk) {
  if (width < 0 || (width == 0 && !widthZeroOk))
    odb_detail::odbFail(at, "width " + std::to_string(width) + ", expected at least " + (widthZeroOk ? "0" : "1"));
  if (width == 0) {
    if (values != 0)
      odb_detail::odbFail(at, std::string(what) + " has " + std::to_string(values) + " values, width is 0");
    return 0;
  }
  if (values % static_cast<std::size_t>(width) != 0)
    odb_detail::odbFail(at, std::string(what) + " has " + std::to_string(values) +
                                  " values, not a multiple of width " + std::to_string(width));
  return values / static_cast<std::size_t>(width);
}

static void checkLabels(const Where& at, const char* name, const std::vector<int>& labels, std::size_t rows) {
  if (labels.empty() || labels.size() == rows) return;
  odb_detail::odbFail(at, std::string(name) + " has " + std::to_string(labels.size()) + " entries, data has " +
                                std::to_string(rows) + " rows");
}

template <class T>
static int writeBlock(Writer::Impl& w, const std::string& step, int frame, const std::string& field,
                      const BlockInfo& info, std::span<const T> data, int width, hid_t memType, hid_t fileType) {
  Writer::Impl::Frame& f = w.frame(step, frame);
  const auto it = f.blocks.find(field);
  if (it == f.blocks.end()) odb_detail::odbFail(w.at(fieldPath(step, frame, field)), "no such field output");
  const std::string blocksPath = fieldPath(step, frame, field) + "/blocks";
  const std::string name = std::to_string(it->second);
  const Where at = w.at(blocksPath + "/" + name);
  if (!odb_vocab::isValidPosition(info.position))
    odb_detail::odbFail(at, "position " + std::to_string(static_cast<int>(info.position)) + " is not a result position");
  const std::size_t rows = rowCount(at, "data", data.size(), width, false);
  if (info.oneDimensional && width != 1)
    odb_detail::odbFail(at, "one-dimensional data needs width 1, got " + std::to_string(width));
  checkLabels(at, "nodeLabels", info.nodeLabels, rows);
  checkLabels(at, "elementLabels", info.elementLabels, rows);
  checkLabels(at, "integrationPoints", info.integrationPoints, rows);

  const H5Group g = makeChild(w, blocksPath, name);
  odb_detail::putStringAttr(at, g.get(), "position", std::string(odb_vocab::positionName(info.position)));
  putOptional(at, g.get(), "instance", info.instance);
  putOptional(at, g.get(), "sectionPoint", info.sectionPoint);
  std::vector<hsize_t> dims{rows};
  if (!info.oneDimensional) dims.push_back(static_cast<hsize_t>(width));
  odb_detail::putDataset(at, g.get(), "data", memType, fileType, data.data(), dims, w.layout);
  const std::pair<const char*, const std::vector<int>*> labels[] = {{"nodeLabels", &info.nodeLabels},
                                                                    {"elementLabels", &info.elementLabels},
                                                                    {"integrationPoints", &info.integrationPoints}};
  for (const auto& [labelName, values] : labels)
    if (!values->empty())
      odb_detail::putDataset(at, g.get(), labelName, H5T_NATIVE_INT, H5T_STD_I32LE, values->data(), {rows}, w.layout);
  return it->second++;
}

int Writer::addBlock(const std::string& step, int frame, const std::string& field, const BlockInfo& info,
                     std::span<const float> data, int width) {
  const odb_detail::H5Guard guard;
  return writeBlock(*impl_, step, frame, field, info, data, width, H5T_NATIVE_FLOAT, H5T_IEEE_F32LE);
}

int Writer::addBlock(const std::string& step, int frame, const std::string& field, const BlockInfo& info,
                     std::span<const double> data, int width) {
  const odb_detail::H5Guard guard;
  return writeBlock(*impl_, step, frame, field, info, data, width, H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE);
}

void Writer::addHistoryRegion(const std::string& step, const std::string& region, const HistoryRegionInfo& info) {
  const odb_detail::H5Guard guard;
  Impl::Step& s = impl_->step(step);
  const H5Group g = makeChild(*impl_, stepPath(step) + "/historyRegions", region);
  const Where at = impl_->at(regionPath(step, region));
  putOptional(at, g.get(), "description", info.description);
  putOptional(at, g.get(), "node", info.node);
  putOptional(at, g.get(), "element", info.element);
  putOptional(at, g.get(), "ipNumber", info.ipNumber);
  putOptional(at, g.get(), "sectionPoint", info.sectionPoint);
  putOptional(at, g.get(), "region", info.region);
  putOptional(at, g.get(), "instance", info.instance);
  odb_detail::createGroup(at, g.get(), "historyOutputs", impl_->options.trackOrder);
  s.regions[region];
}

// Format 1 kept the two columns apart, as `time` and `value`.
template <class T>
static void writeTimeValue(Writer::Impl& w, const Where& at, hid_t group, std::span<const T> data, std::size_t rows,
                           hid_t memType, hid_t fileType) {
  std::vector<T> time(rows), value(rows);
  for (std::size_t i = 0; i < rows; ++i) {
    time[i] = data[2 * i];
    value[i] = data[2 * i + 1];
  }
  odb_detail::putDataset(at, group, "time", memType, fileType, time.data(), {rows}, w.layout);
  odb_detail::putDataset(at, group, "value", memType, fileType, value.data(), {rows}, w.layout);
}

template <class T>
static void writeHistory(Writer::Impl& w, const std::string& step, const std::string& region, const std::string& output,
                         const HistoryOutputInfo& info, std::span<const T> data, int width, hid_t memType,
                         hid_t fileType) {
  Writer::Impl::Step& s = w.step(step);
  const auto it = s.regions.find(region);
  if (it == s.regions.end()) odb_detail::odbFail(w.at(regionPath(step, region)), "no such history region");
  const std::string outputsPath = regionPath(step, region) + "/historyOutputs";
  odb_detail::checkName(w.at(outputsPath), output);
  const Where at = w.at(outputsPath + "/" + output);
  const std::size_t rows = rowCount(at, "data", data.size(), width, true);
  const bool v1 = w.options.formatVersion == 1;
  if (v1 && width != 2)
    odb_detail::odbFail(at,
                          "format 1 stores history as time and value, width must be 2, got " + std::to_string(width));
  const H5Group g = makeChild(w, outputsPath, output);
  putOptional(at, g.get(), "description", info.description);
  putOptional(at, g.get(), "type", info.type);
  if (v1)
    writeTimeValue(w, at, g.get(), data, rows, memType, fileType);
  else
    odb_detail::putDataset(at, g.get(), "data", memType, fileType, data.data(), {rows, static_cast<hsize_t>(width)},
                           w.layout);
  it->second.insert(output);
}

void Writer::addHistoryOutput(const std::string& step, const std::string& region, const std::string& output,
                              const HistoryOutputInfo& info, std::span<const float> data, int width) {
  const odb_detail::H5Guard guard;
  writeHistory(*impl_, step, region, output, info, data, width, H5T_NATIVE_FLOAT, H5T_IEEE_F32LE);
}

void Writer::addHistoryOutput(const std::string& step, const std::string& region, const std::string& output,
                              const HistoryOutputInfo& info, std::span<const double> data, int width) {
  const odb_detail::H5Guard guard;
  writeHistory(*impl_, step, region, output, info, data, width, H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE);
}

}  // namespace odbw
