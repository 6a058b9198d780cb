// The synthetic database generator: mesh, sets, steps with mass properties,
// frames with the U, S and PEEQ field outputs, and nodal history. Every number
// comes from one splitmix64 stream per object, so the same options write the
// same database whatever the block split.
#include "generate.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "odb/odb_writer.h"
#include "odb/vocabulary.h"

namespace odbgen {

namespace {

// splitmix64: tiny, fast and the same on every platform (unlike the
// standard distributions, whose output the library may choose).
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [-1, 1).
  double noise() { return static_cast<double>(next() >> 11) * 0x1.0p-52 - 1.0; }

 private:
  std::uint64_t state_;
};

constexpr double kEdge = 10.0;         // element edge length, mm
constexpr double kDensity = 7.85e-9;   // steel, t/mm^3
// Room for a stress field of 4 GB and more as stored (22 M elements x 8 points,
// float32 full tensor): the field is written a block of whole layers at a time,
// so the generator never holds more than one block of it.
constexpr long long kMaxValues = 250'000'000;
constexpr long long kRowsPerBlock = 1 << 19;

struct Model {
  MeshShape shape;
  GenOptions options;
  int nodeLabel(int i, int j, int k) const { return 1 + i + (shape.nx + 1) * (j + (shape.ny + 1) * k); }
  int elementLabel(int i, int j, int k) const { return 1 + i + shape.nx * (j + shape.ny * k); }
};

}  // namespace

// One stream per (seed, object) pair: objects are independent of the order
// in which they are written.
static Rng streamFor(std::uint64_t seed, int step, int frame, int field) {
  Rng mix(seed ^ (static_cast<std::uint64_t>(step) << 40) ^ (static_cast<std::uint64_t>(frame) << 16) ^
          static_cast<std::uint64_t>(field));
  return Rng(mix.next());
}

std::string stepName(int step) { return "Step-" + std::to_string(step + 1); }

std::optional<long long> parseSize(std::string_view word) {
  if (word == "small") return 10'000;
  if (word == "medium") return 1'000'000;
  if (word == "large") return 10'000'000;
  long long n = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), n);
  if (ec != std::errc() || end != word.data() + word.size() || n < 1) return std::nullopt;
  return n;
}

MeshShape meshShape(long long values, int points) {
  MeshShape s;
  const long long elements = std::max(1LL, (values + points - 1) / points);
  const int n = std::max(1, static_cast<int>(std::cbrt(static_cast<double>(elements))));
  s.nx = s.ny = n;
  s.nz = static_cast<int>((elements + static_cast<long long>(n) * n - 1) / (static_cast<long long>(n) * n));
  const long long wanted = (s.elements() * points + kRowsPerBlock - 1) / kRowsPerBlock;
  s.sBlocks = static_cast<int>(std::clamp<long long>(wanted, std::min(2, s.nz), s.nz));
  return s;
}

static void writeMesh(odbw::Writer& w, const Model& m) {
  const MeshShape& s = m.shape;
  std::vector<int> nodeLabels;
  std::vector<double> xyz;
  nodeLabels.reserve(static_cast<std::size_t>(s.nodes()));
  xyz.reserve(3 * static_cast<std::size_t>(s.nodes()));
  for (int k = 0; k <= s.nz; ++k)
    for (int j = 0; j <= s.ny; ++j)
      for (int i = 0; i <= s.nx; ++i) {
        nodeLabels.push_back(m.nodeLabel(i, j, k));
        xyz.insert(xyz.end(), {i * kEdge, j * kEdge, k * kEdge});
      }
  std::vector<int> elementLabels, connectivity;
  std::vector<std::int64_t> offsets{0};
  elementLabels.reserve(static_cast<std::size_t>(s.elements()));
  connectivity.reserve(8 * static_cast<std::size_t>(s.elements()));
  offsets.reserve(static_cast<std::size_t>(s.elements()) + 1);
  for (int k = 0; k < s.nz; ++k)
    for (int j = 0; j < s.ny; ++j)
      for (int i = 0; i < s.nx; ++i) {
        elementLabels.push_back(m.elementLabel(i, j, k));
        for (int dk = 0; dk < 2; ++dk)  // bottom face, then top face, counter-clockwise
          for (const auto& [di, dj] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}})
            connectivity.push_back(m.nodeLabel(i + di, j + dj, k + dk));
        offsets.push_back(static_cast<std::int64_t>(connectivity.size()));
      }
  w.addPart(kPart);
  w.addInstance(kInstance, kPart);
  w.setInstanceNodes(kInstance, nodeLabels, xyz);
  w.setInstanceElements(kInstance, elementLabels, offsets, connectivity);
}

