#!/usr/bin/env bash
# Builds a small program against the library as another project would:
# embedding the sources with add_subdirectory; with find_package against an
# installed static package; with find_package against an installed shared
# package, run with the shared library alone; and with pkg-config from a
# plain Makefile against each installed package. The embedding project sets
# no build type and compiles at -O3 with -Wall -Wextra, warnings not errors;
# it must get the library alone, its own settings untouched. An installed
# copy must hold only the public headers, each usable on its own, under
# export names that match the aliases. The library is configured with tests
# and benchmarks off and GoogleTest, Google Benchmark, OpenSSL, zlib and fmt
# out of reach: it needs the compiler, CMake and SQLite alone. The shared
# libzeb must carry its SONAME and export exactly the procedures the public
# headers declare.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
jobs=$(nproc)

# Under pipefail a "producer | grep -q" can fail on a match: grep leaves at
# the first line and the producer dies of SIGPIPE. Matches here read all
# their input (grep >/dev/null) or test a captured string.
fail() {
  echo "consumer check: $*" >&2
  exit 1
}

# The other project's sources: .ci/consumer/.
app="$src/.ci/consumer"

echo "-- add_subdirectory"
cmake -S "$app" -B "$work/sub" -DZEB_SOURCE_DIR="$src" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
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
! grep 'app.dir/main.cpp.o' "$work/sub/compile_commands.json" | grep -- "-I$src[ \"]" >/dev/null ||
  fail "the source tree is on the embedding project's include path"
built=$(find "$work/sub" -type f -perm -u+x ! -path '*/CMakeFiles/*' -printf '%f\n' | sort | tr '\n' ' ')
[ "$built" = "app app_msg " ] || fail "an embedding project built more than its own programs: $built"
targets=$(cmake --build "$work/sub" --target help | grep -E 'vorn|lconf|sim6530|_test|_replay|_bench|_fuzzer' || true)
[ -z "$targets" ] || fail "an embedding project was given targets it did not ask for: $targets"

# The packages a library build must not need.
hidden=()
for package in GTest benchmark OpenSSL ZLIB fmt; do
  hidden+=("-DCMAKE_DISABLE_FIND_PACKAGE_$package=ON")
done

# pkg_config_build <prefix> <name>: builds the plain Makefile's program
# against the package installed at prefix, in $work/<name>, and runs it.
pkg_config_build() {
  local dir="$work/$2"
  mkdir -p "$dir"
  PKG_CONFIG_PATH=$(echo "$1"/lib*/pkgconfig) make -C "$dir" -f "$app/Makefile" >"$dir.log" 2>&1 ||
    { cat "$dir.log"; fail "pkg-config build ($2) failed"; }
  "$dir/app" || fail "app (pkg-config, $2) failed"
}

echo "-- cmake --install and find_package: the static libraries"
cmake -S "$src" -B "$work/lib" -DZEB_BUILD_TESTS=OFF -DZEB_BUILD_BENCH=OFF -DZEB_FUZZ=OFF -DZEB_WERROR=ON \
  --no-warn-unused-cli "${hidden[@]}" >/dev/null
echo "configured with GoogleTest, Google Benchmark, OpenSSL, zlib and fmt out of reach"
cmake --build "$work/lib" -j"$jobs" >/dev/null
cmake --install "$work/lib" --prefix "$work/prefix" >/dev/null
inc="$work/prefix/include"
for internal in platform/host platform/files platform/volumes platform/names \
  platform/processes platform/system platform/ipc format/format_internal.h survey; do
  [ ! -e "$inc/zeb/$internal" ] || fail "internal $internal installed"
done
! find "$inc/zeb" -name '*_test*' | grep . >/dev/null || fail "test sources installed"
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
cmake -S "$app" -B "$work/inst" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/inst" -j"$jobs" >/dev/null
"$work/inst/app" || fail "app (find_package) failed"
"$work/inst/app_msg" || fail "app_msg (find_package) failed"
! find "$work/prefix" -name 'libzeb*.so*' | grep . >/dev/null || fail "a static build installed a shared library"
# The library's functions that the public headers name: the shared library
# must export each (one not marked ZEB_EXPORT links from the archives but
# not against libzeb.so).
uses=$(find "$inc/zeb" -name '*.h' -exec sed -e 's://.*$::' -e '/^#/d' {} + |
  grep -oE '[A-Za-z_][A-Za-z_0-9]*[[:space:]]*\(' | sed -E 's/[[:space:]]*\($//' | sort -u)
