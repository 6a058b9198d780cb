// History regions and outputs (docs/format.md §6). The regions and their
// points are read with the database; output data on every data() call.
// No globals.
#include <climits>

#include "odb/impl.h"

namespace odb_detail {

// The region attribute names a set: the assembly's set of that name when
// there is one, otherwise a set that carries just the name.
static odb_Set regionSet(const OdbImpl& odb, const std::string& name) {
  if (name.empty()) return odb_Set();
  for (const odb_SetRepository* r : {&odb.assembly.elementSets(true), &odb.assembly.nodeSets(true)})
    if (r->isMember(name)) return (*r)[name];
  auto s = std::make_shared<SetImpl>();
  s->name = name;
  return odb_Set(s);
}

// Checks the shape of an output's data: [n, w] floats.
static Dataset openHistoryData(hid_t output, const Where& w) {
  Dataset d = openDataset(output, "data", w);
  requireRank(d, 2, w);
  floatPrecision(d, w);
  return d;
}

odb_HistoryRegion loadHistoryRegion(const OdbImpl& odb, hid_t group, const std::string& path,
                                    const std::string& name) {
  const FileCtx& ctx = *odb.ctx;
  const Where w = ctx.at(path);
  H5Group g = openGroup(group, name, w);
  auto r = std::make_shared<HistoryRegionImpl>();
  r->name = name;
  r->description = readStringAttribute(g.get(), "description", w).value_or("");
  const int node = readInt32Attribute(g.get(), "node", w, -1);
  const int element = readInt32Attribute(g.get(), "element", w, -1);
  const int ip = readInt32Attribute(g.get(), "ipNumber", w, 0);
  const int sp = readInt32Attribute(g.get(), "sectionPoint", w, 0);
  const std::string region = readStringAttribute(g.get(), "region", w).value_or("");
  const std::string instance = readStringAttribute(g.get(), "instance", w).value_or("");
  r->point = odb_HistoryPoint(odb_Node(node), odb_Element(element), ip, odb_SectionPoint(sp),
                              regionSet(odb, region), instance);
  const Where ow = w.at("historyOutputs");
  H5Group outputs = openOptionalGroup(g.get(), "historyOutputs", ow);
  if (!outputs.valid()) return odb_HistoryRegion(r);
  for (const std::string& out : childNames(outputs.get(), ow)) {
    auto o = std::make_shared<HistoryOutputImpl>();
    o->ctx = odb.ctx;
    o->path = ow.path + "/" + out;
    const Where hw = ctx.at(o->path);
    H5Group og = openGroup(outputs.get(), out, hw);
    o->name = out;
    o->description = readStringAttribute(og.get(), "description", hw).value_or("");
    o->type = readInt32Attribute(og.get(), "type", hw, 2);
    openHistoryData(og.get(), hw);
    r->outputs.insert(out, odb_HistoryOutput(o));
  }
  return odb_HistoryRegion(r);
}

}  // namespace odb_detail

using namespace odb_detail;

static const odb_String noText;
static const odb_HistoryOutputRepository noOutputs;

const odb_String& odb_HistoryRegion::name() const { return impl_ ? impl_->name : noText; }
const odb_String& odb_HistoryRegion::description() const { return impl_ ? impl_->description : noText; }
odb_HistoryPoint odb_HistoryRegion::historyPoint() const { return impl_ ? impl_->point : odb_HistoryPoint(); }
const odb_HistoryOutputRepository& odb_HistoryRegion::historyOutputs() const {
  return impl_ ? impl_->outputs : noOutputs;
}

const odb_String& odb_HistoryOutput::name() const { return impl_ ? impl_->name : noText; }
const odb_String& odb_HistoryOutput::description() const { return impl_ ? impl_->description : noText; }
int odb_HistoryOutput::type() const { return impl_ ? impl_->type : 2; }

odb_SequenceSequenceFloat odb_HistoryOutput::data() const {
  odb_SequenceSequenceFloat rows;
  if (!impl_) return rows;
  const FileCtx& ctx = *impl_->ctx;
  const Where w = ctx.at(impl_->path);
  H5Group g = openGroup(ctx.fileId(impl_->path), impl_->path, w);
  const Dataset d = openHistoryData(g.get(), w);
  const std::uint64_t n = d.dims[0], width = d.dims[1];
  // Rows of width 0 take no room in the file but a sequence each here.
  if (width == 0 && n > ctx.bytes)
    odbFail(w, "data has " + std::to_string(n) + " rows of width 0, more than the file's size allows");
  if (n > static_cast<std::uint64_t>(INT_MAX)) odbFail(w, "data has more than 2147483647 rows");
  auto values = std::make_shared<const std::vector<float>>(readFloats(d, w, ctx.bytes));
  for (std::uint64_t i = 0; i < n; ++i)
    rows.append(odb_SequenceFloat(values->data() + i * width, static_cast<int>(width), values));
  return rows;
}
