#!/usr/bin/env bash
# Builds the Debian packages vorn, libzeb0 and libzeb-dev with CPack (Debian's
# build flags, prefix /usr, the shared library), and checks them with
# lintian: no errors. As root it then installs them on this machine with
# apt-get, as a fleet would, and tries them as installed: vorn --list, the
# manual pages, the systemd units, a find_package consumer and pkg-config
# consumers (shared, and static against libzeb.a); at last it removes them
# with apt-get remove --purge and checks that no file of theirs is left.
# Packages of these names installed beforehand are left alone: the check
# refuses to run rather than replace them.
#
# .ci/packages.sh [OUTPUT-DIR]: the .deb files are left in OUTPUT-DIR
# (default: build-deb/packages).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build="$src/build-deb"
out=${1:-$build/packages}
work=$(mktemp -d)
packages=(vorn libzeb0 libzeb-dev)
installed=0

fail() {
  echo "packages check: $*" >&2
  exit 1
}

# installed_packages: those of ours that dpkg knows as installed (or half
# installed, or with configuration files left).
installed_packages() {
  dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null |
    awk '$1 != "un" { print $2 }' || true
}

# remove: apt-get remove --purge of our packages, then the check that
# nothing of them is left: not in dpkg's database, no file they listed.
remove() {
  DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y "${packages[@]}" >"$work/remove.log" 2>&1 ||
    { cat "$work/remove.log"; fail "apt-get remove --purge failed"; }
  installed=0
  local left
  left=$(installed_packages)
  [ -z "$left" ] || fail "still known to dpkg after the purge: $left"
  while IFS= read -r path; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || echo "$path"
  done <"$work/files" >"$work/left"
  [ ! -s "$work/left" ] || fail "files left after the purge: $(tr '\n' ' ' <"$work/left")"
  echo "removed: $(wc -l <"$work/files") files gone, no package left"
}