// Element labels of layers [k0, k1).
static std::vector<int> layerElements(const Model& m, int k0, int k1) {
  std::vector<int> labels;
  for (int k = k0; k < k1; ++k)
    for (int j = 0; j < m.shape.ny; ++j)
      for (int i = 0; i < m.shape.nx; ++i) labels.push_back(m.elementLabel(i, j, k));
  return labels;
}

// Node labels of the node plane z = k.
static std::vector<int> planeNodes(const Model& m, int k) {
  std::vector<int> labels;
  for (int j = 0; j <= m.shape.ny; ++j)
    for (int i = 0; i <= m.shape.nx; ++i) labels.push_back(m.nodeLabel(i, j, k));
  return labels;
}

static void writeSets(odbw::Writer& w, const Model& m) {
  using odbw::SetKind;
  const MeshShape& s = m.shape;
  const std::vector<int> all = layerElements(m, 0, s.nz);
  std::vector<int> allNodes;
  for (int k = 0; k <= s.nz; ++k) {
    const std::vector<int> plane = planeNodes(m, k);
    allNodes.insert(allNodes.end(), plane.begin(), plane.end());
  }
  const std::vector<int> corner(all.begin(), all.begin() + std::min<std::ptrdiff_t>(8, std::ssize(all)));
  w.addPartSet(kPart, SetKind::Element, "PART_ELEMENTS", all);
  w.addInstanceSet(kInstance, SetKind::Element, "ALL_ELEMENTS", all);
  w.addInstanceSet(kInstance, SetKind::Element, "BOTTOM_LAYER", layerElements(m, 0, 1));
  w.addInstanceSet(kInstance, SetKind::Element, "CORNER", corner);
  w.addInstanceSet(kInstance, SetKind::Element, "_TOP_LAYER_INTERNAL", layerElements(m, s.nz - 1, s.nz), true);
  w.addInstanceSet(kInstance, SetKind::Node, "ALL_NODES", allNodes);
  w.addInstanceSet(kInstance, SetKind::Node, "FIXED", planeNodes(m, 0));
  w.addInstanceSet(kInstance, SetKind::Node, "LOAD", planeNodes(m, s.nz));
  w.addAssemblySet(SetKind::Element, "ASM_TOP", {{kInstance, layerElements(m, s.nz - 1, s.nz)}});
  const int top = s.nz;
  w.addAssemblySet(SetKind::Node, "ASM_TIP",
                   {{kInstance, {m.nodeLabel(s.nx, 0, top), m.nodeLabel(s.nx, s.ny, top)}}});
}

