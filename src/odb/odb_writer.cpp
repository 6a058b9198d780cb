// The database writer: file creation, root attributes and the model (parts,
// instances, mesh, sets). Steps and history are in writer_results.cpp. No
// globals.
#include "odb/odb_writer.h"

#include "odb/h5_write.h"

namespace odbw {

using odb_detail::H5Group;
using odb_detail::Where;

hid_t Writer::Impl::fileId() const {
  if (!file.valid()) odb_detail::odbFail(at("/"), "the file is closed");
  return file.get();
}

odb_detail::H5Group Writer::Impl::group(const std::string& objectPath) const {
  return odb_detail::ensureGroup(at(objectPath), fileId(), options.trackOrder);
}

static const char* setFolder(SetKind kind) { return kind == SetKind::Node ? "nodeSets" : "elementSets"; }

static std::string instancePath(const std::string& instance) { return "/assembly/instances/" + instance; }

Writer::Writer(const std::string& path, const Options& options) : impl_(std::make_unique<Impl>()) {
  odb_detail::takeHdf5Exit();  // before anything starts HDF5, the guard included
  const odb_detail::H5Guard guard;
  impl_->path = path;
  impl_->options = options;
  impl_->layout = {options.trackOrder, options.chunked, options.checksum, options.chunkBytes};
  if (options.formatVersion != 1 && options.formatVersion != 2)
    odb_detail::odbFail(impl_->at("/"), "cannot write format_version " + std::to_string(options.formatVersion));
  impl_->file = odb_detail::createFile(path, options.trackOrder);
  const H5Group root = impl_->group("/");
  odb_detail::putStringAttr(impl_->at("/"), root.get(), "format", "odb");
  odb_detail::putIntAttr(impl_->at("/"), root.get(), "format_version", options.formatVersion, H5T_STD_I32LE);
}

Writer::~Writer() { odb_detail::closeWrittenFileQuietly(impl_->file, impl_->at("/")); }  // close() reports

void Writer::close() {
  const odb_detail::H5Guard guard;
  impl_->fileId();
  odb_detail::closeWrittenFile(impl_->file, impl_->at("/"));
}

const std::string& Writer::path() const { return impl_->path; }

void Writer::setDescription(const std::string& text) {
  const odb_detail::H5Guard guard;
  const H5Group root = impl_->group("/");
  odb_detail::putStringAttr(impl_->at("/"), root.get(), "description", text);
}

void Writer::setAssemblyName(const std::string& name) {
  const odb_detail::H5Guard guard;
  const H5Group g = impl_->group("/assembly");
  odb_detail::putStringAttr(impl_->at("/assembly"), g.get(), "name", name);
}

void Writer::addPart(const std::string& part) {
  const odb_detail::H5Guard guard;
  const H5Group parts = impl_->group("/parts");
  odb_detail::createGroup(impl_->at("/parts"), parts.get(), part, impl_->options.trackOrder);
  impl_->parts.insert(part);
}

// Writes one set dataset of labels under the group at folderPath.
static void writeSet(Writer::Impl& w, const std::string& folderPath, const std::string& name,
                     std::span<const int> labels, bool internal) {
  const H5Group folder = w.group(folderPath);
  odb_detail::putDataset(w.at(folderPath), folder.get(), name, H5T_NATIVE_INT, H5T_STD_I32LE, labels.data(),
                         {labels.size()}, w.layout);
  if (!internal) return;
  const Where at = w.at(folderPath).at(name);
  const odb_detail::H5Object set = odb_detail::openObject(at, w.fileId());
  odb_detail::putIntAttr(at, set.get(), "internal", 1, H5T_STD_I32LE);
}

void Writer::addPartSet(const std::string& part, SetKind kind, const std::string& name, std::span<const int> labels,
                        bool internal) {
  const odb_detail::H5Guard guard;
  if (!impl_->parts.count(part)) odb_detail::odbFail(impl_->at("/parts/" + part), "no such part");
  writeSet(*impl_, "/parts/" + part + "/" + setFolder(kind), name, labels, internal);
}

void Writer::addInstance(const std::string& name, const std::string& part) {
  const odb_detail::H5Guard guard;
  const H5Group instances = impl_->group("/assembly/instances");
  const H5Group g =
      odb_detail::createGroup(impl_->at("/assembly/instances"), instances.get(), name, impl_->options.trackOrder);
  if (!part.empty()) odb_detail::putStringAttr(impl_->at(instancePath(name)), g.get(), "part", part);
  impl_->instances.insert(name);
}

static void requireInstance(const Writer::Impl& w, const std::string& instance) {
  if (!w.instances.count(instance)) odb_detail::odbFail(w.at(instancePath(instance)), "no such instance");
}

void Writer::setInstanceNodes(const std::string& instance, std::span<const int> labels,
                              std::span<const double> coordinates) {
  const odb_detail::H5Guard guard;
  requireInstance(*impl_, instance);
  const std::string path = instancePath(instance) + "/nodes";
  if (!coordinates.empty() && coordinates.size() != 3 * labels.size())
    odb_detail::odbFail(impl_->at(path + "/coordinates"), "coordinates has " + std::to_string(coordinates.size()) +
                                                                " values, expected " +
                                                                std::to_string(3 * labels.size()) + " (3 for each of " +
                                                                std::to_string(labels.size()) + " nodes)");
  const H5Group g = impl_->group(path);
  odb_detail::putDataset(impl_->at(path), g.get(), "labels", H5T_NATIVE_INT, H5T_STD_I32LE, labels.data(),
                         {labels.size()}, impl_->layout);
  if (coordinates.empty()) return;
  odb_detail::putDataset(impl_->at(path), g.get(), "coordinates", H5T_NATIVE_DOUBLE, H5T_IEEE_F64LE, coordinates.data(),
                         {labels.size(), 3}, impl_->layout);
}

void Writer::setInstanceElements(const std::string& instance, std::span<const int> labels,
                                 std::span<const std::int64_t> offsets, std::span<const int> connectivity) {
  const odb_detail::H5Guard guard;
  requireInstance(*impl_, instance);
  const std::string path = instancePath(instance) + "/elements";
  if (offsets.size() != labels.size() + 1)
    odb_detail::odbFail(impl_->at(path + "/offsets"), "offsets has " + std::to_string(offsets.size()) +
                                                            " entries, expected " + std::to_string(labels.size() + 1));
  const H5Group g = impl_->group(path);
  const odb_detail::Layout& layout = impl_->layout;
  odb_detail::putDataset(impl_->at(path), g.get(), "labels", H5T_NATIVE_INT, H5T_STD_I32LE, labels.data(),
                         {labels.size()}, layout);
  odb_detail::putDataset(impl_->at(path), g.get(), "offsets", H5T_NATIVE_INT64, H5T_STD_I64LE, offsets.data(),
                         {offsets.size()}, layout);
  odb_detail::putDataset(impl_->at(path), g.get(), "connectivity", H5T_NATIVE_INT, H5T_STD_I32LE, connectivity.data(),
                         {connectivity.size()}, layout);
}

void Writer::addInstanceSet(const std::string& instance, SetKind kind, const std::string& name,
                            std::span<const int> labels, bool internal) {
  const odb_detail::H5Guard guard;
  requireInstance(*impl_, instance);
  writeSet(*impl_, instancePath(instance) + "/" + setFolder(kind), name, labels, internal);
}

void Writer::addAssemblySet(SetKind kind, const std::string& name,
                            const std::vector<std::pair<std::string, std::vector<int>>>& perInstance, bool internal) {
  const odb_detail::H5Guard guard;
  const std::string folderPath = std::string("/assembly/") + setFolder(kind);
  const H5Group folder = impl_->group(folderPath);
  const H5Group set = odb_detail::createGroup(impl_->at(folderPath), folder.get(), name, impl_->options.trackOrder);
  const Where at = impl_->at(folderPath).at(name);
  if (internal) odb_detail::putIntAttr(at, set.get(), "internal", 1, H5T_STD_I32LE);
  for (const auto& [instance, labels] : perInstance)
    odb_detail::putDataset(at, set.get(), instance, H5T_NATIVE_INT, H5T_STD_I32LE, labels.data(), {labels.size()},
                           impl_->layout);
}

}  // namespace odbw
