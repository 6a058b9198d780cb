#!/usr/bin/env bash
# Rewrites the expected files of golden cases from a build's program.
#   scripts/update-golden.sh BUILD_DIR [CASE...]     (all cases when none named)
# Review the resulting diff like code.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$1; shift
cases=("$@")
if [ ${#cases[@]} -eq 0 ]; then
  for d in "$root"/tests/golden/cases/*/; do cases+=("$(basename "$d")"); done
fi
for c in "${cases[@]}"; do
  UPDATE_GOLDEN=1 "$root/tests/golden/run_case.sh" "$build/bin/harvestodb" "$build/bin/golden_make_db" \
    "$root/tests/golden/cases/$c" "$build/golden-update/$c"
done
