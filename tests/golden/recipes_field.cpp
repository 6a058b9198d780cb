// Databases of the field golden cases (field_*): every data type on the
// whole model and on sets, and fields split over two blocks.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "recipes.h"

using odbw::BlockInfo;
using odbw::FieldInfo;
using odbw::SetKind;
using odbw::Writer;
using E = odb_Enum;
using Floats = std::vector<float>;
using Doubles = std::vector<double>;

namespace {

const char* const kStep = "Step-1";
const char* const kInstance = "PART-1-1";
constexpr int kLargeElements = 9000;  // per instance in field_large
const std::vector<std::string> kS = {"S11", "S22", "S33", "S12", "S13", "S23"};

// Four nodes and two triangles: element 1 on nodes 1 2 3, element 2 on 2 3 4.
void addMesh(Writer& w, const std::string& instance) {
  w.addInstance(instance, "PART-1");
  w.setInstanceNodes(instance, std::vector<int>{1, 2, 3, 4}, Doubles{0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0});
  w.setInstanceElements(instance, std::vector<int>{1, 2}, std::vector<std::int64_t>{0, 3, 6},
                        std::vector<int>{1, 2, 3, 2, 3, 4});
}

// Instances of `elements` elements of `per` nodes each, without coordinates: element e holds nodes per e - per + 1
// to per e. Returns the node labels and the element labels.
std::pair<std::vector<int>, std::vector<int>> addChain(Writer& w, std::vector<std::string> instances, int elements,
                                                       int per) {
  std::vector<int> nodes, labels;
  std::vector<std::int64_t> offsets = {0};
  for (int n = 1; n <= per * elements; ++n) nodes.push_back(n);
  for (int e = 1; e <= elements; ++e) labels.push_back(e), offsets.push_back(per * e);
  for (const std::string& instance : instances) {
    w.addInstance(instance, "");
    w.setInstanceNodes(instance, nodes);
    w.setInstanceElements(instance, labels, offsets, nodes);
  }
  return {nodes, labels};
}

FieldInfo fieldInfo(E::odb_DataTypeEnum type, const std::string& description, std::vector<std::string> labels,
                    std::vector<E::odb_InvariantEnum> invariants = {}) {
  return {.description = description, .type = type, .componentLabels = labels, .validInvariants = invariants};
}

const FieldInfo kTemperature = fieldInfo(E::SCALAR, "Temperature", {});

BlockInfo nodal(const std::string& at, std::vector<int> nodes) { return {.instance = at, .nodeLabels = nodes}; }

BlockInfo integrationPoints(const std::string& instance, std::vector<int> elements, std::vector<int> points) {
  return {
      .position = E::INTEGRATION_POINT, .instance = instance, .elementLabels = elements, .integrationPoints = points};
}

BlockInfo centroids(const std::string& instance, std::vector<int> elements,
                    E::odb_ResultPositionEnum position = E::CENTROID) {
  return {.position = position, .instance = instance, .elementLabels = elements};
}

// A field output of one block, of a value per component (a scalar's one).
template <class T>
void addField(Writer& w, int frame, const std::string& name, const FieldInfo& info, const BlockInfo& block,
              const std::vector<T>& data) {
  w.addFieldOutput(kStep, frame, name, info);
  w.addBlock(kStep, frame, name, block, data, std::max(1, static_cast<int>(info.componentLabels.size())));
}

}  // namespace

