// The model: parts, the assembly, instances and their meshes, and sets
// (docs/format.md §5). No globals.
#include "odb/impl.h"

namespace odb_detail {

// A set's member list, the dataset d named `name` in the group w names:
// checked now as a whole read checks it, read when first asked for.
static void addSource(const FileCtx& ctx, SetImpl& set, const Dataset& d, const Where& w, const std::string& name,
                      const std::string& instance) {
  requireRank(d, 1, w);
  requireIntegerData(d, w);
  checkedCount(d, w, ctx.bytes);
  set.sources.push_back({instance, w.path, name});
}

static std::shared_ptr<SetImpl> makeSet(const Ctx& ctx, const std::string& name, odb_Enum::odb_SetTypeEnum type,
                                        bool internal, bool partSet) {
  auto s = std::make_shared<SetImpl>();
  s->name = name;
  s->type = type;
  s->internal = internal;
  s->partSet = partSet;
  s->ctx = ctx;
  s->fileName = ctx->name;
  return s;
}

static bool isInternal(hid_t obj, const Where& w) {
  const auto v = readIntAttribute(obj, "internal", w);
  return v && *v != 0;
}

// The sets of a part or instance, one list each; member is "" for a part.
static void loadFlatSets(const Ctx& ctx, hid_t owner, const std::string& ownerPath, const std::string& member,
                         bool readInternal, odb_DiscreteEntity& entity) {
  static const std::pair<const char*, odb_Enum::odb_SetTypeEnum> kinds[] = {
      {"elementSets", odb_Enum::ELEMENT_SET}, {"nodeSets", odb_Enum::NODE_SET}};
  for (const auto& [group, type] : kinds) {
    const Where gw = ctx->at(ownerPath + "/" + group);
    H5Group g = openOptionalGroup(owner, group, gw);
    if (!g.valid()) continue;
    for (const std::string& name : childNames(g.get(), gw)) {
      Dataset d = openDataset(g.get(), name, gw);
      const Where sw = gw.at(name);
      const bool internal = isInternal(d.id.get(), sw);
      if (internal && !readInternal) continue;  // docs/format.md §2: not loaded at all
      auto s = makeSet(ctx, name, type, internal, member.empty());
      addSource(*ctx, *s, d, gw, name, member);
      entity.addSet(odb_Set(s));
    }
  }
}

static void loadAssemblySets(const Ctx& ctx, hid_t assembly, bool readInternal, odb_Assembly& entity) {
  static const std::pair<const char*, odb_Enum::odb_SetTypeEnum> kinds[] = {
      {"elementSets", odb_Enum::ELEMENT_SET}, {"nodeSets", odb_Enum::NODE_SET}};
  for (const auto& [group, type] : kinds) {
    const Where gw = ctx->at(std::string("/assembly/") + group);
    H5Group g = openOptionalGroup(assembly, group, gw);
    if (!g.valid()) continue;
    for (const std::string& name : childNames(g.get(), gw)) {
      const Where sw = gw.at(name);
      H5Group sg = openGroup(g.get(), name, sw);
      const bool internal = isInternal(sg.get(), sw);
      if (internal && !readInternal) continue;
      auto s = makeSet(ctx, name, type, internal, false);
      for (const std::string& instance : childNames(sg.get(), sw))
        addSource(*ctx, *s, openDataset(sg.get(), instance, sw), sw, instance, instance);
      entity.addSet(odb_Set(s));
    }
  }
}

// nodes/coordinates holds three values for each node of nodes/labels.
static void requireCoordinateShape(bool ok, std::uint64_t nodes, const Where& w) {
  if (!ok) odbFail(w, "nodes/coordinates does not have the shape [" + std::to_string(nodes) + ", 3] of nodes/labels");
}

// elements/offsets has one entry more than elements/labels.
void requireOffsetCount(std::uint64_t offsets, std::uint64_t labels, const Where& w) {
  if (offsets != labels + 1)
    odbFail(w, "elements/offsets has " + std::to_string(offsets) + " entries, expected " + std::to_string(labels + 1) +
                   " (one more than elements/labels)");
}

// Checks the mesh's shapes; the CSR content is checked when it is read.
static void checkMeshShapes(hid_t inst, const Where& w, InstanceImpl& impl) {
  if (auto labels = openOptionalDataset(inst, "nodes/labels", w)) {
    requireRank(*labels, 1, w);
    impl.nodeCount = elementCount(*labels, w);
    if (auto xyz = openOptionalDataset(inst, "nodes/coordinates", w)) {
      requireCoordinateShape(xyz->dims.size() == 2 && xyz->dims[0] == labels->dims[0] && xyz->dims[1] == 3,
                             labels->dims[0], w);
      floatPrecision(*xyz, w);
    }
  }
  auto labels = openOptionalDataset(inst, "elements/labels", w);
  auto offsets = openOptionalDataset(inst, "elements/offsets", w);
  auto conn = openOptionalDataset(inst, "elements/connectivity", w);
  if (offsets.has_value() != conn.has_value())
    odbFail(w, offsets ? "elements/offsets is present without elements/connectivity"
                       : "elements/connectivity is present without elements/offsets");
  if (!labels) {
    if (offsets) odbFail(w, "elements/offsets is present without elements/labels");
    return;
  }
  requireRank(*labels, 1, w);
  impl.elementCount = elementCount(*labels, w);
  if (!offsets) return;
  requireRank(*offsets, 1, w);
  requireRank(*conn, 1, w);
  requireOffsetCount(offsets->dims[0], labels->dims[0], w);
}

static void loadInstances(OdbImpl& odb, hid_t assembly, bool readInternal) {
  const FileCtx& ctx = *odb.ctx;
  const Where iw = ctx.at("/assembly/instances");
  H5Group g = openOptionalGroup(assembly, "instances", iw);
  if (!g.valid()) return;
  for (const std::string& name : childNames(g.get(), iw)) {
    auto impl = std::make_shared<InstanceImpl>();
    impl->ctx = odb.ctx;
    impl->path = iw.path + "/" + name;
    const Where w = ctx.at(impl->path);
    H5Group ig = openGroup(g.get(), name, w);
    impl->partName = readStringAttribute(ig.get(), "part", w).value_or("");
    checkMeshShapes(ig.get(), w, *impl);
    odb_Instance instance(impl);
    instance.setName(name);
    loadFlatSets(odb.ctx, ig.get(), impl->path, name, readInternal, instance);
    odb.assembly.addInstance(name, instance);
  }
}

void loadModel(OdbImpl& odb, bool readInternalSets) {
  const FileCtx& ctx = *odb.ctx;
  const hid_t file = ctx.file.get();
  const Where pw = ctx.at("/parts");
  if (H5Group parts = openOptionalGroup(file, "/parts", pw); parts.valid()) {
    for (const std::string& name : childNames(parts.get(), pw)) {
      const std::string path = "/parts/" + name;
      H5Group pg = openGroup(parts.get(), name, ctx.at(path));
      odb_Part part;
      part.setName(name);
      loadFlatSets(odb.ctx, pg.get(), path, "", readInternalSets, part);
      odb.parts.insert(name, part);
    }
  }
  const Where aw = ctx.at("/assembly");
  H5Group assembly = openOptionalGroup(file, "/assembly", aw);
  odb.assembly.setName("ASSEMBLY");
  if (!assembly.valid()) return;
  odb.assembly.setName(readStringAttribute(assembly.get(), "name", aw).value_or("ASSEMBLY"));
  loadInstances(odb, assembly.get(), readInternalSets);
  loadAssemblySets(odb.ctx, assembly.get(), readInternalSets, odb.assembly);
}

std::vector<int> SetImpl::read(const Source& s) const {
  const std::shared_ptr<const FileCtx> file = ctx.lock();
  if (!file) odbFail(Where{fileName, s.group}, "database is closed");
  const Where w = file->at(s.group);
  H5Group g = openGroup(file->fileId(s.group), s.group, w);
  Dataset d = openDataset(g.get(), s.name, w);
  return readInts(d, w, file->bytes);
}

const SetImpl::Members& SetImpl::members() const {
  std::call_once(loaded_, [this] {
    Members lists;
    for (const Source& s : sources) lists.emplace_back(s.instance, read(s));
    members_ = std::move(lists);
    kept_ = true;
  });
  return members_;
}

std::vector<int> SetImpl::membersOf(const std::string& instance) const {
  if (kept_) {
    for (const auto& m : members_)
      if (m.first == instance) return m.second;
    return {};
  }
  for (const Source& s : sources)
    if (s.instance == instance) return read(s);
  return {};
}

bool SetImpl::hasInstance(const std::string& instance) const {
  for (const Source& s : sources)
    if (s.instance == instance) return true;
  return false;
}

Mesh readElements(const FileCtx& ctx, const std::string& instancePath) {
  std::optional<Dataset> conn;
  Mesh m = readElementsButConnectivity(ctx, instancePath, conn);
  if (conn) m.connectivity = readIntBuffer(*conn, ctx.at(instancePath), ctx.bytes, ctx.pool);
  return m;
}

Mesh readElementsButConnectivity(const FileCtx& ctx, const std::string& instancePath,
                                 std::optional<Dataset>& connectivity) {
  const Where w = ctx.at(instancePath);
  H5Group g = openGroup(ctx.fileId(instancePath), instancePath, w);
  Mesh m;
  auto labels = openOptionalDataset(g.get(), "elements/labels", w);
  if (!labels) return m;
  m.labels = readInts(*labels, w, ctx.bytes);
  auto offsets = openOptionalDataset(g.get(), "elements/offsets", w);
  if (!offsets) return m;
  Dataset conn = openDataset(g.get(), "elements/connectivity", w);
  m.offsets = readInt64s(*offsets, w, ctx.bytes);
  requireOffsetCount(m.offsets.size(), m.labels.size(), w);
  // docs/format.md §8: offsets start at 0, never decrease and end at the connectivity's length.
  if (m.offsets.front() != 0)
    odbFail(w, "elements/offsets starts at " + std::to_string(m.offsets.front()) + ", expected 0");
  for (std::size_t i = 1; i < m.offsets.size(); ++i)
    if (m.offsets[i] < m.offsets[i - 1])
      odbFail(w, "elements/offsets decreases at entry " + std::to_string(i));
  const int connCount = elementCount(conn, w);
  if (m.offsets.back() != connCount)
    odbFail(w, "elements/offsets ends at " + std::to_string(m.offsets.back()) + ", elements/connectivity has " +
                   std::to_string(connCount) + " entries");
  connectivity = std::move(conn);
  return m;
}

}  // namespace odb_detail

