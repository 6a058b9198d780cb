// max_mises: prints the largest von Mises stress of every frame.
//
//   max_mises DB.odb
//
// One line per frame and tensor field, "STEP FRAME FIELD max_mises" with the
// value as %g and FRAME the frame's increment number, e.g. "Step-1 1 S 261.908";
// examples/python/max_mises.py prints the same lines.
#include <harvestodb/odb.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

static bool isTensor(odb_Enum::odb_DataTypeEnum type) {
  return type == odb_Enum::TENSOR_3D_FULL || type == odb_Enum::TENSOR_3D_PLANAR ||
         type == odb_Enum::TENSOR_3D_SURFACE || type == odb_Enum::TENSOR_2D_PLANAR ||
         type == odb_Enum::TENSOR_2D_SURFACE;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: max_mises DB.odb\n");
    return 2;
  }
  try {
    const std::unique_ptr<odb_Odb> db = odb_open(argv[1]);
    const odb_StepRepository& steps = db->steps();
    for (int i = 0; i < steps.size(); ++i) {
      const odb_Step& step = steps.valueAt(i);
      std::vector<double> values;
      std::vector<float> mises;
      for (const odb_Frame& frame : step.frames()) {
        // The repository owns the field data: keep it while the blocks are read.
        const odb_FieldOutputRepository fields = frame.fieldOutputs();
        for (int f = 0; f < fields.size(); ++f) {
          const odb_FieldOutput& field = fields.valueAt(f);
          if (!isTensor(field.type())) continue;
          bool any = false;
          float largest = 0;
          for (const odb_FieldBulkData& block : field.bulkDataBlocks()) {
            // In pieces of whole chunks into two reused arrays: the memory of
            // one piece, whatever the size of the block.
            odb_BlockReader reader(block);
            const int piece = reader.pieceRows();
            values.resize(static_cast<std::size_t>(piece) * static_cast<std::size_t>(reader.width()));
            mises.resize(static_cast<std::size_t>(piece));
            for (int first = 0; first < reader.length(); first += piece) {
              const int n = std::min(piece, reader.length() - first);
              reader.read(first, n, values.data());
              reader.mises(values.data(), n, mises.data());
              const float m = *std::max_element(mises.begin(), mises.begin() + n);
              largest = any ? std::max(largest, m) : m;
              any = true;
            }
          }
          if (any)
            std::printf("%s %d %s %g\n", step.name().cStr(), frame.incrementNumber(), field.name().cStr(),
                        static_cast<double>(largest));
        }
      }
    }
  } catch (const odb_Exception& e) {
    std::fprintf(stderr, "max_mises: %s\n", e.what());
    return 1;
  }
  return 0;
}
