#!/bin/sh
# Installs the build tree into a temporary prefix, builds the README's size.c
# against it with CMake (find_package(solsys)) and with pkg-config, and runs
# both builds on a small picture; then the README's first picture example, on a
# PNG the installed pictool makes.
# With --alone, DIR is the source folder: the libraries and pictool alone are
# configured from it (no viewer, tests, benchmarks or fuzz targets) with every
# graphics and test package hidden from CMake, built, and installed instead.
# Usage: install_test.sh [--alone] DIR README GENERATOR C_COMPILER CXX_COMPILER [FLAGS]
set -eu
alone=""
[ "$1" = --alone ] && { alone=1; shift; }
build=$1 readme=$2 generator=$3 cc=$4 cxx=$5 flags=${6:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/solsys-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

run_logged() {  # LOG COMMAND...: the log is shown only when the command fails
  log=$1; shift
  "$@" >"$log" 2>&1 || { cat "$log"; exit 1; }
}

if [ -n "$alone" ]; then
  # A REQUIRED lookup of a hidden package stops the configure.
  hidden=""
  for package in OpenGL GLUT X11 GTest benchmark GIF; do
    hidden="$hidden -DCMAKE_DISABLE_FIND_PACKAGE_$package=ON"
  done
  # Debug: -O0 compiles fastest, and only the install is under test.
  run_logged "$work/alone.log" cmake -S "$build" -B "$work/build" -G "$generator" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DSOLSYS_BUILD_VIEWER=OFF -DBUILD_TESTING=OFF \
    -DSOLSYS_BUILD_BENCH=OFF -DSOLSYS_BUILD_FUZZ=OFF $hidden
  run_logged "$work/alone.log" cmake --build "$work/build" --parallel "$(nproc)" --target picture nrutil pictool
  build=$work/build
  echo "Library alone: configured without graphics or test packages, built"
fi

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
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; exit 1; }
cmake --build "$work/example/build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }
check "$work/example/build/size"
echo "CMake package: size.c built and ran"

# The README's pkg-config line, with this prefix and compiler.
line=$(readme_block pkg-config | sed "s|~/solsys|$prefix|g; s|^cc |$cc $flags |")
(cd "$work/example" && eval "$line" -Werror -Wall -pedantic)
check "$work/example/size"
echo "pkg-config: size.c built and ran"

# The first picture example as the body of main, run where photo.png is.
mkdir "$work/photo"
{
  readme_block photo.c | grep '^#'
  printf '#include <stdlib.h>\nint main(void) {\n'
  readme_block photo.c | grep -v '^#'
  printf 'return 0;\n}\n'
} >"$work/photo/photo.c"
(cd "$work/photo" && $cc $flags photo.c -Werror -Wall -pedantic -o photo \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs solsys-picture))
"$prefix/bin/pictool" convert "$work/picture.zot" "$work/photo/photo.png"
(cd "$work/photo" && ./photo)
[ -f "$work/photo/photo.tga" ] || { echo "The first picture example saved no photo.tga from photo.png"; exit 1; }
output=$("$work/example/size" "$work/photo/photo.tga")
[ "$output" = "3 x 2" ] || { echo "photo.tga: size printed '$output', expected '3 x 2'"; exit 1; }
echo "First picture example: photo.png saved as photo.tga by the installed library"
