// Upgrading older databases: the version test and the format-2 copy with the
// history converted from time/value to data. No globals; HDF5's error
// printing is switched off on entry.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "odb/h5_io.h"
#include "odb/h5_write.h"
#include "odb/odb.h"

namespace odb_detail {

// The root checks of docs/format.md §2, answering the version of a database.
static long long databaseVersion(hid_t root, const Where& w) {
  bool isOdb = false;
  if (hasAttribute(root, "format", w)) {
    const H5Attribute a(H5Aopen(root, "format", H5P_DEFAULT));
    const H5Datatype t(a.valid() ? H5Aget_type(a.get()) : H5I_INVALID_HID);
    if (!t.valid()) odbFailH5(w, "cannot read attribute format");
    isOdb = H5Tget_class(t.get()) == H5T_STRING && readStringAttribute(root, "format", w) == "odb";
  }
  if (!isOdb) odbFail(w, "file is not an output database");
  const auto version = readIntAttribute(root, "format_version", w);
  if (!version) odbFail(w, "format_version is missing");
  return *version;
}

static H5Group openRoot(hid_t file, const Where& w) {
  H5Group root(H5Gopen2(file, "/", H5P_DEFAULT));
  if (!root.valid()) odbFailH5(w, "cannot open the root group");
  return root;
}

static long long versionOf(const std::string& path) {
  silenceHdf5();
  const Where w{path, "/"};
  const H5File f = openFileReadOnly(w);
  const H5Group root = openRoot(f.get(), w);
  return databaseVersion(root.get(), w);
}

// Copies one attribute whatever its type; variable-length data are reclaimed after.
static void copyAttribute(hid_t src, hid_t dst, hsize_t index, H5_index_t order, const WriteAt& at) {
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

static void copyRootAttributes(hid_t src, hid_t dst, const WriteAt& at) {
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
static void convertHistoryOutput(hid_t output, const Where& src, const WriteAt& dst, std::uint64_t limit) {
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
        convertHistoryOutput(output.get(), src, WriteAt{target, src.path}, limit);
      }
    }
  }
}

// What the system said about the last failed call, for the messages of a failed write.
static std::string systemReason() { return errno ? std::strerror(errno) : "unknown reason"; }

// The copy is built in memory and written out by writeImage: HDF5 1.10 can
// crash when a write fails halfway through H5Ocopy or at the close (a full
// disk, a file size limit), so HDF5 itself never writes to the disk here.
// The cost is memory: the whole copy, once, while it is written out.
static H5File createInMemory(const std::string& target, std::uint64_t sourceBytes) {
  const H5PropList fcpl = writerFileCreateProps(true);
  const H5PropList fapl = writerFileAccessProps();
  const std::size_t increment = std::clamp<std::uint64_t>(sourceBytes / 4, 1 << 12, 1 << 26);
  if (H5Pset_fapl_core(fapl.get(), increment, 0) < 0) writeFail({target, "/"}, "cannot set up the copy in memory");
  H5File f(H5Fcreate(target.c_str(), H5F_ACC_TRUNC, fcpl.get(), fapl.get()));
  if (!f.valid()) writeFail({target, "/"}, "cannot create the copy in memory");
  return f;
}

// HDF5's metadata checksum: Bob Jenkins' lookup3 hash of the bytes, seed 0.
static std::uint32_t lookup3(const unsigned char* k, std::size_t length) {
  auto rot = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
  auto word = [](const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24; };
  std::uint32_t a, b, c;
  a = b = c = 0xdeadbeef + static_cast<std::uint32_t>(length);
  for (; length > 12; length -= 12, k += 12) {
    a += word(k), b += word(k + 4), c += word(k + 8);
    a -= c, a ^= rot(c, 4), c += b, b -= a, b ^= rot(a, 6), a += c, c -= b, c ^= rot(b, 8), b += a;
    a -= c, a ^= rot(c, 16), c += b, b -= a, b ^= rot(a, 19), a += c, c -= b, c ^= rot(b, 4), b += a;
  }
  if (length == 0) return c;
  unsigned char tail[12] = {};
  std::memcpy(tail, k, length);
  a += word(tail), b += word(tail + 4), c += word(tail + 8);
  c ^= b, c -= rot(b, 14), a ^= c, a -= rot(c, 11), b ^= a, b -= rot(a, 25), c ^= b, c -= rot(b, 16);
  a ^= c, a -= rot(c, 4), b ^= a, b -= rot(a, 14), c ^= b, c -= rot(b, 24);
  return c;
}