using namespace odb_detail;

// ------------------------------------------------------------------- handles

static const odb_String emptyString;

const odb_String& odb_Set::name() const { return impl_ ? impl_->name : emptyString; }
odb_Enum::odb_SetTypeEnum odb_Set::type() const { return impl_ ? impl_->type : odb_Enum::ELEMENT_SET; }
bool odb_Set::isInternal() const { return impl_ && impl_->internal; }

odb_SequenceString odb_Set::instanceNames() const {
  odb_SequenceString out;
  if (!impl_ || impl_->partSet) return out;
  for (const auto& source : impl_->sources) out.append(source.instance);
  return out;
}

odb_SequenceInt odb_Set::labels(const odb_String& instanceName) const {
  if (!impl_) return {};
  for (const auto& m : impl_->members())
    if (m.first == instanceName.str())
      return odb_SequenceInt(m.second.data(), static_cast<int>(m.second.size()), impl_);
  return {};
}

void odb_DiscreteEntity::addSet(const odb_Set& set) {
  const bool element = set.type() == odb_Enum::ELEMENT_SET;
  (element ? elementSets_ : nodeSets_).insert(set.name(), set);
  if (!set.isInternal()) (element ? publicElementSets_ : publicNodeSets_).insert(set.name(), set);
}

const odb_String& odb_Instance::partName() const { return impl_ ? impl_->partName : emptyString; }
int odb_Instance::nodeCount() const { return impl_ ? impl_->nodeCount : 0; }
int odb_Instance::elementCount() const { return impl_ ? impl_->elementCount : 0; }

