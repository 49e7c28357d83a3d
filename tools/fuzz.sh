#!/usr/bin/env bash
# Builds the libFuzzer tree (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# in build-fuzz and runs every fuzz target for SECONDS each (default 60), one at
# a time, then prints per target: executions, coverage (cov: and ft: of
# libFuzzer's last report) and seconds. Corpora live in build-fuzz/corpus/TARGET
# (outside git), seeded from tests/data and from small pictures that pictool
# writes in every format; crashing, leaking or slow inputs land in
# build-fuzz/crashes/TARGET. Usage: tools/fuzz.sh [SECONDS] [TARGET...]
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift $(( $# > 0 ? 1 : 0 ))
dir=build-fuzz
all_targets="picture_fuzz faults_fuzz save_faults_fuzz roundtrip_fuzz bmp_fuzz pcx_fuzz gif_fuzz tiff_fuzz
  sunraster_fuzz sgi_fuzz jpeg_fuzz zot_fuzz targa_fuzz pnm_fuzz png_fuzz"
targets=${*:-$all_targets}

if [ ! -f "$dir/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DSOLSYS_LIBFUZZER=ON -DSOLSYS_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi
# shellcheck disable=SC2086
cmake --build "$dir" -j2 --target pictool $targets >/dev/null || exit 1

# Seeds: a small picture in every format the library writes, plain and run-length.
seeds=$dir/seeds
mkdir -p "$seeds"
if [ ! -f "$seeds/done" ]; then
  { printf 'P6\n13 7\n255\n'; head -c $((13 * 7 * 3)) /dev/urandom; } > "$seeds/source.ppm"
  { printf 'P5\n9 5\n255\n'; head -c 45 /dev/urandom; } > "$seeds/grey.pgm"
  for ext in bmp pcx gif tif ras sgi jpg zot tga ppm pgm pbm png; do
    for source in source.ppm grey.pgm; do
      for compression in none rle; do
        "$dir/tools/pictool" convert "$seeds/$source" "$seeds/${source%.*}-$compression.$ext" \
          --compression $compression --quiet >/dev/null 2>&1
      done
    done
  done
  touch "$seeds/done"
fi

format_of() { # target -> its folder under tests/data and its dictionary, or empty for all
  local name=${1%_fuzz}
  case $name in picture|faults|save_faults|roundtrip) echo "" ;; *) echo "$name" ;; esac
}
seed_extensions() {
  case $1 in
    bmp) echo bmp ;; pcx) echo pcx ;; gif) echo gif ;; tiff) echo tif ;; sunraster) echo ras ;;
    sgi) echo sgi ;; jpeg) echo jpg ;; zot) echo zot ;; targa) echo tga ;; pnm) echo "ppm pgm pbm" ;;
    png) echo png ;;
  esac
}

cat fuzz/dict/*.dict > "$dir/all.dict"
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

results=()
for target in $targets; do
  format=$(format_of "$target")
  corpus=$dir/corpus/$target crashes=$dir/crashes/$target log=$dir/logs/$target.log
  mkdir -p "$corpus" "$crashes" "$dir/logs"
  if [ -n "$format" ]; then
    [ -d "tests/data/$format" ] && cp -n tests/data/"$format"/* "$corpus"/ 2>/dev/null
    for ext in $(seed_extensions "$format"); do cp -n "$seeds"/*."$ext" "$corpus"/ 2>/dev/null; done
    dict=fuzz/dict/$format.dict
  else
    find tests/data -type f -exec cp -n {} "$corpus"/ \; 2>/dev/null
    cp -n "$seeds"/*-*.* "$corpus"/ 2>/dev/null
    dict=$dir/all.dict
  fi
  echo "== $target: $seconds s" >&2
  start=$(date +%s)
  "$dir/fuzz/$target" "$corpus" -dict="$dict" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" >"$log" 2>&1
  status=$?
  elapsed=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  found=$(find "$crashes" -type f | wc -l)
  [ $status -ne 0 ] && echo "   $target stopped with status $status; see $log" >&2
  results+=("$(printf '%-16s %12s %8s %8s %7s %8s' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" \
    "$elapsed" "$found")")
done

printf '%-16s %12s %8s %8s %7s %8s\n' target executions cov ft seconds findings
printf '%s\n' "${results[@]}"
