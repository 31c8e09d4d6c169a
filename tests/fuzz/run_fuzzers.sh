#!/usr/bin/env bash
# Runs the fuzz targets one after another: each first replays its committed
# seed corpus (tests/fuzz/corpus/<name>) and its working corpus, then fuzzes
# for the given number of seconds. Any crash, sanitizer report, broken
# invariant, timeout or leak fails the run; the input is kept as
# <build>/fuzz/artifacts/<name>-*.
#
#   tests/fuzz/run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]
#
# Targets are named without the _fuzz suffix; without any, all run. One line
# per target reports executions, coverage (cov/ft of libFuzzer's last status
# line) and the size of the working corpus.
set -euo pipefail
cd "$(dirname "$0")/../.."

build_dir=${1:?usage: run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]}
seconds=${2:?usage: run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(options wav_reader pcm_file pcm_pipe command_loop enroll_db segment_list
           helper_response utf8_punct split_text key_combo scan_args)
fi

fuzz_dir="$build_dir/fuzz"
mkdir -p "$fuzz_dir/artifacts" "$fuzz_dir/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

failed=()
for name in "${targets[@]}"; do
  binary="$fuzz_dir/${name}_fuzz"
  seeds="tests/fuzz/corpus/$name"
  work="$fuzz_dir/work/$name"
  log="$fuzz_dir/logs/$name.log"
  if [ ! -x "$binary" ] || [ ! -d "$seeds" ]; then
    echo "fuzz: $name: missing $binary or $seeds" >&2
    failed+=("$name")
    continue
  fi
  mkdir -p "$work"
  # New inputs go to the first directory only, so the seeds stay as committed.
  if "$binary" "$work" "$seeds" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$fuzz_dir/artifacts/$name-" >"$log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed+=("$name")
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" 2>/dev/null | tail -n 1 || true)
  coverage=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" 2>/dev/null | tail -n 1 || true)
  corpus=$(find "$work" -type f 2>/dev/null | wc -l)
  echo "fuzz: $name $status runs=${runs:-?} ${coverage:-cov: ?} corpus=$corpus time=${seconds}s"
  if [ "$status" != ok ]; then
    grep -E 'ERROR|invariant failed|runtime error|SUMMARY|Test unit written' "$log" | head -n 20 >&2 || true
  fi
done

if ((${#failed[@]})); then
  echo "fuzz: findings in: ${failed[*]} (logs in $fuzz_dir/logs, inputs in $fuzz_dir/artifacts)" >&2
  exit 1
fi