odb_NodeArrays odb_Instance::nodeArrays() const {
  odb_NodeArrays out;
  if (!impl_) return out;
  const FileCtx& ctx = *impl_->ctx;
  const Where w = ctx.at(impl_->path);
  H5Group g = openGroup(ctx.fileId(impl_->path), impl_->path, w);
  auto labels = openOptionalDataset(g.get(), "nodes/labels", w);
  if (!labels) return out;
  std::vector<int> l = readInts(*labels, w, ctx.bytes);
  std::vector<double> xyz;
  if (auto c = openOptionalDataset(g.get(), "nodes/coordinates", w)) xyz = readDoubles(*c, w, ctx.bytes);
  requireCoordinateShape(xyz.empty() || xyz.size() == 3 * l.size(), l.size(), w);
  out.labels = odb_SequenceInt(std::move(l));
  out.coordinates = odb_SequenceDouble(std::move(xyz));
  return out;
}

odb_ElementArrays odb_Instance::elementArrays() const {
  odb_ElementArrays out;
  if (!impl_) return out;
  Mesh m = readElements(*impl_->ctx, impl_->path);
  auto conn = std::make_shared<const Buffer<int>>(std::move(m.connectivity));
  out.labels = odb_SequenceInt(std::move(m.labels));
  out.offsets = odb_NumberSequence<std::int64_t>(std::move(m.offsets));
  out.connectivity = odb_SequenceInt(conn->data(), static_cast<int>(conn->size()), conn);
  return out;
}

odb_SequenceNode odb_Instance::nodes() const {
  odb_SequenceNode out;
  const odb_NodeArrays a = nodeArrays();
  const double* xyz = a.coordinates.data();
  for (int i = 0; i < a.labels.size(); ++i) {
    if (a.coordinates.size() == 0) out.append(odb_Node(a.labels[i]));
    else out.append(odb_Node(a.labels[i], xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]));
  }
  return out;
}

odb_SequenceElement odb_Instance::elements() const {
  odb_SequenceElement out;
  const odb_ElementArrays a = elementArrays();
  const std::int64_t* offsets = a.offsets.data();
  const auto keep = std::make_shared<const odb_SequenceInt>(a.connectivity);  // holds the array
  for (int i = 0; i < a.labels.size(); ++i) {
    if (a.offsets.size() == 0) {
      out.append(odb_Element(a.labels[i]));
      continue;
    }
    const int n = static_cast<int>(offsets[i + 1] - offsets[i]);
    out.append(odb_Element(a.labels[i], odb_SequenceInt(a.connectivity.data() + offsets[i], n, keep)));
  }
  return out;
}
