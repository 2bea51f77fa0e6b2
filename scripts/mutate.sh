#!/usr/bin/env bash
# Mutation check: puts each one-line fault of tests/mutation/faults.tsv into a scratch copy of
# the tree, one at a time, rebuilds it incrementally and runs the suite. A fault is killed when
# a test fails, survives when all pass. Prints one line per fault and the score.
#
#   scripts/mutate.sh [regex]        only the rows that match the (bash) regular expression
#   MUTATE_FAULTS=list.tsv scripts/mutate.sh   another list of the same form
#   MUTATE_CTEST_ARGS='-R Jig|LineStore' scripts/mutate.sh jig   a quick look with part of the
#       suite (split at spaces, no quotes inside); a survivor there is only a candidate until
#       the whole suite has run on it
#
# The copy lives in build/mutation/ (the working tree is never changed); the first run builds
# it in full, later runs rebuild only what a fault touches. Slow: not part of CI.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
faults="$top/build/mutation/faults.tsv"  # a copy: the list may be edited during a run
scratch="$top/build/mutation/src"
pattern="${1:-}"
build_timeout="${MUTATE_BUILD_TIMEOUT:-1800}"
test_timeout="${MUTATE_TEST_TIMEOUT:-600}"
export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$top")}"
export CCACHE_NOHASHDIR=1

# Bring the copy up to the tree as it is now (committed or not), keeping its build: a file
# whose content changed gets a fresh time stamp, so it is rebuilt whatever the copy built last.
mkdir -p "$scratch"
(cd "$top" && git ls-files -co --exclude-standard -z) | python3 -c '
import os, shutil, sys
top, scratch = sys.argv[1], sys.argv[2]
wanted = {p for p in sys.stdin.read().split("\0") if p and not p.startswith("build/")}
for p in sorted(wanted):
    src, dst = os.path.join(top, p), os.path.join(scratch, p)
    if not os.path.isfile(src):
        continue
    with open(src, "rb") as f:
        data = f.read()
    if os.path.isfile(dst):
        with open(dst, "rb") as f:
            if f.read() == data:
                continue
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    with open(dst, "wb") as f:
        f.write(data)
    shutil.copymode(src, dst)
for root, dirs, files in os.walk(scratch):
    rel = os.path.relpath(root, scratch)
    if rel == "build" or rel.startswith("build" + os.sep):
        dirs[:] = []
        continue
    for name in files:
        p = os.path.normpath(os.path.join(rel, name))
        if p not in wanted:
            os.remove(os.path.join(root, name))
' "$top" "$scratch" || exit 1
cp "${MUTATE_FAULTS:-$top/tests/mutation/faults.tsv}" "$faults" || exit 1

restore() {
  # A fresh time stamp, so the next build recompiles the restored file.
  if [ -n "${saved:-}" ] && [ -f "$saved" ]; then cp "$saved" "$scratch/$file" && rm -f "$saved"; fi
  saved=""
}
trap 'restore; echo "interrupted: the scratch copy is restored"; exit 130' INT TERM
trap restore EXIT

cd "$scratch" || exit 1
cmake --preset dev >/dev/null || exit 1
echo "building the unchanged copy..."
cmake --build --preset dev >/dev/null 2>&1 || { echo "the unchanged tree does not build"; exit 1; }
log="$top/build/mutation/baseline.log"
# shellcheck disable=SC2086
if ! ctest --preset dev -j2 ${MUTATE_CTEST_ARGS:-} >"$log" 2>&1; then
  echo "the unchanged tree fails its tests (see $log):"
  sed -n '/tests FAILED:/,$p' "$log"
  exit 1
fi

killed=0 survived=0 broken=0 row=0
while IFS=$'\t' read -r file original replacement description; do
  case "$file" in '#'* | '') continue ;; esac
  row=$((row + 1))
  [ -z "$pattern" ] || [[ "$file $original $description" =~ $pattern ]] || continue
  saved=$(mktemp)
  cp -p "$file" "$saved"
  if ! python3 - "$file" "$original" "$replacement" <<'PY'; then
import sys
path, old, new = sys.argv[1], sys.argv[2].replace("<NL>", "\n"), sys.argv[3].replace("<NL>", "\n")
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(1)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
    printf '%2d  %-9s %-32s %s\n' "$row" "NOT FOUND" "$file" "$description"
    broken=$((broken + 1))
    restore
    continue
  fi
  if ! timeout "$build_timeout" cmake --build --preset dev >/dev/null 2>&1; then
    verdict="NO BUILD"
    broken=$((broken + 1))
  # shellcheck disable=SC2086 # the extra arguments are split on purpose
  elif timeout "$test_timeout" ctest --preset dev -j2 --stop-on-failure --timeout 300 ${MUTATE_CTEST_ARGS:-} >/dev/null 2>&1; then
    verdict="SURVIVED"
    survived=$((survived + 1))
  else
    verdict="killed"
    killed=$((killed + 1))
  fi
  printf '%2d  %-9s %-32s %s\n' "$row" "$verdict" "$file" "$description"
  restore
done <"$faults"

# Leave the copy built as it is, so the next run starts incremental.
cmake --build --preset dev >/dev/null 2>&1
total=$((killed + survived))
[ "$total" -gt 0 ] || exit 1
echo "score: $killed of $total killed ($((100 * killed / total)) %); $broken not applied or not built"
# The suite's size beside its score, in non-blank C++ lines: the tests (tests/, their support
# and fuzz targets included) against all C++, and with the benchmark programs (bench/) added.
cxx_lines() { (cd "$top" && git ls-files -- "$@" | grep -E '\.(cpp|h)$' | xargs -r cat | grep -cv '^[[:space:]]*$'); }
tests=$(cxx_lines tests) bench=$(cxx_lines bench) all=$(cxx_lines .)
echo "test code: $tests of $all C++ lines ($((100 * tests / all)) %);" \
  "with the benchmarks $((tests + bench)) ($((100 * (tests + bench) / all)) %)"