// One field output per data type, on the model above, with sets that catch values, sets that must be skipped ("Warn",
// "Info") and a part set that holds no value of the instance.
GOLDEN_RECIPE(field_types) {
  Writer w(path);
  w.addPart("PART-1");
  addMesh(w, kInstance);
  w.addAssemblySet(SetKind::Element, "E-ONE", {{kInstance, {2}}});
  w.addAssemblySet(SetKind::Node, "TOP", {{kInstance, {1, 2}}});
  w.addAssemblySet(SetKind::Node, "WarnSet", {{kInstance, {1, 2, 3, 4}}});
  const std::vector<int> one = {1}, nodes = {1, 2, 3, 4};
  w.addInstanceSet(kInstance, SetKind::Element, "InfoSet", one);
  w.addInstanceSet(kInstance, SetKind::Node, "ALL NODES", nodes);
  w.addPartSet("PART-1", SetKind::Node, "PSET", one);

  w.addStep(kStep);
  const int f = w.addFrame(kStep, {.incrementNumber = 3, .description = "Increment      3: Step Time =    1.000"});

  addField(w, f, "NT", fieldInfo(E::SCALAR, "Nodal temperature", {}), nodal(kInstance, nodes), Floats{3, -1, 7, 2});
  addField(w, f, "U", fieldInfo(E::VECTOR, "Spatial displacement", {"U1", "U2", "U3"}), nodal(kInstance, nodes),
           Doubles{3, 4, 0, 1, 2, 2, 0.5, 0, -6, -8.1, 6, 0});
  addField(w, f, "S",
           fieldInfo(E::TENSOR_3D_FULL, "Stress components", kS,
                     {E::MISES, E::TRESCA, E::PRESS, E::INV3, E::MAX_PRINCIPAL, E::MID_PRINCIPAL, E::MIN_PRINCIPAL,
                      E::MAX_INPLANE_PRINCIPAL, E::MIN_INPLANE_PRINCIPAL, E::OUTOFPLANE_PRINCIPAL}),
           integrationPoints(kInstance, {1, 1, 2, 2}, {1, 2, 1, 2}),
           Floats{30, 0, 0, 0, 0, 0, 60, 30, 0, 0, 0, 0, 0, 0, -90, 0, 0, 0, 10, 10, 10, 0, 0, 0});
  addField(w, f, "EVOL", fieldInfo(E::SCALAR, "Element volume", {}, {E::MISES}),
           centroids(kInstance, {1, 2}, E::WHOLE_ELEMENT), Doubles{2.5, 4});
  addField(w, f, "LE",
           fieldInfo(E::TENSOR_3D_PLANAR, "Logarithmic strain components", {"LE11", "LE22", "LE33", "LE12"}),
           integrationPoints(kInstance, {1, 2}, {1, 1}), Doubles{0.003, 0, 0, 0, 0, 0.001, 0, 0});
  addField(w, f, "SF", fieldInfo(E::TENSOR_3D_SURFACE, "Stress in the shell", {"SF11", "SF22", "SF12"}),
           centroids(kInstance, {1, 2}), Floats{3, 0, 0, 0, 0, 2});
  addField(w, f, "PE", fieldInfo(E::TENSOR_2D_PLANAR, "Plastic strain", {"PE11", "PE22", "PE33", "PE12"}),
           centroids(kInstance, {1, 2}), Doubles{1, 0, 0, 0, 0, 0, 0, 0});
  addField(w, f, "SG", fieldInfo(E::TENSOR_2D_SURFACE, "Membrane Stress", {"SG11", "SG22", "SG12"}),
           centroids(kInstance, {1, 2}), Floats{0, 4, 0, 6, 0, 0});
  addField(w, f, "XX", fieldInfo(static_cast<E::odb_DataTypeEnum>(4), "Other quantity", {}), nodal(kInstance, nodes),
           Floats{5, -2, 1, 0});
  w.close();
}

// Fields of two blocks, one per instance: which results combine over the
// blocks (maxima, minima, engineering extremes) and which report one block.
GOLDEN_RECIPE(field_two_blocks) {
  Writer w(path);
  w.addPart("PART-1");
  addMesh(w, "A-1");
  addMesh(w, "B-1");
  const std::vector<int> nodes = {1, 2, 3, 4};
  w.addStep(kStep);
  const int f = w.addFrame(kStep, {.incrementNumber = 7, .description = "Increment      7: Step Time =    2.000"});

  addField(w, f, "T2", kTemperature, nodal("A-1", nodes), Floats{3, 2.5, 1, 0});
  w.addBlock(kStep, f, "T2", nodal("B-1", nodes), Floats{7, 6, -2, 5}, 1);

  addField(w, f, "S", fieldInfo(E::TENSOR_3D_FULL, "Stress components", kS), integrationPoints("A-1", {1, 2}, {1, 1}),
           Floats{500, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0});
  w.addBlock(kStep, f, "S", integrationPoints("B-1", {1, 2}, {1, 1}), Floats{100, 0, 0, 0, 0, 0, -40, 0, 0, 0, 0, 0},
             6);

  const Doubles first = {9, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1}, second = {2, 0, 0, -1, 0, 0, 0, 3, 0, 0, 0, 4};
  const FieldInfo vector = fieldInfo(E::VECTOR, "Spatial displacement", {"U1", "U2", "U3"});
  addField(w, f, "UD", vector, nodal("A-1", nodes), first);
  w.addBlock(kStep, f, "UD", nodal("B-1", nodes), second, 3);
  addField(w, f, "UF", vector, nodal("A-1", nodes), std::vector<float>(first.begin(), first.end()));
  w.addBlock(kStep, f, "UF", nodal("B-1", nodes), std::vector<float>(second.begin(), second.end()), 3);
  w.close();
}

