#!/usr/bin/env bash
# Runs one golden case and compares what the program leaves with expected/.
#   run_case.sh HARVESTODB MAKE_DB CASE_DIR WORK_DIR
# The case folder holds:
#   recipe          the recipe name for golden_make_db (database written as db.odb)
#   config.txt      the configuration file (optional)
#   args            the command line after the program name, one line
#                   (default: -odb db.odb -config config.txt)
#   env             variables for the run, NAME=VALUE words on one line
#   expected/       params.txt, stdout.txt, stderr.txt, status.txt and, when the
#                   run must leave it, paramsdone.txt; a file listed in
#                   expected/absent must not exist after the run
# With UPDATE_GOLDEN=1 the expected files are rewritten from the run instead.
set -euo pipefail
prog=$1 make_db=$2 case_dir=$3 work=$4

rm -rf "$work"
mkdir -p "$work"
if [ -f "$case_dir/recipe" ]; then
  "$make_db" "$(tr -d '[:space:]' < "$case_dir/recipe")" "$work/db.odb"
fi
[ -f "$case_dir/config.txt" ] && cp "$case_dir/config.txt" "$work/config.txt"
args="-odb db.odb -config config.txt"
[ -f "$case_dir/args" ] && args=$(head -n 1 "$case_dir/args")
vars=""
[ -f "$case_dir/env" ] && vars=$(head -n 1 "$case_dir/env")

status=0
(cd "$work" && eval "exec env $vars \"$prog\" $args" > stdout.txt 2> stderr.txt < /dev/null) || status=$?
echo "$status" > "$work/status.txt"

exp="$case_dir/expected"
if [ "${UPDATE_GOLDEN:-0}" = 1 ]; then
  mkdir -p "$exp"
  for f in params.txt paramsdone.txt stdout.txt stderr.txt status.txt; do
    if [ -f "$work/$f" ]; then cp "$work/$f" "$exp/$f"; else rm -f "$exp/$f"; fi
  done
  echo "updated $exp"
  exit 0
fi

fail=0
for f in params.txt paramsdone.txt stdout.txt stderr.txt status.txt; do
  if [ -f "$exp/$f" ]; then
    if [ ! -f "$work/$f" ]; then
      echo "FAIL: $f was not written ($work)"; fail=1
    elif ! cmp -s "$exp/$f" "$work/$f"; then
      echo "FAIL: $f differs from $exp/$f"
      diff -u "$exp/$f" "$work/$f" | head -n 40 || true
      fail=1
    fi
  fi
done
if [ -f "$exp/absent" ]; then
  while read -r f; do
    [ -z "$f" ] && continue
    if [ -e "$work/$f" ]; then echo "FAIL: $f must not exist"; fail=1; fi
  done < "$exp/absent"
fi
exit $fail
