#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks what a consumer sees there:
# the installed layout, a CMake consumer (find_package) and a pkg-config one,
# each writing the example database and reading it back, with no HDF5 header
# on their include path.
#   run.sh BUILD_DIR SOURCE_DIR CXX [CXXFLAGS]
set -euo pipefail
build=$1 source=$2 cxx=$3 flags=${4:-}
examples=$source/examples/cpp
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
ulimit -f 200000
cd "$scratch"

fail() { echo "install.consumer: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/prefix" >install.log
prefix=$scratch/prefix
soname=$(find "$prefix" -name 'libharvestodb.so.*' -type f | head -n 1)
[ -n "$soname" ] || fail "no shared library installed"
libdir=$(dirname "$soname")
for f in include/harvestodb/odb.h include/harvestodb/odb_writer.h include/harvestodb/vocabulary.h \
         include/harvestodb/odb_mass.h bin/harvestodb bin/odbinfo bin/ccx2odb bin/odbgen bin/veltra \
         share/harvestodb/harvest-many.sbatch; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
for f in libharvestodb.so libharvestodb.so.0 cmake/harvestodb/harvestodbConfig.cmake \
         cmake/harvestodb/harvestodbConfigVersion.cmake pkgconfig/harvestodb.pc; do
  [ -e "$libdir/$f" ] || fail "${libdir#"$prefix"/}/$f not installed"
done
objdump -p "$soname" | grep -q 'SONAME *libharvestodb\.so\.0$' || fail "$soname: SONAME is not libharvestodb.so.0"
if grep -n -E '#include *[<"](hdf5|H5)' "$prefix"/include/harvestodb/*.h; then fail "an installed header includes HDF5"; fi
[ "$(ls "$prefix/include/harvestodb")" = "$(printf '%s\n' odb.h odb_mass.h odb_writer.h vocabulary.h)" ] ||
  fail "include/harvestodb holds more than the public headers: $(ls "$prefix/include/harvestodb" | tr '\n' ' ')"

check_examples() {  # check_examples DIR [ENV...]: writes, reads back, compares
  local dir=$1
  shift
  env "$@" "$dir/write_db" "$dir/example.odb" || fail "$dir/write_db failed"
  env "$@" "$dir/max_mises" "$dir/example.odb" >"$dir/out.txt" || fail "$dir/max_mises failed"
  diff -u "$examples/max_mises.expected" "$dir/out.txt" || fail "$dir: max_mises printed other lines"
}

# CMake: find_package against the prefix, from a folder outside the source tree.
cmake -S "$source/tests/consumer" -B cmake-consumer -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_PREFIX_PATH="$prefix" \
      -DHARVEST_EXAMPLES_DIR="$examples" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >configure.log ||
  { cat configure.log; fail "the CMake consumer does not configure"; }
cmake --build cmake-consumer >build.log 2>&1 || { cat build.log; fail "the CMake consumer does not build"; }
if grep -E -i '(-I|-isystem )[^ ]*hdf5' cmake-consumer/compile_commands.json; then fail "the CMake consumer compiles with HDF5 flags"; fi
check_examples cmake-consumer

# pkg-config.
export PKG_CONFIG_PATH=$libdir/pkgconfig
cflags=$(pkg-config --cflags harvestodb) libs=$(pkg-config --libs harvestodb)
case "$cflags $libs" in *hdf5*) fail "pkg-config names HDF5: $cflags $libs" ;; esac
mkdir pc-consumer
echo '#include <harvestodb/odb.h>' >pc-consumer/no_hdf5.cpp
cat cmake-consumer/no_hdf5.cpp >>pc-consumer/no_hdf5.cpp
# shellcheck disable=SC2086  # the flags are words
"$cxx" -std=c++20 $flags $cflags -c pc-consumer/no_hdf5.cpp -o pc-consumer/no_hdf5.o
for example in write_db max_mises; do
  # shellcheck disable=SC2086
  "$cxx" -std=c++20 $flags $cflags "$examples/$example.cpp" -o "pc-consumer/$example" $libs ||
    fail "$example does not build with pkg-config's flags"
done
check_examples pc-consumer LD_LIBRARY_PATH="$libdir"
echo "install.consumer: layout, CMake and pkg-config consumers checked in $prefix"
