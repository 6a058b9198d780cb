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

# The layout, point and field options write databases that read back.
"$odbgen" --elements 27 --points 1 --fields 3 --frames 3 --layout contiguous --sets every --single "$dir/p.odb" >/dev/null
"$odbinfo" "$dir/p.odb" >"$dir/info.txt" 2>&1 || { cat "$dir/info.txt"; fail "odbinfo failed on the options' database"; }
grep -q "field F3 SCALAR" "$dir/info.txt" || fail "--fields 3: no field F3"
grep -q "INTEGRATION_POINT, float32, 9 x 6" "$dir/info.txt" || fail "--elements 27 --points 1: not 3 x 3 x 3 stress rows"

# A database that cannot be written whole is removed (file size limit, SIGXFSZ ignored).
status=0
(ulimit -f 64; trap '' XFSZ; exec "$odbgen" --size 20000 "$dir/cut.odb") >/dev/null 2>"$dir/err.txt" || status=$?
[ "$status" = 1 ] || fail "write failure: status $status, expected 1"
grep -q "^odbgen: $dir/cut.odb: " "$dir/err.txt" || fail "write failure: message '$(cat "$dir/err.txt")'"
[ ! -e "$dir/cut.odb" ] || fail "write failure: the partial database was left"

for args in "--size nonsense" "--size 0" "--steps x" "--frames 0" "--bogus 1" "--seed" "--points 9" "--layout x" \
            "--elements 0" "--fields -1" "--sets x"; do
  # shellcheck disable=SC2086
  "$odbgen" $args "$dir/x.odb" >/dev/null 2>"$dir/err.txt" && fail "odbgen $args: accepted"
  grep -q "^odbgen: " "$dir/err.txt" || fail "odbgen $args: no message"
done
"$odbgen" >/dev/null 2>"$dir/err.txt" && fail "odbgen without an output file: accepted"
grep -q "^usage: odbgen" "$dir/err.txt" || fail "odbgen without an output file: no usage"
echo "check_odbgen: ok"
