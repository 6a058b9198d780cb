#!/bin/sh
# odbgen writes small databases that odbinfo lists as expected (listing.txt)
# and reads with status 0; the same
# seed writes the same content (options as "--name value" or "--name=value")
# and another seed other numbers; a failed write leaves no file; and the
# tools' command lines: --help on standard output with status 0, usage
# errors on standard error with status 2.
#   check_odbgen.sh ODBGEN ODBINFO CCX2ODB [H5DUMP]
set -eu
odbgen=$1
odbinfo=$2
ccx2odb=$3
h5dump=${4:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "check_odbgen: $*" >&2; exit 1; }

here=$(cd "$(dirname "$0")" && pwd)

# The listing of a small database: model, sets, steps, frames, fields, blocks and history as described in
# generate.h. After an intended change, rewrite listing.txt with the two commands below and review the diff.
(cd "$dir" && "$odbgen" --size 40 --steps 2 --frames 1 --fields 1 g.odb >/dev/null && "$odbinfo" g.odb >listing.txt)
diff -u "$here/listing.txt" "$dir/listing.txt" >&2 || fail "odbinfo's listing of odbgen's database changed"

"$odbgen" --size small --seed 7 "$dir/a.odb" >/dev/null
"$odbinfo" "$dir/a.odb" >"$dir/info.txt" 2>&1 || { cat "$dir/info.txt"; fail "odbinfo failed on the generated database"; }

if [ -n "$h5dump" ]; then
  # A smaller model keeps the text dumps short.
  "$odbgen" --size 2000 --seed 7 "$dir/a.odb" >/dev/null
  "$odbgen" --size=2000 --seed=7 "$dir/b.odb" >/dev/null
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

# tool | arguments | status | stream | its first line starts with
cd "$dir"
while IFS='|' read -r tool args status stream text; do
  got=0
  # shellcheck disable=SC2086
  case $tool in
    odbgen) "$odbgen" $args >out.txt 2>err.txt || got=$? ;;
    odbinfo) "$odbinfo" $args >out.txt 2>err.txt || got=$? ;;
    ccx2odb) "$ccx2odb" $args >out.txt 2>err.txt || got=$? ;;
  esac
  [ "$got" = "$status" ] || fail "$tool $args: status $got, expected $status: $(cat err.txt)"
  head -n 1 "$stream.txt" | grep -qF -- "$text" || fail "$tool $args: $stream '$(head -n 1 "$stream.txt")', expected '$text'"
  [ "$stream" = err ] && [ -s out.txt ] && fail "$tool $args: output on stdout too"
done <<'TABLE'
odbgen|--help|0|out|Writes a synthetic result database
odbinfo|--help|0|out|Lists what a result database holds
ccx2odb|--help|0|out|Imports a CalculiX job
odbgen||2|err|odbgen: OUT.odb is required
odbgen|--size nonsense x.odb|2|err|odbgen: --size: not a size: nonsense
odbgen|--size 10 --elements 2 x.odb|2|err|odbgen: --size excludes --elements
odbgen|--steps x x.odb|2|err|odbgen: 
odbgen|--frames 0 x.odb|2|err|odbgen: frames out of range 1..1000
odbgen|--points 9 x.odb|2|err|odbgen: points out of range 1..8
odbgen|--size 250000001 x.odb|2|err|odbgen: size 250000001 out of range 1..250000000
odbgen|--fields -1 x.odb|2|err|odbgen: fields out of range 0..100000
odbgen|--elements 0 x.odb|2|err|odbgen: --elements: 
odbgen|--layout x x.odb|2|err|odbgen: --layout: 
odbgen|--sets=x x.odb|2|err|odbgen: --sets: 
odbgen|--bogus x.odb|2|err|odbgen: the following argument was not expected: --bogus
odbgen|--seed|2|err|odbgen: 
odbinfo||2|err|odbinfo: DATABASE is required
odbinfo|a.odb a.odb|2|err|odbinfo: the following argument was not expected: a.odb
odbinfo|missing.odb|1|err|odbinfo: missing.odb: 
odbinfo|--check g.odb|0|out|g.odb: every object reads
odbinfo|--check=1 missing.odb|1|err|odbinfo: missing.odb: 
ccx2odb||2|err|ccx2odb: JOB is required
ccx2odb|--bogus job|2|err|ccx2odb: the following argument was not expected: --bogus
ccx2odb|--output=out.odb missing|1|err|ccx2odb: missing.inp: cannot open
ccx2odb|-o out.odb --quiet missing.inp|1|err|ccx2odb: missing.inp: cannot open
TABLE
[ ! -e x.odb ] || fail "a refused command line wrote x.odb"
echo "check_odbgen: ok"