cleanup() {
  if [ "$installed" = 1 ]; then
    echo "packages check: removing the packages after a failure" >&2
    DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y "${packages[@]}" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "-- build (prefix /usr, shared library, Debian's build flags)"
# Every hardening flag Debian has (bindnow and PIE besides the defaults).
# CMake reads CXXFLAGS and LDFLAGS from the environment; the preprocessor's
# flags (_FORTIFY_SOURCE) go with the compiler's, as Debian's own CMake
# builds pass them. Warnings are not errors here, as in any distribution
# build: a warning that a newer compiler adds must not stop a package.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake --fresh -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_SHARED_LIBS=ON -DZEB_STATIC_ARCHIVE=ON -DZEB_INSTALL_MAN_GZIP=ON \
  -DZEB_BUILD_TESTS=OFF -DZEB_BUILD_BENCH=OFF -DZEB_WERROR=OFF -DZEB_SQLITE3_ARCHIVE= >/dev/null
cmake --build "$build" -j"$(nproc)" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build failed"; }
# SQLite comes from its own package, not linked into vorn (Debian's rule
# against embedded copies of libraries).
# (ldd's output is taken whole: grep -q would end the pipe early.)
[[ $(ldd "$build/vorn") == *libsqlite3.so* ]] || fail "vorn does not link SQLite's shared library"

echo "-- cpack -G DEB"
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
version=$(sed -n 's/^project(zeb VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
debs=()
for package in "${packages[@]}"; do
  deb="$out/${package}_${version}_${arch}.deb"
  [ -f "$deb" ] || fail "no $deb (made: $(ls "$out"))"
  debs+=("$deb")
done
for deb in "${debs[@]}"; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done

echo "-- lintian"
# Errors fail the check; warnings are shown.
lintian --fail-on error "${debs[@]}" ||
  fail "lintian found errors"

# expect_files <deb> <path>...: the package holds each path.
expect_files() {
  local deb=$1 path
  shift
  dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's:^\./:/:' >"$work/contents"
  for path in "$@"; do
    grep -qx -- "$path" "$work/contents" || fail "$(basename "$deb") lacks $path"
  done
}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=/usr/lib/$multiarch
expect_files "${debs[0]}" /usr/bin/vorn /usr/share/man/man1/vorn.1.gz \
  /usr/lib/systemd/system/vorn.service /usr/lib/systemd/system/vorn.timer \
  /usr/share/doc/vorn/copyright /usr/share/doc/vorn/changelog.gz
if [ -d "$src/contrib/prometheus" ]; then
  while IFS= read -r file; do
    expect_files "${debs[0]}" "/usr/share/vorn/prometheus/${file#"$src"/contrib/prometheus/}"
  done < <(find "$src/contrib/prometheus" -type f)
fi
expect_files "${debs[1]}" "$lib/libzeb.so.${version%%.*}" "$lib/libzeb.so.$version"
expect_files "${debs[2]}" /usr/include/zeb/zeb.h "$lib/libzeb.so" "$lib/libzeb.a" \
  "$lib/pkgconfig/zeb.pc" "$lib/cmake/zeb/zebConfig.cmake" /usr/bin/lconf /usr/bin/sim6530 \
  /usr/share/man/man1/lconf.1.gz /usr/share/man/man1/sim6530.1.gz

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: the packages are built and checked, not installed"
  exit 0
fi

echo "-- apt-get install ./*.deb"
before=$(installed_packages)
[ -z "$before" ] || fail "already installed here, left alone: $before"
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${debs[@]}" \
  >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get install failed"; }
# Every file the packages placed, for the check after the purge.
for package in "${packages[@]}"; do
  dpkg -L "$package" | while IFS= read -r path; do
    [ -d "$path" ] && [ ! -L "$path" ] || echo "$path"
  done
done >"$work/files"
echo "installed: $(wc -l <"$work/files") files"

echo "-- the installed programs, manual pages and units"
[ "$(command -v vorn)" = /usr/bin/vorn ] || fail "vorn is not /usr/bin/vorn: $(command -v vorn)"
status=0
vorn --list >"$work/list" || status=$?
# 0: volumes to measure; 4: none here (a machine without block devices).
[ "$status" -eq 0 ] || [ "$status" -eq 4 ] || fail "vorn --list exited with $status"
cat "$work/list"
ZEB_VOLUMES='$S72=sim:rpm=7200,clock=virtual' vorn --quiet >"$work/survey"
[ "$(cat "$work/survey")" = 'Drive: $S72     Effective RPM: 7200' ] ||
  fail "the installed vorn measured: $(cat "$work/survey")"
for page in vorn lconf sim6530; do
  [ "$(man -w "$page")" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page: $(man -w "$page" 2>&1)"
done
lconf --version >/dev/null && sim6530 --version >/dev/null || fail "lconf or sim6530 does not run"
unit=$(systemctl cat vorn.service 2>/dev/null || cat /usr/lib/systemd/system/vorn.service)
grep -q '^ExecStart=/usr/bin/vorn ' <<<"$unit" || fail "vorn.service does not run /usr/bin/vorn"
systemd-analyze verify /usr/lib/systemd/system/vorn.service /usr/lib/systemd/system/vorn.timer

echo "-- find_package and pkg-config against the installed packages"
# Nothing points the consumers at the packages: the system's folders serve.
cmake -S "$src/.ci/consumer" -B "$work/cmake" >/dev/null
cmake --build "$work/cmake" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "find_package build failed"; }
mkdir "$work/make"
make -C "$work/make" -f "$src/.ci/consumer/Makefile" >"$work/make.log" 2>&1 ||
  { cat "$work/make.log"; fail "pkg-config build failed"; }
for program in "$work/cmake/app" "$work/cmake/app_msg" "$work/make/app"; do
  # (/lib is /usr/lib on Debian, and the loader may say either.)
  [[ $(ldd "$program") == *"libzeb.so.${version%%.*} => "*"/lib/$multiarch/libzeb.so."* ]] ||
    fail "$program does not load the installed libzeb: $(ldd "$program")"
  "$program" || fail "$program failed"
done
# libzeb.a with pkg-config's static flags: nothing of libzeb loaded at run.
mkdir "$work/static"
c++ -std=c++20 -o "$work/static/app" "$src/.ci/consumer/main.cpp" $(pkg-config --cflags zeb) \
  -Wl,-Bstatic $(pkg-config --libs-only-l zeb) -Wl,-Bdynamic \
  $(pkg-config --static --libs-only-l sqlite3) || fail "static build with libzeb.a failed"
[[ $(ldd "$work/static/app") != *libzeb* ]] || fail "the static build loads libzeb"
"$work/static/app" || fail "the static build failed"
echo "consumers: find_package, pkg-config (shared and static) work against the packages"

echo "-- apt-get remove --purge"
remove
