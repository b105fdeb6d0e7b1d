#!/bin/sh
# lintian.sh CPACK BUILD -- packs the build tree BUILD as a Debian package
# with CPACK, in a scratch directory of its own, and runs lintian on it.
# Fails on any error or warning but the maintainer address, which stays
# bogus until the project has a real one, and when the changelog's latest
# entry is not the package's version.  Without lintian it skips (77),
# except in CI (CI set), where it fails.
if ! command -v lintian >/dev/null 2>&1; then
  echo "lintian is missing: run scripts/setup"
  [ -n "${CI+set}" ] && exit 1
  exit 77
fi
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
# The Ninja generator has no preinstall target: cpack then packs the build
# as it stands instead of running make in it beside other runs and tests.
"$1" -G DEB --config "$2/CPackConfig.cmake" -B "$scratch" -D CPACK_CMAKE_GENERATOR=Ninja \
  >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; exit 1; }
deb=$(echo "$scratch"/*.deb)
lintian --fail-on error,warning --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog \
  "$deb" || exit 1
version=$(dpkg-deb -f "$deb" Version)
latest=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/keyblend/changelog.gz | gunzip |
  sed -n '1s/^keyblend (\([^)]*\)).*/\1/p')
[ "$latest" = "$version" ] ||
  { echo "the changelog's latest entry is '$latest', the package's version $version"; exit 1; }
