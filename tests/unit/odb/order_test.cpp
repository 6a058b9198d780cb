// Files written by h5py: repositories follow creation order when the group
// tracks it and name order otherwise; arrays of a wrong class or impossible size are refused.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "sample_db.h"
#include "test_support.h"

namespace {

void python(const testsupport::TempDir& dir, const std::string& script, const std::string& arg) {
  testsupport::writeFile(dir.file("w.py"), "import sys, h5py, numpy as np\n" + script);
  const auto r = testsupport::run({HARVEST_SYSTEM_PYTHON, dir.file("w.py"), "py.odb", arg}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
}

TEST(Order, CreationOrderWhenTrackedNameOrderOtherwise) {
  // Steps "b", "a", "C" in that order, each with field outputs "z" and "y".
  const char* script = R"(track = sys.argv[2] == '1'
with h5py.File(sys.argv[1], 'w', track_order=track) as f:
    f.attrs['format'] = 'odb'
    f.attrs['format_version'] = np.int64(2)
    steps = f.create_group('steps', track_order=track)
    for s in ['b', 'a', 'C']:
        g = steps.create_group(s, track_order=track)
        g.attrs['mass'] = 3
        fr = g.create_group('frames', track_order=track).create_group('0', track_order=track)
        fo = fr.create_group('fieldOutputs', track_order=track)
        for name in ['z', 'y']:
            o = fo.create_group(name, track_order=track)
            o.attrs['type'] = np.uint8(2)
            b = o.create_group('blocks').create_group('0')
            b.attrs['position'] = np.bytes_(b'NODAL\0\0')
            b.create_dataset('data', data=np.array([1.5], dtype='f4'))
            b.create_dataset('nodeLabels', data=np.array([1], dtype='i8'))
)";
  using Names = std::vector<std::string>;
  sample::Finalize finalize;
  for (const bool track : {true, false}) {
    SCOPED_TRACE(track);
    testsupport::TempDir dir;
    python(dir, script, track ? "1" : "0");
    const odb_Odb& odb = openOdb(dir.file("py.odb"));
    EXPECT_EQ(sample::keys(odb.steps()), (track ? Names{"b", "a", "C"} : Names{"C", "a", "b"}));  // upper case first
    const odb_FieldOutputRepository fields = odb.steps()["a"].frames()[0].fieldOutputs();
    EXPECT_EQ(sample::keys(fields), (track ? Names{"z", "y"} : Names{"y", "z"}));
    // Other integer widths, fixed-length strings and int labels read as written.
    EXPECT_EQ(odb.steps()["a"].mass(), 3.0);
    EXPECT_EQ(fields["y"].bulkDataBlocks()[0].position(), odb_Enum::NODAL);
    EXPECT_EQ(std::tuple(fields["y"].values()[0].nodeLabel(), fields["y"].values()[0].data()[0]), std::tuple(1, 1.5f));
  }
}

TEST(ForeignFiles, WrongClassesAndImpossibleSizes) {
  testsupport::TempDir dir;
  python(dir, R"(with h5py.File(sys.argv[1], 'w') as f:
    f.attrs['format'] = 'odb'
    f.attrs['format_version'] = 2
    fo = f.create_group('steps/A/frames/0/fieldOutputs')
    def field(name):
        g = fo.create_group(name)
        g.attrs['type'] = 2
        b = g.create_group('blocks/0')
        b.attrs['position'] = 'NODAL'
        b.create_dataset('nodeLabels', data=np.arange(2, dtype='i4'))
        return b
    field('C').create_dataset('data', data=np.zeros(2, dtype=[('a', 'f4'), ('b', 'f4')]))
    field('H').create_dataset('data', data=np.zeros(2, dtype='f2'))
    big = field('BIG')
    del big['nodeLabels']
    big.create_dataset('nodeLabels', shape=(400000000,), dtype='i4', chunks=(1000,))
    big.create_dataset('data', shape=(400000000,), dtype='f4', chunks=(1000,))
)", "");
  sample::Finalize finalize;
  const std::string path = dir.file("py.odb");
  const odb_FieldOutputRepository fields = openOdb(path).steps()["A"].frames()[0].fieldOutputs();
  const std::string at = path + ": /steps/A/frames/0/fieldOutputs/";
  const std::pair<const char*, std::string> cases[] = {  // field, the start of the message
      {"C", at + "C/blocks/0: data is a compound, expected float32 or float64"},
      {"H", at + "H/blocks/0: data is a 16-bit float, expected float32 or float64"},
      {"BIG", at + "BIG/blocks/0: data needs 1600000000 bytes, more than the file's "},
  };
  for (const auto& [field, message] : cases)
    EXPECT_EQ(sample::messageOf([&] { fields[field].values(); }).substr(0, message.size()), message) << field;
}

}  // namespace
