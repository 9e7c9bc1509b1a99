#!/usr/bin/env bash
# Checks that kvAction installs and packages as a client needs it, from a finished build folder:
#  1. `cmake --install` into a scratch prefix: headers under include/kvaction/, libkvaction.so
#     with its SONAME, libkvaction.a, the CMake package, kvaction.pc, the command, its man page;
#  2. examples/ built against that prefix through find_package (shared and static) and through
#     pkg-config (shared and static), and run;
#  3. the .deb packages built by CPack, their contents and names, what Debian's checker lintian
#     says of them (any error fails; warnings are printed), unpacked into a scratch root
#     (dpkg -x), the command and the example run from there;
#  4. a SQLite-only library (no PostgreSQL, mail or command) that needs neither libpq nor
#     libcurl, and refuses a PostgreSQL connection string clearly.
# Usage: scripts/install-check.sh BUILD-FOLDER   (KV_INSTALL_CHECK_MINIMAL=0 skips step 4)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: install-check.sh BUILD-FOLDER}" && pwd)
scratch=$(mktemp -d /tmp/kvaction-install.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install-check: $*" >&2; exit 1; }
step() { echo "== install-check: $*"; }
version=$(sed -n 's/^project(kvAction VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
major=${version%%.*}

# Builds examples/ against a prefix with CMake and with pkg-config, and runs each program.
check_client() {
  local prefix=$1 name=$2 libdir
  libdir=$(dirname "$(find "$prefix" -name kvaction.pc | head -1)")/..
  cmake -S "$root/examples" -B "$scratch/$name-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$scratch/$name-cmake" >/dev/null
  local programs=("$scratch/$name-cmake/first_steps")
  [ -x "$scratch/$name-cmake/first_steps_static" ] && programs+=("$scratch/$name-cmake/first_steps_static")
  export PKG_CONFIG_PATH="$libdir/pkgconfig"
  # shellcheck disable=SC2046
  c++ -std=c++20 -o "$scratch/$name-pc" "$root/examples/first_steps.cc" $(pkg-config --cflags --libs kvaction)
  # The static library with the shared libraries of its dependencies (Debian's libpq.pc cannot be
  # linked --static: its private libraries have no static archives).
  # shellcheck disable=SC2046
  c++ -std=c++20 -o "$scratch/$name-pc-static" "$root/examples/first_steps.cc" \
    $(pkg-config --cflags --libs-only-L kvaction) -l:libkvaction.a \
    $(pkg-config --libs $(pkg-config --print-requires-private kvaction | cut -d' ' -f1)) -pthread
  unset PKG_CONFIG_PATH
  programs+=("$scratch/$name-pc" "$scratch/$name-pc-static")
  for program in "${programs[@]}"; do
    local out
    out=$(cd "$scratch" && LD_LIBRARY_PATH="$libdir" "$program" "$scratch/$name.kvdb") ||
      fail "$program failed: $out"
    grep -q '^2  Update the risk register$' <<<"$out" || fail "$program listed no actions: $out"
    grep -q '^Alerts: [0-9]' <<<"$out" || fail "$program counted no alerts: $out"
    grep -q '^Subject: ' <<<"$out" || fail "$program built no e-mail: $out"
  done
  echo "built and ran ${#programs[@]} clients against $prefix"
}

step "the README shows the example as it is"
sed -n '/^```cpp$/,/^```$/p' "$root/README.md" | sed '1d;$d' | diff -q - "$root/examples/first_steps.cc" >/dev/null ||
  fail "the C++ example in README.md differs from examples/first_steps.cc"

step "cmake --install into a scratch prefix"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/kvaction/Action.h include/kvaction/Version.h include/kvaction/vb/Variant.h \
         include/kvaction/kvdata/DataServer.h include/kvaction/kvdata/Backup.h \
         lib/libkvaction.a "lib/libkvaction.so.$major" lib/cmake/kvAction/kvActionConfig.cmake \
         lib/cmake/kvAction/kvActionConfigVersion.cmake lib/pkgconfig/kvaction.pc bin/kvaction \
         share/man/man1/kvaction.1.gz; do
  [ -e "$prefix/$f" ] || fail "cmake --install did not install $f"
done
for generic in vb ado kvdata kvuser; do
  [ ! -e "$prefix/include/$generic" ] || fail "include/$generic is installed outside include/kvaction/"
done
! find "$prefix/include" -name '*_test.h' -o -name 'Fixture.h' | grep -q . || fail "test headers are installed"
objdump -p "$prefix/lib/libkvaction.so.$version" | grep -q "SONAME *libkvaction.so.$major\$" ||
  fail "libkvaction.so has no SONAME libkvaction.so.$major"
zgrep -q '^\.SH COMMANDS' "$prefix/share/man/man1/kvaction.1.gz" || fail "the man page lists no commands"
zgrep -q 'kvaction backup' "$prefix/share/man/man1/kvaction.1.gz" || fail "the man page misses backup"
zgrep -q 'KVACTION_DB' "$prefix/share/man/man1/kvaction.1.gz" || fail "the man page misses KVACTION_DB"
[ ! -e "$prefix/share/doc" ] || fail "cmake --install installed the packages' share/doc files"
"$prefix/bin/kvaction" --help >/dev/null
check_client "$prefix" installed

step "the .deb packages"
(cd "$build" && cpack -G DEB -B "$scratch/debs" >/dev/null)
debs=("$scratch"/debs/*.deb)
[ ${#debs[@]} -eq 3 ] || fail "expected 3 packages, got: ${debs[*]}"
debroot=$scratch/debroot
for deb in "${debs[@]}"; do
  package=$(dpkg-deb -f "$deb" Package)
  contents=$(dpkg-deb -c "$deb")
  case $package in
    "libkvaction$major")
      grep -q "usr/lib/.*libkvaction.so.$major" <<<"$contents" || fail "$package lacks the library"
      ! grep -q 'include/' <<<"$contents" || fail "$package holds headers" ;;
    libkvaction-dev)
      for f in include/kvaction/Action.h libkvaction.a kvActionConfig.cmake kvaction.pc; do
        grep -q "$f" <<<"$contents" || fail "$package lacks $f"
      done
      dpkg-deb -f "$deb" Depends | grep -q "libkvaction$major (= $version)" ||
        fail "$package does not depend on its library" ;;
    kvaction)
      grep -q 'usr/bin/kvaction$' <<<"$contents" || fail "$package lacks the command"
      grep -q 'man1/kvaction.1.gz$' <<<"$contents" || fail "$package lacks the man page"
      grep -q 'usr/lib/systemd/system/kvaction-serve@.service$' <<<"$contents" ||
        fail "$package lacks the unit of serve"
      grep -q 'usr/share/doc/kvaction/examples/nginx-kvaction.conf$' <<<"$contents" ||
        fail "$package lacks the nginx example" ;;
    *) fail "unexpected package $package" ;;
  esac
  for f in copyright changelog.gz; do
    grep -q "usr/share/doc/$package/$f\$" <<<"$contents" || fail "$package lacks $f"
  done
  dpkg -x "$deb" "$debroot"
done
# The debug symbols of the library and the command, apart from them.
ddebs=("$scratch"/debs/*-dbgsym_*.ddeb)
[ ${#ddebs[@]} -eq 2 ] || fail "expected 2 debug symbol packages, got: ${ddebs[*]}"
# Debian's own checker: an error fails the check; the warnings that stay are in docs/install.md.
lintian --fail-on error "${debs[@]}" ||
  fail "lintian found errors in the packages (above)"
echo "lintian: no errors in ${#debs[@]} packages"
"$debroot/usr/bin/kvaction" --help >/dev/null
check_client "$debroot/usr" deb

if [ "${KV_INSTALL_CHECK_MINIMAL:-1}" != 0 ]; then
  step "a SQLite-only library"
  # Kept in the build folder, so that later runs only rebuild what changed.
  minimal=$build/sqlite-only
  cmake -S "$root" -B "$minimal" -G Ninja -DKV_WITH_POSTGRESQL=OFF -DKV_WITH_MAIL=OFF \
    -DKV_WITH_CLI=OFF -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF >/dev/null
  grep -Eq '^(LIBPQ|CURL)_FOUND:INTERNAL=1' "$minimal/CMakeCache.txt" && fail "the SQLite-only build looked for libpq or libcurl"
  cmake --build "$minimal" --target kvaction_shared kvaction_static >/dev/null
  cmake --install "$minimal" --prefix "$scratch/minimal" >/dev/null
  ! objdump -p "$scratch/minimal/lib/libkvaction.so.$major" | grep -Eq 'NEEDED.*(libpq|libcurl)' ||
    fail "the SQLite-only library needs libpq or libcurl"
  grep -q 'set(kvAction_WITH_POSTGRESQL OFF)' "$scratch/minimal/lib/cmake/kvAction/kvActionConfig.cmake" ||
    fail "the config file does not record the missing PostgreSQL engine"
  [ ! -e "$scratch/minimal/bin/kvaction" ] || fail "the command was installed without KV_WITH_CLI"
  check_client "$scratch/minimal" minimal
  cat >"$scratch/pg.cc" <<'CC'
#include <kvaction/Action.h>
#include <iostream>
int main() {
  try {
    kvaction::Action().OpenConnection("Provider=PostgreSQL;Host=db;Database=actions;User ID=kv");
  } catch (const vb::ComError& e) {
    std::cout << e.description() << '\n';
  }
}
CC
  PKG_CONFIG_PATH="$scratch/minimal/lib/pkgconfig" bash -c \
    'c++ -std=c++20 -o "$0/pg" "$0/pg.cc" $(pkg-config --cflags --libs kvaction)' "$scratch"
  LD_LIBRARY_PATH="$scratch/minimal/lib" "$scratch/pg" | grep -q 'no PostgreSQL support' ||
    fail "the SQLite-only library does not say it has no PostgreSQL support"
fi
step "passed"