defined=$(nm --defined-only -C "$work"/prefix/lib*/libzeb_*.a | awk '$2 == "T"' | cut -d' ' -f3- |
  sed -e 's/(.*//' -e 's/\[abi:[^]]*\]//g' -e 's/.*:://' | sort -u)
public=$(comm -12 <(echo "$uses") <(echo "$defined"))
pkg_config_build "$work/prefix" make-static

echo "-- cmake --install and find_package: the shared library"
# The same build tree: the parts compile as before, only the links change.
cmake -S "$src" -B "$work/lib" -DBUILD_SHARED_LIBS=ON >/dev/null
cmake --build "$work/lib" -j"$jobs" >/dev/null
cmake --install "$work/lib" --prefix "$work/shared" >/dev/null
lib=$(echo "$work"/shared/lib*/libzeb.so)
[ -f "$lib" ] || fail "no libzeb.so installed"
! find "$work/shared" -name '*.a' | grep . >/dev/null || fail "a shared build installed static libraries"
major=$(sed -n 's/^project(zeb VERSION \([0-9]*\)\..*/\1/p' "$src/CMakeLists.txt")
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libzeb.so.$major" ] || fail "SONAME is '$soname', not libzeb.so.$major"

# Exported names are exactly the procedures the public headers declare with
# ZEB_EXPORT, by unqualified name, each in the library's own namespaces.
declared=$(find "$work/shared/include/zeb" -name '*.h' -exec sed -e 's://.*$::' -e '/^#/d' {} + |
  tr '\n' ' ' | grep -oE 'ZEB_EXPORT[^;{(]*\(' |
  sed -E 's/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*\($/\1/' | sort -u)
[ -n "$declared" ] || fail "no ZEB_EXPORT declarations found in the installed headers"
exported=$(nm -D --defined-only -C "$lib" | grep -v " A ZEB_$major\$" | cut -d' ' -f3- |
  sed -e 's/@.*//' -e 's/\[abi:[^]]*\]//g')
strays=$(sed -e 's/(.*//' <<<"$exported" | grep -vE '^(zeb::([A-Za-z_0-9]+::)*)?[A-Za-z_][A-Za-z_0-9]*$' || true)
[ -z "$strays" ] || fail "libzeb.so exports names outside the library's procedures: $strays"
names=$(sed -e 's/(.*//' -e 's/.*:://' <<<"$exported" | sort -u)
extra=$(comm -13 <(echo "$declared") <(echo "$names"))
[ -z "$extra" ] || fail "libzeb.so exports names no public header declares: $extra"
missing=$(comm -23 <(echo "$declared") <(echo "$names"))
[ -z "$missing" ] || fail "public procedures missing from libzeb.so: $missing"
unmarked=$(comm -23 <(echo "$public") <(echo "$names"))
[ -z "$unmarked" ] || fail "procedures the public headers name are not exported: $unmarked"
echo "libzeb.so: SONAME $soname, exports the $(wc -l <<<"$names") public procedures only"

cmake -S "$app" -B "$work/inst-shared" -DCMAKE_PREFIX_PATH="$work/shared" >/dev/null
cmake --build "$work/inst-shared" -j"$jobs" >/dev/null
pkg_config_build "$work/shared" make-shared
# Run with the installed shared library alone: the build tree and the static
# package are gone, and the programs find libzeb there.
rm -rf "$work/lib" "$work/prefix"
for program in "$work/inst-shared/app" "$work/inst-shared/app_msg" "$work/make-shared/app"; do
  [[ $(ldd "$program") == *"libzeb.so.$major => $work/shared/"* ]] ||
    fail "$program does not load the installed libzeb: $(ldd "$program")"
  "$program" || fail "$program (shared library) failed"
done
echo "consumer builds: add_subdirectory, find_package (static and shared) and pkg-config all work"