// Values that are not numbers, values beyond the float range (a path that narrows them shows inf), and blocks the
// statistics treat on their own: a tensor at nodes, a vector at element centroids, a vector of two components. The sets
// cover the model, so their lines repeat the whole model's. Ten nodes; element e joins nodes 2e-1 and 2e.
GOLDEN_RECIPE(field_nan) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Writer w(path);
  const auto [nodes, elements] = addChain(w, {kInstance}, 5, 2);
  w.addAssemblySet(SetKind::Node, "NODES", {{kInstance, nodes}});
  w.addAssemblySet(SetKind::Element, "ELEMENTS", {{kInstance, elements}});
  w.addStep(kStep);
  const int f = w.addFrame(kStep);

  addField(w, f, "NT", kTemperature, nodal(kInstance, nodes), Floats{5, nan, 1, nan, 4, nan, 2, nan, 3, nan});
  addField(w, f, "BIG", kTemperature, nodal(kInstance, {1, 2, 3}), Doubles{-3e300, 2e300, 1});
  addField(w, f, "NONE", kTemperature, nodal(kInstance, {1, 2}), Floats{nan, nan});
  addField(w, f, "U", fieldInfo(E::VECTOR, "Displacement", {"U1", "U2", "U3"}), nodal(kInstance, {1, 2, 3, 4}),
           Doubles{3, 4, 0, nan, 1, 1, 0, 0, 2, 6, nan, 8});
  addField(w, f, "U2", fieldInfo(E::VECTOR, "Displacement", {"U21", "U22"}), nodal(kInstance, {1, 2}),
           Floats{6, 8, -3, 4});
  // Two blocks: a set's invariants are computed a block per thread.
  addField(w, f, "S", fieldInfo(E::TENSOR_3D_FULL, "Stress", kS, {E::MISES, E::TRESCA, E::MAX_PRINCIPAL}),
           integrationPoints(kInstance, {2}, {1}), Floats{nan, 0, 0, 0, 0, 0});
  w.addBlock(kStep, f, "S", integrationPoints(kInstance, {1, 3}, {1, 1}), Floats{30, 0, 0, 0, 0, 0, 0, 0, -90, 0, 0, 0},
             6);
  addField(w, f, "SN", fieldInfo(E::TENSOR_3D_PLANAR, "Stress at nodes", {"SN11", "SN22", "SN33", "SN12"}),
           nodal(kInstance, {1, 2}), Floats{-50, 0, 0, 1, 40, 0, 0, 3});
  addField(w, f, "VE", fieldInfo(E::VECTOR, "Element vector", {"VE1", "VE2", "VE3"}), centroids(kInstance, {1, 2, 3}),
           Doubles{3, 4, 0, 6, 8, 0, 5, 12, 0});
  w.close();
}

// Every data array fails its checksum: a names-only run reads none of them
// and completes, a computing run stops at the first.
GOLDEN_RECIPE(field_damaged) {
  const std::vector<double> s = {101, 102, 103, 104, 105, 106, 111, 112, 113, 114, 115, 116};
  const std::vector<float> u = {201, 202, 203, 211, 212, 213, 221, 222, 223, 231, 232, 233}, t = {301, 302, 303, 304};
  const std::vector<int> nodes = {1, 2, 3, 4};
  Writer w(path);
  addMesh(w, kInstance);
  w.addAssemblySet(SetKind::Element, "E", {{kInstance, {1, 2}}});
  w.addAssemblySet(SetKind::Node, "N", {{kInstance, nodes}});
  w.addStep(kStep);
  const int f = w.addFrame(kStep);
  addField(w, f, "S", fieldInfo(E::TENSOR_3D_FULL, "Stress", kS), centroids(kInstance, {1, 2}), s);
  addField(w, f, "U", fieldInfo(E::VECTOR, "Displacement", {"U1", "U2", "U3"}), nodal(kInstance, nodes), u);
  addField(w, f, "T", kTemperature, nodal(kInstance, nodes), t);
  w.close();
  const auto damage = [&](const auto& v) { golden::damageStored(path, v.data(), v.size() * sizeof(v[0])); };
  damage(s), damage(u), damage(t);
}

