#!/usr/bin/env bash
# Builds a small program against the library as another project would: once
# embedding the sources with add_subdirectory, once with find_package against
# an installed copy. The embedding project sets no build type and compiles at
# -O3 with -Wall -Wextra, warnings not errors; it must get the library alone,
# its own settings untouched. The installed copy must hold only the public
# headers, each usable on its own, under export names that match the aliases.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jobs=$(nproc)

fail() {
  echo "consumer check: $*" >&2
  exit 1
}

mkdir -p "$work/app"
cat > "$work/app/main.cpp" <<'CPP'
#include <cstring>

#include <zeb/zeb.h>
int main() {
  char line[32];
  int32_t v = 42;
  int16_t n = UTIL_FORMAT(zeb::mask({1, 2, 3, 4}), "n=\\d\\", line, sizeof line, &v);
  if (n != 4 || std::memcmp(line, "n=42", 4) != 0) return 1;
  return static_cast<uint32_t>(UTIL_CRC32(0, "123456789", 9)) == 0xCBF43926u ? 0 : 1;
}
CPP
cat > "$work/app/msg.cpp" <<'CPP'
#include <zeb/msg/msg.h>
int main() {
  unsigned char m[64];
  MSG_INIT(m);
  return MSG_VERIFY(m);
}
CPP
cat > "$work/app/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(app CXX)
add_compile_options(-O3 -Wall -Wextra)
if(USE_INSTALLED)
  find_package(zeb REQUIRED)
else()
  add_subdirectory($src zeb)
endif()
add_executable(app main.cpp)
target_link_libraries(app PRIVATE zeb::zeb)
add_executable(app_msg msg.cpp)
target_link_libraries(app_msg PRIVATE zeb::msg)
CMAKE

echo "-- add_subdirectory"
cmake -S "$work/app" -B "$work/sub" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$work/sub" -j"$jobs" >"$work/sub.log" 2>&1 || { cat "$work/sub.log"; fail "embedded build failed"; }
grep 'warning:' "$work/sub.log" || true
"$work/sub/app" || fail "app (add_subdirectory) failed"
"$work/sub/app_msg" || fail "app_msg (add_subdirectory) failed"
grep -q '^CMAKE_BUILD_TYPE:STRING=$' "$work/sub/CMakeCache.txt" ||
  fail "the embedding project's build type was set: $(grep '^CMAKE_BUILD_TYPE' "$work/sub/CMakeCache.txt")"
! grep -q -- '-Werror' "$work/sub/compile_commands.json" || fail "warnings are errors in an embedding project"
grep -q -- '-O3' "$work/sub/compile_commands.json" || fail "the embedding project's flags did not reach the library"
# The embedding project sees the public headers only: the source tree, where
# the internal headers live, is not on its include path.
! grep 'app.dir/main.cpp.o' "$work/sub/compile_commands.json" | grep -q -- "-I$src[ \"]" ||
  fail "the source tree is on the embedding project's include path"
built=$(find "$work/sub" -type f -perm -u+x ! -path '*/CMakeFiles/*' -printf '%f\n' | sort | tr '\n' ' ')
[ "$built" = "app app_msg " ] || fail "an embedding project built more than its own programs: $built"
targets=$(cmake --build "$work/sub" --target help | grep -E 'vorn|lconf|sim6530|_test|_replay|_bench|_fuzzer' || true)
[ -z "$targets" ] || fail "an embedding project was given targets it did not ask for: $targets"

echo "-- cmake --install and find_package"
cmake -S "$src" -B "$work/lib" -DZEB_BUILD_TESTS=OFF -DZEB_BUILD_BENCH=OFF -DZEB_WERROR=ON >/dev/null
cmake --build "$work/lib" -j"$jobs" >/dev/null
cmake --install "$work/lib" --prefix "$work/prefix" >/dev/null
inc="$work/prefix/include"
for internal in platform/host platform/files platform/volumes platform/names \
  platform/processes platform/system platform/ipc format/format_internal.h survey; do
  [ ! -e "$inc/zeb/$internal" ] || fail "internal $internal installed"
done
! find "$inc/zeb" -name '*_test*' | grep -q . || fail "test sources installed"
# Every installed header compiles on its own against the installed tree alone
# (from an empty directory, so that nothing of the source tree is found).
mkdir "$work/empty"
while IFS= read -r header; do
  name=${header#"$inc"/}
  (cd "$work/empty" && echo "#include <$name>" |
    c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$inc" -x c++ -) ||
    fail "installed header $name does not compile on its own"
done < <(find "$inc/zeb" -name '*.h')
exports=$(cat "$work"/prefix/lib*/cmake/zeb/zebTargets*.cmake)
! grep -q 'zeb::zeb_' <<<"$exports" || fail "exported names differ from the aliases"
cmake -S "$work/app" -B "$work/inst" -DUSE_INSTALLED=ON -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/inst" -j"$jobs" >/dev/null
"$work/inst/app" || fail "app (find_package) failed"
"$work/inst/app_msg" || fail "app_msg (find_package) failed"
echo "consumer builds: add_subdirectory and find_package both work"
