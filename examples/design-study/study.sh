#!/usr/bin/env bash
# A design study on the bundled bracket: its thickness swept over 8 values.
# Each point gets a folder with its own deck (the mesh with its z
# coordinates scaled from 12 mm to the point's thickness); GNU parallel
# solves the points with ccx and imports each into a database, harvest-many
# extracts them all into results.csv, and plot.py draws the peak von Mises
# stress and the mass against the thickness.
#   study.sh BIN WORK [JOBS]     BIN: a build's bin folder; WORK: scratch folder (recreated)
# THICKNESSES overrides the swept values (mm, space separated).
set -euo pipefail
here=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")" && pwd)

if [ "${1:-}" = --solve ]; then  # one point, run by GNU parallel: --solve BIN FOLDER
  cd "$3"
  if ! OMP_NUM_THREADS=1 ccx -i bracket >ccx.log 2>&1; then
    echo "study: $3: ccx failed (see $3/ccx.log)" >&2
    exit 1
  fi
  exec "$2/veltra" ccx2odb bracket >import.log
fi

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: study.sh BIN WORK [JOBS]" >&2
  exit 2
fi
bin=$(cd "$1" && pwd)
work=$2
jobs=${3:-$(nproc)}
model=$here/../calculix
thicknesses=${THICKNESSES:-6 8 10 12 14 16 18 20}

rm -rf "$work"
mkdir -p "$work"
cd "$work"
points=()
for t in $thicknesses; do
  dir=points/t$(printf %05.1f "$t")
  mkdir -p "$dir"
  cp "$model/bracket.inp" "$dir/"
  # The mesh is 12 mm thick in z: scale the z coordinate of every node.
  awk -v s="$t" -F, 'BEGIN { OFS = "," }
    /^\*/ { nodes = ($0 ~ /^\*NODE/) }
    nodes && !/^\*/ && NF == 4 { $4 = $4 * s / 12 }
    { print }' "$model/bracket_mesh.inp" >"$dir/bracket_mesh.inp"
  points+=("$dir")
done

echo "study: solving ${#points[@]} points with ccx on $jobs jobs (GNU parallel)"
parallel --will-cite -j "$jobs" --halt never "$here/study.sh" --solve "$bin" {} ::: "${points[@]}" ||
  echo "study: some points did not solve; harvest-many reports them as failed" >&2
echo "study: extracting with harvest-many"
status=0
"$bin/harvest-many" "$here/study.cfg" "${points[@]/%//bracket.odb}" -o results -j "$jobs" || status=$?
/usr/bin/python3 "$here/plot.py" results/results.csv design-study.png
exit $status