// HDF5 1.10's file image clears the superblock's open-for-write flag but
// keeps the checksum made with the flag set, so the image as written could
// not be opened. Superblock versions 2 and 3: signature, version, offset and
// length sizes, flags, four addresses, then the checksum of all before it.
static void resealSuperblock(unsigned char* image, std::size_t size) {
  if (size < 12 || (image[8] != 2 && image[8] != 3)) return;
  const std::size_t at = 12 + 4 * std::size_t{image[9]};
  if (at + 4 > size) return;
  const std::uint32_t sum = lookup3(image, at);
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<unsigned char>(sum >> (8 * i));
}

// Writes the whole image to target or throws naming the system's reason.
static void writeImage(const std::string& target, const unsigned char* image, std::size_t size) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) writeFail({target, "/"}, "cannot create the file: " + systemReason());
  while (size > 0) {
    const ssize_t n = ::write(fd, image, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      errno = error;
      writeFail({target, "/"}, "cannot write the file: " + systemReason());
    }
    image += n;
    size -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) writeFail({target, "/"}, "cannot write the file: " + systemReason());
}

// Writes the format-2 copy of source into the new file `target`.
static void writeUpgradedCopy(const std::string& source, const std::string& target, long long version) {
  const Where w{source, "/"};
  const H5File src = openFileReadOnly(w);
  const std::uint64_t limit = fileBytes(src.get(), w);
  const H5Group srcRoot = openRoot(src.get(), w);
  H5File dst = createInMemory(target, limit);
  const WriteAt at{target, "/"};
  {
    const H5Group dstRoot(H5Gopen2(dst.get(), "/", H5P_DEFAULT));
    for (const std::string& name : childNames(srcRoot.get(), w))
      if (H5Ocopy(srcRoot.get(), name.c_str(), dstRoot.get(), name.c_str(), H5P_DEFAULT, H5P_DEFAULT) < 0)
        odbFailH5(w.at(name), "cannot copy");
    copyRootAttributes(srcRoot.get(), dstRoot.get(), at);
    putIntAttr(at, dstRoot.get(), "format_version", 2, H5T_STD_I32LE);
    if (version == 1) convertHistory(dst.get(), source, target, limit);
  }
  if (H5Fflush(dst.get(), H5F_SCOPE_GLOBAL) < 0) writeFail(at, "cannot complete the copy in memory");
  const ssize_t size = H5Fget_file_image(dst.get(), nullptr, 0);
  if (size <= 0) writeFail(at, "cannot complete the copy in memory");
  const auto image = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(size));
  if (H5Fget_file_image(dst.get(), image.get(), static_cast<std::size_t>(size)) != size)
    writeFail(at, "cannot complete the copy in memory");
  dst.reset();  // frees HDF5's copy before the write
  resealSuperblock(image.get(), static_cast<std::size_t>(size));
  writeImage(target, image.get(), static_cast<std::size_t>(size));
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
  const std::string& source = path.str();
  const Where w{source, "/"};
  const long long version = versionOf(source);
  if (version > 2) odbFail(w, "was written by a newer version (format_version " + std::to_string(version) + ")");
  if (version < 1) odbFail(w, "unknown format_version " + std::to_string(version));
  const std::string target = newBase.str() + ".odb";
  std::error_code ec;
  if (std::filesystem::equivalent(source, target, ec))
    odbFail(w, "cannot upgrade into " + target + ", it is the database itself");
  PartialFile copy{target};
  writeUpgradedCopy(source, copy.path, version);
  copy.whole = true;
}