// Mass properties of the homogeneous box; products of inertia are
// -integral(x y dm), so they vanish about the centre.
static odbw::StepInfo stepInfo(const Model& m, int step) {
  const double a = m.shape.nx * kEdge, b = m.shape.ny * kEdge, c = m.shape.nz * kEdge;
  const double mass = kDensity * a * b * c;
  const double cx = a / 2, cy = b / 2, cz = c / 2;
  const std::vector<double> centre{mass / 12 * (b * b + c * c), mass / 12 * (a * a + c * c),
                                   mass / 12 * (a * a + b * b), 0.0, 0.0, 0.0};
  odbw::StepInfo info;
  info.description = "Synthetic load case " + std::to_string(step + 1);
  info.mass = mass;
  info.massCenter = std::vector<double>{cx, cy, cz};
  info.inertiaAboutCenter = centre;
  info.inertiaAboutOrigin = std::vector<double>{centre[0] + mass * (cy * cy + cz * cz),
                                                centre[1] + mass * (cx * cx + cz * cz),
                                                centre[2] + mass * (cx * cx + cy * cy),
                                                -mass * cx * cy, -mass * cx * cz, -mass * cy * cz};
  return info;
}

// Load factor of a frame: the steps load up one after the other.
static double loadFactor(const Model& m, int step, int frame) {
  return (step + static_cast<double>(frame + 1) / m.options.frames) / m.options.steps;
}

// Displacement of a cantilever bending down along x, at node (i, j, k).
static void displacement(const Model& m, double t, int i, int j, int k, Rng& rng, double u[3]) {
  const double x = static_cast<double>(i) / m.shape.nx, z = static_cast<double>(k) / m.shape.nz;
  u[0] = t * (0.02 * x * (0.5 - z)) + 1e-5 * rng.noise();
  u[1] = t * 0.002 * x * (static_cast<double>(j) / m.shape.ny - 0.5) + 1e-5 * rng.noise();
  u[2] = -t * 0.1 * x * x + 1e-5 * rng.noise();
}

template <class T>
static void addBlock(odbw::Writer& w, const std::string& step, int frame, const std::string& field,
                     const odbw::BlockInfo& info, const std::vector<double>& data, int width) {
  if constexpr (std::is_same_v<T, double>) {
    w.addBlock(step, frame, field, info, std::span<const double>(data), width);
  } else {
    const std::vector<float> narrow(data.begin(), data.end());
    w.addBlock(step, frame, field, info, std::span<const float>(narrow), width);
  }
}

template <class T>
static void writeDisplacement(odbw::Writer& w, const Model& m, int step, int frame) {
  odbw::FieldInfo info;
  info.description = "Spatial displacement";
  info.type = odb_Enum::VECTOR;
  info.componentLabels = {"U1", "U2", "U3"};
  info.validInvariants = {odb_Enum::MAGNITUDE};
  w.addFieldOutput(stepName(step), frame, kDisplacementField, info);
  Rng rng = streamFor(m.options.seed, step, frame, 1);
  const double t = loadFactor(m, step, frame);
  odbw::BlockInfo block;
  block.position = odb_Enum::NODAL;
  block.instance = kInstance;
  std::vector<double> data;
  data.reserve(3 * static_cast<std::size_t>(m.shape.nodes()));
  block.nodeLabels.reserve(static_cast<std::size_t>(m.shape.nodes()));
  for (int k = 0; k <= m.shape.nz; ++k)
    for (int j = 0; j <= m.shape.ny; ++j)
      for (int i = 0; i <= m.shape.nx; ++i) {
        double u[3];
        displacement(m, t, i, j, k, rng, u);
        data.insert(data.end(), u, u + 3);
        block.nodeLabels.push_back(m.nodeLabel(i, j, k));
      }
  addBlock<T>(w, stepName(step), frame, kDisplacementField, block, data, 3);
}

// Bending stress S11 through the height, with shear, transverse stress and noise.
static void stress(double t, double x, double z, Rng& rng, double s[6]) {
  const double bending = 240.0 * (1.0 - x) * (1.0 - 2.0 * z);
  s[0] = t * bending + 5.0 * rng.noise();
  s[1] = t * 0.3 * bending + 5.0 * rng.noise();
  s[2] = 2.0 * rng.noise();
  s[3] = t * 40.0 * (1.0 - 4.0 * (z - 0.5) * (z - 0.5)) + 3.0 * rng.noise();
  s[4] = 3.0 * rng.noise();
  s[5] = 3.0 * rng.noise();
}

