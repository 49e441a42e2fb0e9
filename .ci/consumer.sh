#!/usr/bin/env bash
# Builds a small program against the library twice: once with
# add_subdirectory, once with find_package against an installed copy.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/app"
cat > "$work/app/main.cpp" <<'CPP'
#include "zeb.h"
int main() {
  int32_t a = 1, b = 2;
  return COMPARE(&a, &b) == -1 ? 0 : 1;
}
CPP
cat > "$work/app/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(app CXX)
set(CMAKE_CXX_STANDARD 20)
if(USE_INSTALLED)
  find_package(zeb REQUIRED)
else()
  add_subdirectory($src zeb)
endif()
add_executable(app main.cpp)
target_link_libraries(app PRIVATE zeb::zeb)
CMAKE

cmake -S "$work/app" -B "$work/sub" >/dev/null
cmake --build "$work/sub" -j"$(nproc)" >/dev/null
"$work/sub/app"
test ! -e "$work/sub/zeb/survey/survey_test" || { echo "tests built for a subproject" >&2; exit 1; }

cmake -S "$src" -B "$work/lib" -DZEB_BUILD_TESTS=OFF -DZEB_BUILD_BENCH=OFF -DZEB_INSTALL=ON >/dev/null
cmake --build "$work/lib" -j"$(nproc)" >/dev/null
cmake --install "$work/lib" --prefix "$work/prefix" >/dev/null
cmake -S "$work/app" -B "$work/inst" -DUSE_INSTALLED=ON -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/inst" -j"$(nproc)" >/dev/null
"$work/inst/app"
echo "consumer builds: add_subdirectory and find_package both work"
