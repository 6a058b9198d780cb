// Upgrading older databases: the version test and the format-2 copy with the
// history converted from time/value to data, written straight to the target
// file (a failed write leaves no partial copy: PartialFile). No globals.
#include <cstdio>
#include <filesystem>

#include "odb/h5_io.h"
#include "odb/h5_write.h"
#include "odb/odb.h"

namespace odb_detail {

static long long versionOf(const std::string& path) {
  const Where w{path, "/"};
  const H5File f = openFile(w);
  const H5Group root = openRoot(f.get(), w);
  return formatVersion(root.get(), w);
}

// Copies one attribute whatever its type; variable-length data are reclaimed after.
static void copyAttribute(hid_t src, hid_t dst, hsize_t index, H5_index_t order, const Where& at) {
  const H5Guard guard;
  const H5Attribute a(H5Aopen_by_idx(src, ".", order, H5_ITER_INC, index, H5P_DEFAULT, H5P_DEFAULT));
  if (!a.valid()) writeFail(at, "cannot open a root attribute");
  const H5Datatype type(H5Aget_type(a.get()));
  const H5Dataspace space(H5Aget_space(a.get()));
  char name[256] = {};
  if (H5Aget_name(a.get(), sizeof name, name) < 0 || !type.valid() || !space.valid())
    writeFail(at, "cannot read a root attribute");
  const hssize_t points = H5Sget_simple_extent_npoints(space.get());
  std::vector<unsigned char> buffer(static_cast<std::size_t>(points < 1 ? 1 : points) * H5Tget_size(type.get()));
  if (H5Aread(a.get(), type.get(), buffer.data()) < 0) writeFail(at, std::string("cannot read attribute ") + name);
  const H5Attribute b(H5Acreate2(dst, name, type.get(), space.get(), H5P_DEFAULT, H5P_DEFAULT));
  const bool ok = b.valid() && H5Awrite(b.get(), type.get(), buffer.data()) >= 0;
  H5Dvlen_reclaim(type.get(), space.get(), H5P_DEFAULT, buffer.data());
  if (!ok) writeFail(at, std::string("cannot copy attribute ") + name);
}

static void copyRootAttributes(hid_t src, hid_t dst, const Where& at) {
  const H5Guard guard;
  const H5PropList gcpl(H5Gget_create_plist(src));
  unsigned flags = 0;
  if (gcpl.valid()) H5Pget_attr_creation_order(gcpl.get(), &flags);
  const H5_index_t order = (flags & H5P_CRT_ORDER_TRACKED) ? H5_INDEX_CRT_ORDER : H5_INDEX_NAME;
  H5O_info_t info;
  if (H5Oget_info2(src, &info, H5O_INFO_NUM_ATTRS) < 0) writeFail(at, "cannot count the root attributes");
  for (hsize_t i = 0; i < info.num_attrs; ++i) copyAttribute(src, dst, i, order, at);
}

// docs/format.md §6: a format-1 history output kept `time` and `value`; format 2 keeps
// data = [[time_i, value_i]] in the wider of their two float types.
static void convertHistoryOutput(hid_t output, const Where& src, const Where& dst, std::uint64_t limit) {
  const H5Guard guard;
  const auto time = openOptionalDataset(output, "time", src);
  const auto value = openOptionalDataset(output, "value", src);
  if (!time && !value) return;
  if (!time || !value) odbFail(src, time ? "value is missing" : "time is missing");
  requireRank(*time, 1, src);
  requireRank(*value, 1, src);
  const std::vector<double> t = readDoubles(*time, src, limit);
  const std::vector<double> v = readDoubles(*value, src, limit);
  if (t.size() != v.size())
    odbFail(src, "time has " + std::to_string(t.size()) + " entries, value has " + std::to_string(v.size()));
  std::vector<double> rows(2 * t.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    rows[2 * i] = t[i];
    rows[2 * i + 1] = v[i];
  }
  const bool wide = floatPrecision(*time, src) == 1 || floatPrecision(*value, src) == 1;
  if (H5Ldelete(output, "time", H5P_DEFAULT) < 0 || H5Ldelete(output, "value", H5P_DEFAULT) < 0)
    writeFail(dst, "cannot remove time and value");
  putDataset(dst, output, "data", H5T_NATIVE_DOUBLE, wide ? H5T_IEEE_F64LE : H5T_IEEE_F32LE, rows.data(), {t.size(), 2},
             Layout{});
}

// Walks /steps/*/historyRegions/*/historyOutputs/* of the copy.
static void convertHistory(hid_t copy, const std::string& source, const std::string& target, std::uint64_t limit) {
  const Where root{source, "/"};
  const H5Group steps = openOptionalGroup(copy, "steps", root);
  if (!steps.valid()) return;
  const Where stepsAt = root.at("steps");
  for (const std::string& step : childNames(steps.get(), stepsAt)) {
    const Where regionsAt = stepsAt.at(step).at("historyRegions");
    const H5Group regions = openOptionalGroup(steps.get(), step + "/historyRegions", regionsAt);
    if (!regions.valid()) continue;
    for (const std::string& region : childNames(regions.get(), regionsAt)) {
      const Where outputsAt = regionsAt.at(region).at("historyOutputs");
      const H5Group outputs = openOptionalGroup(regions.get(), region + "/historyOutputs", outputsAt);
      if (!outputs.valid()) continue;
      for (const std::string& name : childNames(outputs.get(), outputsAt)) {
        const Where src = outputsAt.at(name);
        const H5Group output = openGroup(outputs.get(), name, src);
        convertHistoryOutput(output.get(), src, Where{target, src.path}, limit);
      }
    }
  }
}

// Writes the format-2 copy of source into the new file `target`.
static void writeUpgradedCopy(const std::string& source, const std::string& target, long long version) {
  const H5Guard guard;
  const Where w{source, "/"};
  const H5File src = openFile(w);
  const std::uint64_t limit = fileBytes(src.get(), w);
  const H5Group srcRoot = openRoot(src.get(), w);
  const Where at{target, "/"};
  H5File dst = createFile(target, true);
  try {
    const H5Group dstRoot = openRoot(dst.get(), at);
    for (const std::string& name : childNames(srcRoot.get(), w))
      if (H5Ocopy(srcRoot.get(), name.c_str(), dstRoot.get(), name.c_str(), H5P_DEFAULT, H5P_DEFAULT) < 0)
        writeFail(w.at(name), "cannot copy");
    copyRootAttributes(srcRoot.get(), dstRoot.get(), at);
    putIntAttr(at, dstRoot.get(), "format_version", 2, H5T_STD_I32LE);
    if (version == 1) convertHistory(dst.get(), source, target, limit);
  } catch (const odb_Exception&) {
    closeWrittenFileQuietly(dst, at);
    throw;
  }
  closeWrittenFile(dst, at);
}

namespace {
// Removes the copy unless it was written whole: a cut copy must not be left
// where a later run could take it for the upgraded database.
struct PartialFile {
  std::string path;
  bool whole = false;
  ~PartialFile() {
    if (!whole) std::remove(path.c_str());
  }
};
}  // namespace

}  // namespace odb_detail

bool isUpgradeRequiredForOdb(const odb_String& path) { return odb_detail::versionOf(path.str()) == 1; }

void upgradeOdb(const odb_String& path, const odb_String& newBase) {
  using namespace odb_detail;
  takeHdf5Exit();
  const std::string& source = path.str();
  const Where w{source, "/"};
  const long long version = versionOf(source);
  checkVersion(version, w, true);
  const std::string target = newBase.str() + ".odb";
  std::error_code ec;
  if (std::filesystem::equivalent(source, target, ec))
    odbFail(w, "cannot upgrade into " + target + ", it is the database itself");
  PartialFile copy{target};
  writeUpgradedCopy(source, copy.path, version);
  copy.whole = true;
}