// S and PEEQ at the integration points of every element, S in sBlocks
// blocks of whole layers (as a solver writes one block per element group).
template <class T>
static void writeElementFields(odbw::Writer& w, const Model& m, int step, int frame) {
  odbw::FieldInfo sInfo;
  sInfo.description = "Stress components";
  sInfo.type = odb_Enum::TENSOR_3D_FULL;
  for (std::string_view suffix : odb_vocab::kTensorSuffixes)
    sInfo.componentLabels.push_back(kStressField + std::string(suffix));
  sInfo.validInvariants = {odb_Enum::MAX_PRINCIPAL, odb_Enum::MID_PRINCIPAL, odb_Enum::MIN_PRINCIPAL, odb_Enum::MISES,
                         odb_Enum::TRESCA, odb_Enum::PRESS, odb_Enum::INV3};
  odbw::FieldInfo eInfo;
  eInfo.description = "Equivalent plastic strain";
  eInfo.type = odb_Enum::SCALAR;
  const std::string stepText = stepName(step);
  w.addFieldOutput(stepText, frame, kStressField, sInfo);
  w.addFieldOutput(stepText, frame, kScalarField, eInfo);
  Rng sRng = streamFor(m.options.seed, step, frame, 2), eRng = streamFor(m.options.seed, step, frame, 3);
  const double t = loadFactor(m, step, frame);
  const MeshShape& sh = m.shape;
  for (int b = 0; b < sh.sBlocks; ++b) {
    const int k0 = static_cast<int>(static_cast<long long>(sh.nz) * b / sh.sBlocks);
    const int k1 = static_cast<int>(static_cast<long long>(sh.nz) * (b + 1) / sh.sBlocks);
    odbw::BlockInfo block;
    block.position = odb_Enum::INTEGRATION_POINT;
    block.instance = kInstance;
    std::vector<double> s, e;
    for (int k = k0; k < k1; ++k)
      for (int j = 0; j < sh.ny; ++j)
        for (int i = 0; i < sh.nx; ++i)
          for (int p = 0; p < m.options.points; ++p) {
            const double x = (i + 0.25 + 0.5 * (p & 1)) / sh.nx, z = (k + 0.25 + 0.5 * (p >> 2)) / sh.nz;
            double v[6];
            stress(t, x, z, sRng, v);
            s.insert(s.end(), v, v + 6);
            e.push_back(std::max(0.0, t * 0.02 * (1.0 - x) * std::abs(1.0 - 2.0 * z) - 0.004) +
                        1e-4 * (1.0 + eRng.noise()));
            block.elementLabels.push_back(m.elementLabel(i, j, k));
            block.integrationPoints.push_back(p + 1);
          }
    addBlock<T>(w, stepText, frame, kStressField, block, s, 6);
    addBlock<T>(w, stepText, frame, kScalarField, block, e, 1);
  }
}

// Scalar node fields F1..Fn on the top node plane: many small field outputs.
template <class T>
static void writeExtraFields(odbw::Writer& w, const Model& m, int step, int frame) {
  odbw::BlockInfo block;
  block.position = odb_Enum::NODAL;
  block.instance = kInstance;
  block.nodeLabels = planeNodes(m, m.shape.nz);
  const double t = loadFactor(m, step, frame);
  for (int f = 1; f <= m.options.extraFields; ++f) {
    std::string name = "F";
    name += std::to_string(f);
    odbw::FieldInfo info;
    info.description = "Extra scalar " + std::to_string(f);
    w.addFieldOutput(stepName(step), frame, name, info);
    Rng rng = streamFor(m.options.seed, step, frame, 1000 + f);
    std::vector<double> data(block.nodeLabels.size());
    for (double& v : data) v = t * f + rng.noise();
    addBlock<T>(w, stepName(step), frame, name, block, data, 1);
  }
}

