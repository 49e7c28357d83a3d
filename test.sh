#!/usr/bin/env bash
# Builds everything twice (plain, and with AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test in both trees, and the threads test a third time built with
# ThreadSanitizer (build-tsan: the library and that test only). The last lines are
# CTest's summary of the plain tree.
set -uo pipefail
cd "$(dirname "$0")"

./tools/install-deps.sh || exit 1

jobs=$(nproc)
configure() { # dir, extra cmake arguments
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null || return 1
  fi
}

configure build || exit 1
configure build-asan -DSOLSYS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug || exit 1
configure build-tsan -DSOLSYS_THREAD_SANITIZE=ON -DSOLSYS_BUILD_BENCH=OFF -DSOLSYS_BUILD_FUZZ=OFF || exit 1
cmake --build build -j "$jobs" || exit 1
cmake --build build-asan -j "$jobs" || exit 1
cmake --build build-tsan -j "$jobs" --target threads_test || exit 1

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:${ASAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

echo "== threads test with ThreadSanitizer (build-tsan) =="
TSAN_OPTIONS="halt_on_error=1:${TSAN_OPTIONS:-}" build-tsan/tests/threads_test
tsan_status=$?

echo "== sanitized build (build-asan) =="
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600
asan_status=$?

echo "== plain build (build) =="
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600
plain_status=$?

[ $tsan_status -eq 0 ] || echo "The threads test under ThreadSanitizer failed (see above)."
[ $asan_status -eq 0 ] || echo "The sanitized build had failures (see above)."
[ $tsan_status -eq 0 ] && [ $asan_status -eq 0 ] && [ $plain_status -eq 0 ]
