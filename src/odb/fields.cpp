// Field outputs (docs/format.md §6): the repository of a frame, built fresh
// on every call, and the lazy load of a field output's blocks. No globals.
#include <climits>

#include "odb/derived.h"
#include "odb/impl.h"

namespace odb_detail {

// docs/format.md §6: a block's labels lose a leading copy of the field name
// (S11 of S gives 11); a label that equals the name, or does not start with
// it, stays whole.
static odb_SequenceString stripFieldName(const std::vector<std::string>& labels, const std::string& field) {
  odb_SequenceString out;
  for (const std::string& l : labels) {
    const bool strip = l.size() > field.size() && l.compare(0, field.size(), field) == 0;
    out.append(strip ? l.substr(field.size()) : l);
  }
  return out;
}

static std::shared_ptr<FieldOutputImpl> readFieldOutput(const Ctx& ctx, hid_t outputs, const std::string& path,
                                                        const std::string& name) {
  const Where w = ctx->at(path);
  H5Group g = openGroup(outputs, name, w);
  auto f = std::make_shared<FieldOutputImpl>();
  f->ctx = ctx;
  f->path = path;
  f->name = name;
  f->description = readStringAttribute(g.get(), "description", w).value_or("");
  if (!hasAttribute(g.get(), "type", w)) odbFail(w, "type is missing");
  f->type = static_cast<odb_Enum::odb_DataTypeEnum>(readInt32Attribute(g.get(), "type", w, 0));
  const std::vector<std::string> labels = readStringArrayAttribute(g.get(), "componentLabels", w).value_or(
      std::vector<std::string>{});
  for (const std::string& l : labels) f->componentLabels.append(l);
  for (long long code : readIntArrayAttribute(g.get(), "validInvariants", w).value_or(std::vector<long long>{})) {
    if (code < INT_MIN || code > INT_MAX)
      odbFail(w, "validInvariants holds " + std::to_string(code) + ", expected a 32-bit integer");
    f->validInvariants.append(static_cast<odb_Enum::odb_InvariantEnum>(code));
  }
  f->isComplex = readInt32Attribute(g.get(), "isComplex", w, 0) != 0;
  auto shape = std::make_shared<FieldShape>();
  shape->blockLabels = stripFieldName(labels, name);
  tensorColumns(labels, f->type, labels.empty() ? 1 : static_cast<int>(labels.size()), shape->cols);
  f->shape = std::move(shape);
  return f;
}

void FieldOutputImpl::adopt(std::vector<std::shared_ptr<const BlockData>> blocks) {
  long long total = 0;
  for (const auto& b : blocks) {
    total += b->length;
    if (total > INT_MAX) odbFail(ctx->at(path), "field output has more than 2147483647 values");
    bulk.append(odb_FieldBulkData(b));
  }
  this->blocks = blocks;
  values = odb_SequenceFieldValue(std::move(blocks));
  loaded = true;
}

void FieldOutputImpl::load() {
  if (loaded) return;
  const Where w = ctx->at(path + "/blocks");
  H5Group g = openOptionalGroup(ctx->fileId(path), w.path, w);
  std::vector<std::shared_ptr<const BlockData>> blocks;
  if (g.valid()) {
    const int n = countIndexedChildren(g.get(), w, "block");
    for (int i = 0; i < n; ++i)
      if (auto b = readBlock(*this, g.get(), i)) blocks.push_back(std::move(b));  // empty blocks are left out
  }
  adopt(std::move(blocks));
}

}  // namespace odb_detail

using namespace odb_detail;

odb_FieldOutputRepository odb_Frame::fieldOutputs() const {
  odb_FieldOutputRepository repo;
  if (!impl_) return repo;
  const Ctx& ctx = impl_->ctx;
  const Where w = ctx->at(impl_->path + "/fieldOutputs");
  H5Group g = openOptionalGroup(ctx->fileId(impl_->path), w.path, w);
  if (!g.valid()) return repo;
  for (const std::string& name : childNames(g.get(), w))
    repo.insert(name, odb_FieldOutput(readFieldOutput(ctx, g.get(), w.path + "/" + name, name)));
  return repo;
}

static const odb_String noName;
static const odb_SequenceString noLabels;
static const odb_SequenceInvariant noInvariants;
static const odb_SequenceFieldValue noValues;
static const odb_SequenceFieldBulkData noBlocks;

const odb_String& odb_FieldOutput::name() const { return impl_ ? impl_->name : noName; }
const odb_String& odb_FieldOutput::description() const { return impl_ ? impl_->description : noName; }
odb_Enum::odb_DataTypeEnum odb_FieldOutput::type() const { return impl_ ? impl_->type : odb_Enum::SCALAR; }
bool odb_FieldOutput::isComplex() const { return impl_ && impl_->isComplex; }
const odb_SequenceString& odb_FieldOutput::componentLabels() const {
  return impl_ ? impl_->componentLabels : noLabels;
}
const odb_SequenceInvariant& odb_FieldOutput::validInvariants() const {
  return impl_ ? impl_->validInvariants : noInvariants;
}

const odb_SequenceFieldValue& odb_FieldOutput::values() const {
  if (!impl_) return noValues;
  impl_->load();
  return impl_->values;
}

const odb_SequenceFieldBulkData& odb_FieldOutput::bulkDataBlocks() const {
  if (!impl_) return noBlocks;
  impl_->load();
  return impl_->bulk;
}
