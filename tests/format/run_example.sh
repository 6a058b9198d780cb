#!/bin/sh
# Usage: run_example.sh <python with h5py> <write_db.py> <format.md> <scratch folder> [odbinfo]
# Runs the example script and the h5py example printed in the format page,
# each into the scratch folder, and, when odbinfo is given, checks that it
# reads both databases without error.
set -e
python=$1
script=$2
doc=$3
work=$4
odbinfo=$5
rm -rf "$work"
mkdir -p "$work/doc"
"$python" "$script" "$work/example.odb"
# The page's example writes example.odb in the working folder.
awk '/^```python$/ { on = 1; next } /^```$/ { on = 0 } on' "$doc" > "$work/doc/example.py"
test -s "$work/doc/example.py"
(cd "$work/doc" && "$python" example.py)
[ -n "$odbinfo" ] || exit 0
for db in "$work/example.odb" "$work/doc/example.odb"; do
  if ! "$odbinfo" "$db" > "$db.txt" 2>&1; then
    cat "$db.txt"
    echo "run_example.sh: odbinfo failed on $db" >&2
    exit 1
  fi
done
