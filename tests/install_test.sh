#!/bin/sh
# Installs the build tree into a temporary prefix, builds the README's size.c
# against it with CMake (find_package(solsys)) and with pkg-config, and runs
# both builds on a small picture.
# Usage: install_test.sh BUILD_DIR README GENERATOR C_COMPILER CXX_COMPILER [FLAGS]
set -eu
build=$1 readme=$2 generator=$3 cc=$4 cxx=$5 flags=${6:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/solsys-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

# The fenced block after "<!-- install_test: NAME -->" in the README.
readme_block() {
  awk -v marker="<!-- install_test: $1 -->" '
    $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```/ { exit }
    found == 2 { print }' "$readme"
}

cmake --install "$build" --prefix "$prefix" >/dev/null
mkdir "$work/example"
readme_block size.c >"$work/example/size.c"
readme_block CMakeLists.txt >"$work/example/CMakeLists.txt"
printf 'ZOTImage = IMAGE[\n0 = "255 0 0",\n1 = "0 0 255"]\n(3,2\n,0,1,0\n,1,0,1\n)\n' >"$work/picture.zot"

check() {  # PROGRAM: prints the picture's size, and refuses a missing file
  output=$("$1" "$work/picture.zot")
  [ "$output" = "3 x 2" ] || { echo "$1 printed '$output', expected '3 x 2'"; exit 1; }
  if "$1" "$work/missing.png" 2>/dev/null; then echo "$1 accepted a missing file"; exit 1; fi
}

cmake -S "$work/example" -B "$work/example/build" -G "$generator" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/cmake.log" || { cat "$work/cmake.log"; exit 1; }
cmake --build "$work/example/build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
check "$work/example/build/size"
echo "CMake package: size.c built and ran"

# The README's pkg-config line, with this prefix and compiler.
line=$(readme_block pkg-config | sed "s|~/solsys|$prefix|g; s|^cc |$cc $flags |")
(cd "$work/example" && eval "$line" -Werror -Wall -pedantic)
check "$work/example/size"
echo "pkg-config: size.c built and ran"
