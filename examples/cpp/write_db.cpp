// write_db: writes a small database from plain arrays with odbw::Writer.
//
//   write_db OUT.odb
//
// The same database as examples/python/write_db.py writes, so that either
// max_mises example prints the same lines for either file:
// - part PART-1, one instance PART-1-1: an 8-node brick (C3D8; the format keeps
//   no element type), element 1 on nodes 1..8 at the corners of the unit cube;
// - one step Step-1 with one frame: increment 1, frame value 1.0;
// - S: TENSOR_3D_FULL, components S11 S22 S33 S12 S13 S23, INTEGRATION_POINT,
//   one value per point of element 1, points 1..8; at point p:
//   S11 = 10 p, S22 = -5 p, S12 = 2 p, the others 0 (von Mises p * sqrt(187));
// - U: VECTOR, components U1 U2 U3, NODAL, nodes 1..8; at node n: U1 = 0.001 n.
#include <harvestodb/odb_writer.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_db OUT.odb\n");
    return 2;
  }
  try {
    odbw::Writer w(argv[1]);
    w.setDescription("C++ example: one brick");

    const std::vector<int> nodes = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<double> xyz = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0,
                                     0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1, 1};
    const std::vector<int> elements = {1};
    const std::vector<std::int64_t> offsets = {0, 8};
    w.addPart("PART-1");
    w.addInstance("PART-1-1", "PART-1");
    w.setInstanceNodes("PART-1-1", nodes, xyz);
    w.setInstanceElements("PART-1-1", elements, offsets, nodes);

    w.addStep("Step-1");
    const int frame = w.addFrame("Step-1", {.incrementNumber = 1, .frameValue = 1.0});

    odbw::FieldInfo stress{.type = odb_Enum::TENSOR_3D_FULL,
                           .componentLabels = {"S11", "S22", "S33", "S12", "S13", "S23"},
                           .validInvariants = {odb_Enum::MISES}};
    w.addFieldOutput("Step-1", frame, "S", stress);
    std::vector<float> s;
    for (int p = 1; p <= 8; ++p) {
      const float v[6] = {10.0f * p, -5.0f * p, 0, 2.0f * p, 0, 0};
      s.insert(s.end(), v, v + 6);
    }
    w.addBlock("Step-1", frame, "S",
               {.position = odb_Enum::INTEGRATION_POINT, .instance = "PART-1-1",
                .elementLabels = std::vector<int>(8, 1), .integrationPoints = nodes},
               s, 6);

    odbw::FieldInfo displacement{.type = odb_Enum::VECTOR, .componentLabels = {"U1", "U2", "U3"},
                                 .validInvariants = {odb_Enum::MAGNITUDE}};
    w.addFieldOutput("Step-1", frame, "U", displacement);
    std::vector<float> u;
    for (int n : nodes) u.insert(u.end(), {0.001f * n, 0, 0});
    w.addBlock("Step-1", frame, "U", {.position = odb_Enum::NODAL, .instance = "PART-1-1", .nodeLabels = nodes}, u, 3);

    w.close();
  } catch (const odb_Exception& e) {
    std::fprintf(stderr, "write_db: %s\n", e.what());
    return 1;
  }
  return 0;
}
