#!/usr/bin/env bash
# Builds the picture benchmark if needed, runs it and prints its tables:
#   bench/run.sh            2048 x 2048 and 4096 x 4096 pictures (about 15 minutes)
#   bench/run.sh --quick    2048 x 2048 only (about 5 minutes)
# Other arguments go to the benchmark (for example --benchmark_filter=jpeg);
# SOLSYS_BENCH_KEEP=1 keeps the scratch folder of files it wrote.
# The build folder is build/ (SOLSYS_BENCH_BUILD names another); the full
# measurements are kept as JSON in its bench/picture_bench.json.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SOLSYS_BENCH_BUILD:-$root/build}

"$root/tools/install-deps.sh"
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target picture_bench >/dev/null

# Progress lines go to standard error, the tables to standard output. The
# files of other writers come from ImageMagick (convert-im6.q16), installed
# with the other packages.
exec "$build/bench/picture_bench" --benchmark_min_time=0.1 --benchmark_min_warmup_time=0.05 --benchmark_repetitions=3 \
  --benchmark_out="$build/bench/picture_bench.json" --benchmark_out_format=json "$@"
