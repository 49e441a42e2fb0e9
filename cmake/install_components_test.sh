#!/usr/bin/env bash
# install_components_test.sh BUILD VORN: the install components of the build
# tree BUILD, which the Debian packages are made of (cmake/zeb_packaging.cmake).
# Each component is installed on its own into an empty prefix: every file
# of a full installation lands in exactly one component, none in the
# default component, each component holds the files its row names, and only
# the Debian files (/usr/share/doc/<package>) come on top of a full
# installation. The vorn unit's ExecStart names VORN, the program as
# installed.
set -euo pipefail
build=$1
vorn=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "install components: $*" >&2
  exit 1
}

# install_list <name> [--component C]: installs into $work/<name> and lists
# its files and links, relative to the prefix, sorted.
install_list() {
  local name=$1
  shift
  cmake --install "$build" --prefix "$work/$name" "$@" >/dev/null
  if [ -d "$work/$name" ]; then
    (cd "$work/$name" && find . ! -type d | sed 's:^\./::' | sort)
  fi
}

# component | package | files it must hold (patterns under the prefix)
rows=(
  "vorn|vorn|bin/vorn share/man/man1/vorn.1* lib/systemd/system/vorn.service lib/systemd/system/vorn.timer"
  "dev|libzeb-dev|include/zeb/zeb.h include/zeb/msg/msg.h lib*/cmake/zeb/zebConfig.cmake lib*/pkgconfig/zeb.pc bin/lconf bin/sim6530 share/man/man1/lconf.1* share/man/man1/sim6530.1*"
  "runtime|libzeb0|"
)

install_list full >"$work/full.txt"
[ -s "$work/full.txt" ] || fail "a full installation installs nothing"
outside=$(install_list unspecified --component Unspecified | tr '\n' ' ')
[ -z "$outside" ] || fail "files outside every component: $outside"
: >"$work/union.txt"
for row in "${rows[@]}"; do
  IFS='|' read -r component package patterns <<<"$row"
  install_list "$component" --component "$component" >"$work/$component.txt"
  for pattern in $patterns; do
    found=0
    while IFS= read -r file; do
      [[ $file == $pattern ]] && found=1 && break
    done <"$work/$component.txt"
    [ "$found" = 1 ] || fail "component $component lacks $pattern"
  done
  # On top of the full installation: the package's Debian files, no more.
  extra=$(comm -13 "$work/full.txt" "$work/$component.txt" | tr '\n' ' ')
  [ "$extra" = "share/doc/$package/changelog.gz share/doc/$package/copyright " ] ||
    fail "component $component adds to a full installation: $extra"
  comm -12 "$work/full.txt" "$work/$component.txt" >>"$work/union.txt"
done
doubles=$(sort "$work/union.txt" | uniq -d | tr '\n' ' ')
[ -z "$doubles" ] || fail "files in two components: $doubles"
missing=$(comm -23 "$work/full.txt" <(sort "$work/union.txt") | tr '\n' ' ')
[ -z "$missing" ] || fail "files in no component: $missing"

exec_start=$(grep '^ExecStart=' "$work/vorn/lib/systemd/system/vorn.service")
[[ $exec_start == "ExecStart=$vorn "* ]] || fail "vorn.service runs: $exec_start"
echo "install components: $(wc -l <"$work/full.txt") files, each in one component"
