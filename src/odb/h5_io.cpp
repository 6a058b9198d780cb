// Checked HDF5 access, part 1: messages, the HDF5 lock, stopping HDF5 at
// exit, files, the root checks, links and groups. Process-wide state: the
// HDF5 lock (h5_handle.h says why), whether the library took over HDF5's
// exit handling, and whether a written file was left open.
#include "odb/h5_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "odb/odb.h"

namespace odb_detail {

static std::atomic<bool> exitTaken = false;  // set by the first takeHdf5Exit, never cleared
static bool writeLeftOpen = false;  // set by fileLeftOpen, never cleared

namespace {
struct Hdf5Lock {
  std::recursive_mutex mutex;
  int depth = 0;  // guards alive, all on the thread that holds the mutex
  H5E_auto2_t callerPrint = nullptr;  // the handler the outermost guard put aside
  void* callerData = nullptr;
};

// Made on first use and never destroyed: exit handlers still close files.
Hdf5Lock& hdf5Lock() {
  static Hdf5Lock* lock = new Hdf5Lock;
  return *lock;
}
}  // namespace

H5Guard::H5Guard() {
  Hdf5Lock& l = hdf5Lock();
  l.mutex.lock();
  if (l.depth++ > 0) return;
  if (H5Eget_auto2(H5E_DEFAULT, &l.callerPrint, &l.callerData) < 0) l.callerPrint = nullptr, l.callerData = nullptr;
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

H5Guard::~H5Guard() {
  Hdf5Lock& l = hdf5Lock();
  if (--l.depth == 0) H5Eset_auto2(H5E_DEFAULT, l.callerPrint, l.callerData);
  l.mutex.unlock();
}

Where Where::at(std::string_view name) const {
  std::string p = path;
  if (p.empty() || p.back() != '/') p += '/';
  p += name;
  return Where{file, std::move(p)};
}

void odbFail(const Where& w, std::string_view what) {
  std::string m = w.file;
  m += ": ";
  m += w.path;
  m += ": ";
  m += what;
  throw odb_Exception(std::move(m));
}

static herr_t keepInnermost(unsigned n, const H5E_error2_t* e, void* out) {
  if (n == 0 && e != nullptr && e->desc != nullptr) *static_cast<std::string*>(out) = e->desc;
  return 0;
}

// HDF5's innermost message, as HDF5 wrote it; the stack is cleared.
static std::string innermostText() {
  const H5Guard guard;
  std::string text;
  H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, keepInnermost, &text);
  H5Eclear2(H5E_DEFAULT);
  return text;
}

// The house style: lower case, no final period.
static std::string houseStyle(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!text.empty() && (text.back() == '.' || text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

void odbFailHdf5(const Where& w, std::string_view what) {
  const std::string inner = houseStyle(innermostText());
  std::string m(what);
  if (!inner.empty()) m += " (" + inner + ")";
  odbFail(w, m);
}

void writeFail(const Where& w, std::string_view what) {
  // A failed system call comes with the time, the file name, the descriptor
  // and the sizes; of all that only the system's own reason is kept.
  std::string inner = innermostText();
  const std::string tag = "error message = '";
  if (const std::size_t at = inner.find(tag); at != std::string::npos)
    inner = inner.substr(at + tag.size(), inner.find('\'', at + tag.size()) - at - tag.size());
  else
    inner = houseStyle(inner);
  std::string m(what);
  if (!inner.empty()) m += ": " + inner;
  odbFail(w, m);
}

void checked(herr_t status, const Where& w, std::string_view what) {
  if (status < 0) writeFail(w, what);
}

H5PropList propertyList(hid_t cls, const Where& w) {
  const H5Guard guard;
  H5PropList p(H5Pcreate(cls));
  if (!p.valid()) writeFail(w, "cannot make a property list");
  return p;
}

void fileLeftOpen() { writeLeftOpen = true; }

static void stopHdf5() {
  const H5Guard guard;
  if (!writeLeftOpen) H5close();
}

void takeHdf5Exit() {
  if (exitTaken.exchange(true)) return;
  // Why the library takes this over at all: HDF5 keeps a file it could not
  // write (a full disk, a file size limit) open, and its own exit handler
  // would close that file again and crash the process on its way out.
  // stopHdf5 takes its place and leaves HDF5 up when that happened. This
  // works only when HDF5 is not started yet (H5dont_atexit fails after), so
  // a reader alone never calls it, and a caller that started HDF5 first
  // keeps its own exit handling. It is registered before the runtime's
  // handler, so it runs after that one has closed the databases.
  if (H5dont_atexit() < 0) return;
  const H5Guard guard;
  H5open();
  std::atexit(stopHdf5);
}

H5File openFile(const Where& w, bool writable) {
  if (writable) takeHdf5Exit();
  const H5Guard guard;
  struct stat st {};
  if (::stat(w.file.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) odbFail(w, "file does not exist");
    odbFail(w, std::string("cannot access the file (") + std::strerror(errno) + ")");
  }
  if (S_ISDIR(st.st_mode)) odbFail(w, "is a directory, expected a file");
  if (::access(w.file.c_str(), writable ? R_OK | W_OK : R_OK) != 0)
    odbFail(w, writable ? "file is not writable" : "file is not readable");
  const htri_t isHdf5 = H5Fis_hdf5(w.file.c_str());
  if (isHdf5 == 0) odbFail(w, "file is not an hdf5 file");
  if (isHdf5 < 0) odbFailHdf5(w, "cannot read the file");
  // No chunk cache: every array is read in whole chunks or in pieces of
  // them, and a field output of many blocks keeps their arrays open, each of
  // which would otherwise hold its last chunk (about 1 MiB) until closed.
  H5PropList access(H5Pcreate(H5P_FILE_ACCESS));
  if (!access.valid() || H5Pset_cache(access.get(), 0, 521, 0, 0.75) < 0) odbFailHdf5(w, "cannot open the file");
  H5File f(H5Fopen(w.file.c_str(), writable ? H5F_ACC_RDWR : H5F_ACC_RDONLY, access.get()));
  if (!f.valid()) odbFailHdf5(w, "cannot open the file");
  return f;
}

H5Group openRoot(hid_t file, const Where& w) {
  const H5Guard guard;
  H5Group root(H5Gopen2(file, "/", H5P_DEFAULT));
  if (!root.valid()) odbFailHdf5(w, "cannot open the root group");
  return root;
}

long long formatVersion(hid_t root, const Where& w) {
  // docs/format.md §2: anything but format "odb" is not ours, whatever it holds.
  const bool isOdb =
      attributeClass(root, "format", w) == H5T_STRING && readStringAttribute(root, "format", w) == "odb";
  if (!isOdb) odbFail(w, "file is not an output database");
  const auto version = readIntAttribute(root, "format_version", w);
  if (!version) odbFail(w, "format_version is missing");
  return *version;
}

void checkVersion(long long version, const Where& w, bool upgrading) {
  if (version == 2 || (version == 1 && upgrading)) return;
  if (version == 1) odbFail(w, "database needs upgrading (format_version 1)");
  if (version > 2) odbFail(w, "was written by a newer version (format_version " + std::to_string(version) + ")");
  odbFail(w, "unknown format_version " + std::to_string(version));
}

std::uint64_t fileBytes(hid_t file, const Where& w) {
  const H5Guard guard;
  hsize_t size = 0;
  if (H5Fget_filesize(file, &size) < 0) odbFailHdf5(w, "cannot get the file size");
  return size;
}

// Whether every link on the path exists. H5Lexists fails rather than
// answers when an inner group is missing, so the path is walked one link at
// a time.
static bool pathExists(hid_t loc, const std::string& name, const Where& w) {
  const H5Guard guard;
  if (name.empty()) odbFail(w, "empty link name");
  if (name == "/") return true;
  for (std::size_t pos = name[0] == '/' ? 1 : 0;;) {
    const std::size_t slash = name.find('/', pos);
    const std::string prefix = name.substr(0, slash);
    const htri_t e = H5Lexists(loc, prefix.c_str(), H5P_DEFAULT);
    if (e < 0) odbFailHdf5(w, "cannot look up " + prefix);
    if (e == 0) return false;
    if (slash == std::string::npos) return true;
    pos = slash + 1;
  }
}

Kind childKind(hid_t loc, const std::string& name, const Where& w) {
  const H5Guard guard;
  if (!pathExists(loc, name, w)) return Kind::Missing;
  H5O_info_t info{};
  if (H5Oget_info_by_name2(loc, name.c_str(), &info, H5O_INFO_BASIC, H5P_DEFAULT) < 0)
    odbFailHdf5(w, "cannot open " + name);
  if (info.type == H5O_TYPE_GROUP) return Kind::Group;
  if (info.type == H5O_TYPE_DATASET) return Kind::Dataset;
  return Kind::Other;
}

// The path is walked first: on a damaged file a failed open can leave
// HDF5 answering a later lookup differently, and "missing" must be sure.
std::pair<Kind, H5Object> openChild(hid_t loc, const std::string& name, const Where& w) {
  const H5Guard guard;
  if (!pathExists(loc, name, w)) return {Kind::Missing, H5Object()};
  H5Object o(H5Oopen(loc, name.c_str(), H5P_DEFAULT));
  if (!o.valid()) odbFailHdf5(w, "cannot open " + name);
  const H5I_type_t t = H5Iget_type(o.get());
  return {t == H5I_GROUP ? Kind::Group : t == H5I_DATASET ? Kind::Dataset : Kind::Other, std::move(o)};
}

static const char* kindText(Kind k) {
  switch (k) {
    case Kind::Group: return "a group";
    case Kind::Dataset: return "a dataset";
    default: return "a named datatype";
  }
}

H5Group openOptionalGroup(hid_t loc, const std::string& name, const Where& w) {
  const H5Guard guard;
  auto [k, o] = openChild(loc, name, w);
  if (k == Kind::Missing) return H5Group();
  if (k != Kind::Group) odbFail(w, std::string("is ") + kindText(k) + ", expected a group");
  return H5Group(o.release());
}

H5Group openGroup(hid_t loc, const std::string& name, const Where& w) {
  H5Group g = openOptionalGroup(loc, name, w);
  if (!g.valid()) odbFail(w, "group is missing");
  return g;
}

namespace {
struct LinkEntry {
  std::string name;
  bool hasOrder;
  std::int64_t order;
};
}  // namespace

static herr_t collectLink(hid_t, const char* name, const H5L_info_t* info, void* out) {
  static_cast<std::vector<LinkEntry>*>(out)->push_back({name, info->corder_valid != 0, info->corder});
  return 0;
}

std::vector<std::string> childNames(hid_t group, const Where& w) {
  const H5Guard guard;
  std::vector<LinkEntry> links;
  hsize_t idx = 0;
  if (H5Literate(group, H5_INDEX_NAME, H5_ITER_INC, &idx, collectLink, &links) < 0)
    odbFailHdf5(w, "cannot list the group");
  // docs/format.md §3: creation order when the group tracks it, name order otherwise.
  H5PropList plist(H5Gget_create_plist(group));
  unsigned flags = 0;
  if (!plist.valid() || H5Pget_link_creation_order(plist.get(), &flags) < 0)
    odbFailHdf5(w, "cannot read the group's properties");
  const bool tracked = (flags & H5P_CRT_ORDER_TRACKED) != 0 &&
                       std::all_of(links.begin(), links.end(), [](const LinkEntry& l) { return l.hasOrder; });
  if (tracked)
    std::stable_sort(links.begin(), links.end(),
                     [](const LinkEntry& a, const LinkEntry& b) { return a.order < b.order; });
  std::vector<std::string> names;
  names.reserve(links.size());
  for (LinkEntry& l : links) names.push_back(std::move(l.name));
  return names;
}

}  // namespace odb_detail
