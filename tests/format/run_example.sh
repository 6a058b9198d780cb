#!/bin/sh
# Usage: run_example.sh <python with h5py> <write_db.py> <scratch folder> [odbinfo]
# Writes the example database into the scratch folder and, when odbinfo is
# given, checks that it reads the file without error.
set -e
python=$1
script=$2
work=$3
odbinfo=$4
rm -rf "$work"
mkdir -p "$work"
"$python" "$script" "$work/example.odb"
if [ -n "$odbinfo" ]; then
  if ! "$odbinfo" "$work/example.odb" > "$work/odbinfo.txt" 2>&1; then
    cat "$work/odbinfo.txt"
    echo "run_example.sh: odbinfo failed on $work/example.odb" >&2
    exit 1
  fi
fi
