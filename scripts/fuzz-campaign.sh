#!/usr/bin/env bash
# Builds the fuzz build (clang, libFuzzer, ASan and UBSan) and runs every
# fuzz target, several at once, each until it has run the wanted number of
# inputs or its time is up. Prints per target the executions reached and
# the result: "none", or the finding (crash, leak, time-out, out of memory)
# with the input that shows it.
#
#   scripts/fuzz-campaign.sh [-s SECONDS] [-r RUNS] [-j JOBS] [TARGET...]
#     -s  seconds per target (default 3600)
#     -r  executions per target (default 10000000)
#     -j  targets run at once (default: the number of cores)
#     TARGET  names like fuzz_per_decoder (default: all of tests/fuzz)
# Corpora grow in build/fuzz/campaign/<target>, findings are written to
# build/fuzz/campaign/findings/<target>/, logs to build/fuzz/campaign/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
# A report of undefined behaviour is a finding too.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

seconds=3600
runs=10000000
jobs=$(nproc)
while getopts "s:r:j:h" opt; do
  case $opt in
    s) seconds=$OPTARG ;;
    r) runs=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) sed -n '2,16p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(ls tests/fuzz/fuzz_*.cpp | xargs -n1 basename | sed 's/\.cpp$//')
fi

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DTSD_FUZZ=ON >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target "${targets[@]}"

out=build/fuzz/campaign
mkdir -p "$out/logs"

# One target: its own corpus folder first (new inputs go there), then the
# seeds; the input size limit comes from the target's "fuzz-max-len" line.
# Findings go to the target's findings folder by absolute path: the daemon's
# configuration check changes the working directory.
run_target() {
  local t=$1 seconds=$2 runs=$3 out=$4
  local maxlen
  maxlen=$(sed -n 's|^// fuzz-max-len: *\([0-9]*\).*|\1|p' "tests/fuzz/$t.cpp" | head -1)
  mkdir -p "$out/$t" "$out/findings/$t"
  local seeds=()
  [ -d "tests/fuzz/corpus/$t" ] && seeds=("$PWD/tests/fuzz/corpus/$t")
  (cd "$out/findings/$t" &&
    "$OLDPWD/build/fuzz/tests/fuzz/$t" -max_total_time="$seconds" -runs="$runs" -max_len="${maxlen:-8192}" \
      -rss_limit_mb=2048 -timeout=25 -print_final_stats=1 -artifact_prefix="$PWD/" "$OLDPWD/$out/$t" "${seeds[@]}" \
      >"$OLDPWD/$out/logs/$t.log" 2>&1) || true
}
export -f run_target

printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target "$@"' _ {} "$seconds" "$runs" "$out"

printf '%-26s %14s  %s\n' target executions result
status=0
for t in "${targets[@]}"; do
  log=$out/logs/$t.log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$execs" ] || execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
  finding=$(ls "$out/findings/$t" 2>/dev/null | head -1)
  if [ -n "$finding" ]; then
    kind=$(grep -oE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer): [a-z -]+' "$log" | head -1)
    [ -n "$kind" ] || kind=$(grep -oE 'runtime error: .*' "$log" | head -1)
    result="finding: ${kind:-see log} ($out/findings/$t/$finding)"
    status=1
  elif ! grep -q '^Done [0-9]* runs' "$log"; then
    result="stopped early: see $log"
    status=1
  else
    result=none
  fi
  printf '%-26s %14s  %s\n' "$t" "${execs:-0}" "$result"
done
exit $status