// History of U1..U3 at the two tip nodes of the top face: one row per frame
// plus the start, time and value.
static void writeHistory(odbw::Writer& w, const Model& m, int step) {
  const std::string stepText = stepName(step);
  const MeshShape& s = m.shape;
  for (const int j : {0, s.ny}) {
    const int label = m.nodeLabel(s.nx, j, s.nz);
    const std::string region = std::string("Node ") + kInstance + "." + std::to_string(label);
    odbw::HistoryRegionInfo info;
    info.description = "Output at node " + std::to_string(label);
    info.node = label;
    info.instance = kInstance;
    w.addHistoryRegion(stepText, region, info);
    std::vector<double> rows[3];
    Rng rng = streamFor(m.options.seed, step, 0, 100 + j);
    for (int f = -1; f < m.options.frames; ++f) {
      const double time = static_cast<double>(f + 1) / m.options.frames;
      const double t = f >= 0 ? loadFactor(m, step, f) : static_cast<double>(step) / m.options.steps;
      double u[3];
      displacement(m, t, s.nx, j, s.nz, rng, u);
      for (int c = 0; c < 3; ++c) rows[c].insert(rows[c].end(), {time, u[c]});
    }
    for (int c = 0; c < 3; ++c) {
      const std::string name = std::string(kDisplacementField) + static_cast<char>('1' + c);
      odbw::HistoryOutputInfo out;
      out.description = "Spatial displacement: " + name + " at node " + std::to_string(label);
      w.addHistoryOutput(stepText, region, name, out, std::span<const double>(rows[c]), 2);
    }
  }
}

void generateOdb(const std::string& path, const GenOptions& options) {
  if (options.values < 1 || options.values > kMaxValues)
    throw std::invalid_argument("size " + std::to_string(options.values) + " out of range 1.." +
                                std::to_string(kMaxValues));
  if (options.steps < 1 || options.steps > 100) throw std::invalid_argument("steps out of range 1..100");
  if (options.frames < 1 || options.frames > 1000) throw std::invalid_argument("frames out of range 1..1000");
  if (options.points < 1 || options.points > 8) throw std::invalid_argument("points out of range 1..8");
  if (options.extraFields < 0 || options.extraFields > 100000)
    throw std::invalid_argument("fields out of range 0..100000");
  Model m{meshShape(options.values, options.points), options};
  odbw::Options layout;
  layout.chunked = options.chunked;
  layout.checksum = options.chunked && options.checksum;
  odbw::Writer w(path, layout);
  w.setDescription("odbgen synthetic model, seed " + std::to_string(options.seed) + ", " +
                   std::to_string(m.shape.elements()) + " elements");
  writeMesh(w, m);
  if (options.sets == GenOptions::Sets::Standard) writeSets(w, m);
  if (options.sets == GenOptions::Sets::Every)
    w.addInstanceSet(kInstance, odbw::SetKind::Element, "ALL_ELEMENTS", layerElements(m, 0, m.shape.nz));
  for (int step = 0; step < options.steps; ++step) {
    w.addStep(stepName(step), stepInfo(m, step));
    writeHistory(w, m, step);
    for (int f = 0; f < options.frames; ++f) {
      odbw::FrameInfo frame;
      frame.incrementNumber = f + 1;
      frame.frameValue = static_cast<double>(f + 1) / options.frames;
      frame.description = "Increment " + std::to_string(f + 1);
      const int index = w.addFrame(stepName(step), frame);
      if (options.single) {
        writeDisplacement<float>(w, m, step, index);
        writeElementFields<float>(w, m, step, index);
        writeExtraFields<float>(w, m, step, index);
      } else {
        writeDisplacement<double>(w, m, step, index);
        writeElementFields<double>(w, m, step, index);
        writeExtraFields<double>(w, m, step, index);
      }
    }
  }
  w.close();
}

}  // namespace odbgen