// Blocks large enough for the engineering extremes to be selected in passes when the field output does not fit the
// memory budget (field_large_budget runs this database with a tiny one, field_large without): every position and data
// type in both precisions, values that repeat (ties at every rank), NaN, a constant field, signed zeros. Small chunks,
// so that a block is read in many pieces, and a field output of four blocks. Two instances of 9,000 elements of 2
// points; each node belongs to one element: element e holds nodes 2e-1 and 2e. The set BOTH holds every element, so
// that the four blocks' 72,000 values take the set statistics' selections on two threads.
GOLDEN_RECIPE(field_large) {
  constexpr int kElements = kLargeElements, kNodes = 2 * kElements;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::uint32_t seed = 12345;
  // Numbers from a few hundred distinct values, so that many tie.
  auto next = [&] { return static_cast<int>((seed = seed * 1664525u + 1013904223u) >> 20) % 400 - 150; };
  Writer w(path, {.chunkBytes = 16 << 10});
  const auto [nodes, elements] = addChain(w, {"A-1", "B-1"}, kElements, 2);
  std::vector<int> twice, points;
  for (int e = 1; e <= kElements; ++e) twice.insert(twice.end(), {e, e}), points.insert(points.end(), {1, 2});
  w.addAssemblySet(SetKind::Element, "HALF", {{"A-1", {elements.begin(), elements.begin() + kElements / 2}}});
  w.addAssemblySet(SetKind::Element, "BOTH", {{"A-1", elements}, {"B-1", elements}});
  w.addAssemblySet(SetKind::Node, "NODES-B", {{"B-1", nodes}});
  w.addStep(kStep);
  const int f = w.addFrame(kStep, {.incrementNumber = 4});

  // Rows of `width` numbers; every 97th row NaN in its first column, and in all of it every 389th.
  auto rows = [&]<class T>(T, int width, double scale, int count = 2 * kLargeElements) {
    std::vector<T> v;
    for (int r = 0; r < count; ++r)
      for (int c = 0; c < width; ++c)
        v.push_back(r % 389 == 5 || (r % 97 == 3 && c == 0) ? static_cast<T>(nan) : static_cast<T>(next() * scale));
    return v;
  };
  const auto ips = [&](const char* instance) { return integrationPoints(instance, twice, points); };
  addField(w, f, "S", fieldInfo(E::TENSOR_3D_FULL, "Stress", kS, {E::MISES}), ips("A-1"), rows(0.0f, 6, 0.5));
  w.addBlock(kStep, f, "S", ips("B-1"), rows(0.0f, 6, 2.0), 6);
  addField(w, f, "SD", fieldInfo(E::TENSOR_3D_PLANAR, "Stress", {"SD11", "SD22", "SD33", "SD12"}), ips("A-1"),
           rows(0.0, 4, 0.125));
  addField(w, f, "U", fieldInfo(E::VECTOR, "Displacement", {"U1", "U2", "U3"}), nodal("B-1", nodes),
           rows(0.0, 3, 0.01));
  addField(w, f, "UF", fieldInfo(E::VECTOR, "Displacement", {"UF1", "UF2"}), nodal("A-1", nodes), rows(0.0f, 2, 1.0));
  addField(w, f, "VE", fieldInfo(E::VECTOR, "Element vector", {"VE1", "VE2", "VE3"}), ips("B-1"), rows(0.0f, 3, 1.0));
  addField(w, f, "SN", fieldInfo(E::TENSOR_3D_PLANAR, "Stress at nodes", {"SN11", "SN22", "SN33", "SN12"}),
           nodal("A-1", nodes), rows(0.0f, 4, 1.0));
  BlockInfo elementNodal{.position = E::ELEMENT_NODAL, .instance = "A-1", .nodeLabels = nodes, .elementLabels = twice};
  addField(w, f, "EN", fieldInfo(E::SCALAR, "Energy", {}), elementNodal, rows(0.0, 1, 1.0));
  addField(w, f, "CONST", kTemperature, nodal("A-1", nodes), std::vector<float>(kNodes, 7.5f));
  std::vector<double> zeros(2 * kElements, 0.0);
  for (std::size_t i = 0; i < zeros.size(); i += 3) zeros[i] = -0.0;
  addField(w, f, "ZERO", kTemperature, ips("B-1"), zeros);
  // Four blocks of 4 points on half an instance's elements each: under a budget that the field output does not fit,
  // each is held whole and computed on two threads (field_large_whole).
  w.addFieldOutput(
      kStep, f, "SQ",
      fieldInfo(E::TENSOR_3D_FULL, "Stress", {"SQ11", "SQ22", "SQ33", "SQ12", "SQ13", "SQ23"}, {E::MISES}));
  // SQ23 is never positive, and its largest value is a zero whose first
  // appearance is -0, at an odd row, with +0 in the row after it (the other
  // way round in B-1's blocks, which come later).
  for (const char* instance : {"A-1", "B-1"})
    for (int half = 0; half < 2; ++half) {
      std::vector<int> labels, at;
      for (int e = 1 + half * kElements / 2; e <= (half + 1) * kElements / 2; ++e)
        labels.insert(labels.end(), {e, e, e, e}), at.insert(at.end(), {1, 2, 3, 4});
      std::vector<float> values = rows(0.0f, 6, 0.25);
      for (std::size_t r = 0; r < values.size() / 6; ++r) values[6 * r + 5] = -std::fabs(values[6 * r + 5]);
      const float first = instance[0] == 'A' ? -0.0f : 0.0f;
      values[5] = -1.0f, values[11] = first, values[17] = -first;
      w.addBlock(kStep, f, "SQ", integrationPoints(instance, labels, at), values, 6);
    }
  // Three points on all but the last element: an odd number of rows, the
  // last of which holds every component's extremes.
  std::vector<int> odd, odd3;
  for (int e = 1; e < kElements; ++e) odd.insert(odd.end(), {e, e, e}), odd3.insert(odd3.end(), {1, 2, 3});
  std::vector<float> s3 = rows(0.0f, 6, 0.5, static_cast<int>(odd.size()));
  for (int c = 0; c < 6; ++c) s3[s3.size() - 6 + static_cast<std::size_t>(c)] = c % 2 ? -1000.0f : 1000.0f;
  addField(w, f, "S3", fieldInfo(E::TENSOR_3D_FULL, "Stress", {"S311", "S322", "S333", "S312", "S313", "S323"}),
           integrationPoints("A-1", odd, odd3), s3);
  w.close();
}

// Four blocks held whole under field_bad_labels_budget's budget, the last of which gives an element five values and the
// next three: the run stops with the library's message, as it does in memory.
GOLDEN_RECIPE(field_bad_labels) {
  constexpr int kElements = 18000;
  Writer w(path, {.chunkBytes = 16 << 10});
  addChain(w, {"A-1"}, kElements, 1);
  w.addStep(kStep);
  const int f = w.addFrame(kStep);
  w.addFieldOutput(kStep, f, "S", fieldInfo(E::TENSOR_3D_FULL, "Stress", kS));
  for (int quarter = 0; quarter < 4; ++quarter) {
    std::vector<int> labels, at;
    std::vector<float> values;
    for (int e = 1 + quarter * kElements / 4; e <= (quarter + 1) * kElements / 4; ++e)
      for (int p = 1; p <= 4; ++p) {
        labels.push_back(e), at.push_back(p);
        for (int c = 0; c < 6; ++c) values.push_back(static_cast<float>((e * 7 + p * 3 + c) % 1000));
      }
    if (quarter == 3) labels[labels.size() - 4] = labels.back() - 1;
    w.addBlock(kStep, f, "S", integrationPoints("A-1", labels, at), values, 6);
  }
  w.close();
}
