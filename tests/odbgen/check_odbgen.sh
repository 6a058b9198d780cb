#!/bin/sh
# odbgen writes a small database that odbinfo reads with status 0; the same
# seed writes the same content and another seed other numbers; bad arguments
# end with status 1.
#   check_odbgen.sh ODBGEN ODBINFO [H5DUMP]
set -eu
odbgen=$1
odbinfo=$2
h5dump=${3:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "check_odbgen: $*" >&2; exit 1; }

"$odbgen" --size small --seed 7 "$dir/a.odb" >/dev/null
"$odbinfo" "$dir/a.odb" >"$dir/info.txt" 2>&1 || { cat "$dir/info.txt"; fail "odbinfo failed on the generated database"; }

if [ -n "$h5dump" ]; then
  # A smaller model keeps the text dumps short.
  "$odbgen" --size 2000 --seed 7 "$dir/a.odb" >/dev/null
  "$odbgen" --size 2000 --seed 7 "$dir/b.odb" >/dev/null
  "$odbgen" --size 2000 --seed 8 "$dir/c.odb" >/dev/null
  for f in a b c; do
    (cd "$dir" && "$h5dump" "$f.odb" | tail -n +2 >"$f.txt")  # line 1 names the file
  done
  cmp -s "$dir/a.txt" "$dir/b.txt" || fail "seed 7 written twice gives different databases"
  cmp -s "$dir/a.txt" "$dir/c.txt" && fail "seeds 7 and 8 give the same database"
fi

for args in "--size nonsense" "--size 0" "--steps x" "--frames 0" "--bogus 1" "--seed"; do
  # shellcheck disable=SC2086
  "$odbgen" $args "$dir/x.odb" >/dev/null 2>"$dir/err.txt" && fail "odbgen $args: accepted"
  grep -q "^odbgen: " "$dir/err.txt" || fail "odbgen $args: no message"
done
"$odbgen" >/dev/null 2>"$dir/err.txt" && fail "odbgen without an output file: accepted"
grep -q "^usage: odbgen" "$dir/err.txt" || fail "odbgen without an output file: no usage"
echo "check_odbgen: ok"
