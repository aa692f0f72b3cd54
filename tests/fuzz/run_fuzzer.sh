#!/usr/bin/env bash
# Runs one fuzzer for a bounded time.
#
#   run_fuzzer.sh FUZZER SEEDS WORK SECONDS [LIBFUZZER-FLAG...]
#
# FUZZER starts from the committed seeds in SEEDS (read only) and from the
# corpus it grew in earlier runs, WORK/corpus, where new inputs go. A
# crashing input is written to WORK/artifacts/. The run ends after SECONDS,
# or at the first failure, with the fuzzer's exit code (0: nothing found).
set -euo pipefail
fuzzer=${1:?usage: run_fuzzer.sh FUZZER SEEDS WORK SECONDS [FLAG...]}
seeds=${2:?usage: run_fuzzer.sh FUZZER SEEDS WORK SECONDS [FLAG...]}
work=${3:?usage: run_fuzzer.sh FUZZER SEEDS WORK SECONDS [FLAG...]}
seconds=${4:?usage: run_fuzzer.sh FUZZER SEEDS WORK SECONDS [FLAG...]}
shift 4
mkdir -p "$work/corpus" "$work/artifacts"
# The fuzzer's own time limit, plus a hard one for a run that hangs on the
# way out; -timeout bounds one input, -rss_limit_mb the memory.
exec timeout --kill-after=10 $((seconds + 60)) "$fuzzer" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$@" "$work/corpus" "$seeds"
