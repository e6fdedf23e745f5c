#!/usr/bin/env bash
# Which tests add coverage of their own: runs each ctest test whose name
# matches a pattern alone, with its own profile folder, and takes the set of
# src/ and tools/ lines and branches it covers (llvm-cov lcov export: DA lines
# hit, BRDA branch directions taken). The tests that do not match run once
# together as "the rest". A test whose set lies inside the union of the rest
# and of the other matched tests adds nothing the suite does not already reach:
# a candidate for deletion or for folding into a table with its neighbours
# (read its assertions first; coverage is necessary, not sufficient).
#   scripts/coverage.sh                      builds build-coverage first
#   scripts/coverage-per-test.sh 'Mqtt|^vbs\.'
# Results in build-coverage/per-test/: report.txt, one <n>.set per test.
# CORVANE_REST_REUSE=1 keeps an earlier rest.set (the rest did not change);
# CORVANE_REST=none leaves the rest out: a candidate is then covered by the
# other matched tests alone (stricter, and quick for one folder).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
pattern=${1:?usage: coverage-per-test.sh <regex of ctest names>}
build=${CORVANE_COVERAGE_BUILD:-build-coverage}
out="$top/$build/per-test"
mkdir -p "$out"

objects=()
for f in "$build"/bin/* $(find "$build" -name '*.so'); do
  [ -f "$f" ] && head -c 4 "$f" | grep -q ELF || continue
  objects+=("-object" "$f")
done

# covered <profile folder> <set file> [<all file>]: merged profile -> sorted
# set of the lines and branch directions reached (and of all there are).
covered() {
  local dir=$1 set=$2 all=${3:-/dev/null}
  if ! ls "$dir"/*.profraw >/dev/null 2>&1; then : > "$set"; return; fi
  llvm-profdata-14 merge -sparse -o "$dir/p.profdata" "$dir"/*.profraw
  llvm-cov-14 export -format=lcov -instr-profile="$dir/p.profdata" "${objects[@]:1}" \
    "$top/src" "$top/tools" |
    awk -F'[:,]' -v all="$all" '
      /^SF:/ { p = substr($0, 4); f = ""
               if (p ~ /\/(src|tools)\//) { f = p; sub(".*/(src|tools)/", "", f); f = (p ~ /\/tools\// ? "tools/" : "src/") f } }
      f != "" && /^DA:/ { e = f ":" $2; print e > all; if ($3 > 0) print e }
      f != "" && /^BRDA:/ { e = f ":" $2 ":b" $3 ":" $4; print e > all; if ($5 != "-" && $5 > 0) print e }' |
    sort -u > "$set"
  [ "$all" = /dev/null ] || sort -u -o "$all" "$all"
  rm -f "$dir"/*.profraw "$dir/p.profdata"
}

# ctest -N numbers every test (the numbers only name the result files: they
# shift when a test program is rebuilt); -R with the escaped name runs one.
(cd "$build" && ctest -N) | sed -n 's/^ *Test *#\([0-9]*\): \(.*\)$/\1 \2/p' > "$out/all.txt"
awk -v p="$pattern" '$2 ~ p' "$out/all.txt" > "$out/mine.txt"
[ -s "$out/mine.txt" ] || { echo "no test matches $pattern"; exit 1; }
echo "$(wc -l < "$out/mine.txt") tests match; the other $(( $(wc -l < "$out/all.txt") - $(wc -l < "$out/mine.txt") )) run as the rest"

if [ "${CORVANE_REST:-run}" = "none" ]; then
  : > "$out/rest.set"
elif [ "${CORVANE_REST_REUSE:-0}" != "1" ] || [ ! -f "$out/rest.set" ]; then
  rm -rf "$out/rest" && mkdir -p "$out/rest"
  (cd "$build" && LLVM_PROFILE_FILE="$out/rest/%p-%m.profraw" \
    ctest -j "${CORVANE_COVERAGE_JOBS:-2}" -E "$pattern" >/dev/null) || echo "rest: some tests failed"
  covered "$out/rest" "$out/rest.set" "$out/all.set"
fi

while read -r n name; do
  rm -rf "$out/$n" && mkdir -p "$out/$n"
  exact="^$(printf '%s' "$name" | sed 's/[][\\.*^$+?(){}|]/\\&/g')\$"
  (cd "$build" && LLVM_PROFILE_FILE="$out/$n/%p-%m.profraw" ctest -R "$exact" >/dev/null) ||
    echo "test $name failed"
  covered "$out/$n" "$out/$n.set" "$out/$n.all"
done < "$out/mine.txt"

# Per element: how many matched tests reach it, and whether the rest does.
# A test is a candidate when each of its elements is reached by the rest or by
# another matched test; else it reports how many it alone reaches.
awk -v out="$out" '
  FILENAME == out "/rest.set" { rest[$0] = 1; next }
  FILENAME == out "/mine.txt" { name[$1] = $2; order[++k] = $1; next }
  { n = FILENAME; sub(".*/", "", n); sub("\\.set$", "", n); has[n, $0] = 1; seen[$0]++; elems[n] = elems[n] " " $0 }
  END {
    for (i = 1; i <= k; i++) {
      t = order[i]; own = 0; total = split(elems[t], list, " ")
      for (j = 1; j <= total; j++) if (!(list[j] in rest) && seen[list[j]] < 2) own++
      if (own == 0) printf "subset  %-60s %6d covered, none of its own\n", name[t], total
      else printf "own     %-60s %6d covered, %d of its own\n", name[t], total, own
    }
  }' "$out/rest.set" "$out/mine.txt" $(awk -v o="$out" '{ print o "/" $1 ".set" }' "$out/mine.txt") |
  sort > "$out/report.txt"
cat "$out/report.txt"

# With the rest run: the suite's totals (the rest and the matched tests),
# overall and per folder of src/ and tools/, to compare before and after a
# change of the matched tests (the same rest run on both sides, so the
# timing of the other tests cannot move the figures).
if [ -s "$out/rest.set" ]; then
  cat "$out/rest.set" $(awk -v o="$out" '{ print o "/" $1 ".set" }' "$out/mine.txt") |
    sort -u > "$out/union.set"
  for f in "$out/all.set" $(awk -v o="$out" '{ print o "/" $1 ".all" }' "$out/mine.txt"); do
    if [ -f "$f" ]; then cat "$f"; fi
  done | sort -u > "$out/universe.set"
  awk -v out="$out" '
    function folder(e,  p) { split(e, p, "/"); return p[1] "/" p[2] }
    function kind(e) { return e ~ /:b[0-9]+:/ ? "branches" : "lines" }
    FILENAME == out "/universe.set" { k = kind($0); all[k]++; fa[folder($0), k]++; fs[folder($0)] = 1; next }
    { k = kind($0); hit[k]++; fh[folder($0), k]++ }
    END {
      printf "total: lines %.2f%% (%d of %d), branches %.2f%% (%d of %d)\n",
        100 * hit["lines"] / all["lines"], hit["lines"], all["lines"],
        100 * hit["branches"] / all["branches"], hit["branches"], all["branches"]
      for (f in fs) if (fa[f, "lines"])
        printf "%-22s lines %6.2f%% (%d of %d), branches %6.2f%% (%d of %d)\n", f,
          100 * fh[f, "lines"] / fa[f, "lines"], fh[f, "lines"], fa[f, "lines"],
          fa[f, "branches"] ? 100 * fh[f, "branches"] / fa[f, "branches"] : 100, fh[f, "branches"], fa[f, "branches"]
    }' "$out/universe.set" "$out/union.set" | sort > "$out/totals.txt"
  cat "$out/totals.txt"
fi
