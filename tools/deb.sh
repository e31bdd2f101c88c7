#!/bin/sh
# Builds the Debian packages borvan32 and vesk32 with the Debian tools, then checks them with
# lintian. The packages end up in build/deb/.
set -eu
cd "$(dirname "$0")/.."
PACKAGES="dpkg-dev debhelper lintian cmake ninja-build pkg-config libncurses-dev g++"
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    SUDO=""
    if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
# dpkg-buildpackage writes beside the source folder: build in a copy so that nothing lands
# outside the repository and the work tree stays clean.
out="$PWD/build/deb"
rm -rf "$out"
mkdir -p "$out/src"
git ls-files -z | xargs -0 cp --parents -t "$out/src"
(cd "$out/src" && dpkg-buildpackage -b -us -uc)
rm -rf "$out/src"
ls "$out"/*.deb
lintian --fail-on error "$out"/*.changes
