// Opening a database: the root checks of docs/format.md §2 and the odb_Odb
// handle. No globals.
#include "odb/impl.h"

namespace odb_detail {

hid_t FileCtx::fileId(const std::string& path) const {
  if (!file.valid()) odbFail(at(path), "database is closed");
  return file.get();
}

std::unique_ptr<OdbImpl> loadOdb(const std::string& path, const odb_OpenOptions& options) {
  auto odb = std::make_unique<OdbImpl>();
  odb->ctx = std::make_shared<FileCtx>();
  FileCtx& ctx = *odb->ctx;
  ctx.name = path;
  if (options.pooledArrays) ctx.pool = std::make_shared<ArrayPool>();
  odb->name = path;
  const Where root = ctx.at("/");
  ctx.file = openFile(root);
  ctx.bytes = fileBytes(ctx.file.get(), root);
  const H5Group g = openRoot(ctx.file.get(), root);
  checkVersion(formatVersion(g.get(), root), root, false);
  odb->description = readStringAttribute(g.get(), "description", root).value_or("");
  loadModel(*odb, options.readInternalSets);
  loadSteps(*odb);
  return odb;
}

}  // namespace odb_detail

odb_Odb::odb_Odb(std::unique_ptr<odb_detail::OdbImpl> impl) : impl_(std::move(impl)) {}

odb_Odb::~odb_Odb() { close(); }

const odb_String& odb_Odb::name() const { return impl_->name; }

static void requireOpen(const odb_detail::OdbImpl& impl) {
  if (!impl.ctx || !impl.ctx->file.valid()) odb_detail::odbFail(odb_detail::Where{impl.name.str(), "/"}, "database is closed");
}

const odb_String& odb_Odb::description() const {
  requireOpen(*impl_);
  return impl_->description;
}

odb_Assembly& odb_Odb::rootAssembly() {
  requireOpen(*impl_);
  return impl_->assembly;
}

const odb_Assembly& odb_Odb::rootAssembly() const {
  requireOpen(*impl_);
  return impl_->assembly;
}

const odb_PartRepository& odb_Odb::parts() const {
  requireOpen(*impl_);
  return impl_->parts;
}

const odb_StepRepository& odb_Odb::steps() const {
  requireOpen(*impl_);
  return impl_->steps;
}

void odb_Odb::close() {
  if (!impl_ || !impl_->ctx) return;
  // Handles the caller still holds share the context; they fail from now on.
  impl_->ctx->file.reset();
  impl_->ctx->members.clear();
  impl_->ctx.reset();
  impl_->description = odb_String();
  impl_->assembly = odb_Assembly();
  impl_->parts = odb_PartRepository();
  impl_->steps = odb_StepRepository();
}

bool odb_Odb::isOpen() const { return impl_ && impl_->ctx && impl_->ctx->file.valid(); }
