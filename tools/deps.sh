#!/bin/sh
# Installs the Debian packages that the build and the tests need; does nothing when all are present.
set -eu
PACKAGES="g++ make cmake ninja-build pkg-config libgtest-dev libgmock-dev libncurses-dev
python3 7zip ngircd tmux zlib1g-dev libbenchmark-dev mscompress ncompress libarchive-tools
arj lhasa jlha-utils nomarch arc clamav dante-server finger weechat-headless weechat-plugins strace
time bash-completion zsh groff-base desktop-file-utils xdg-utils microsocks libssl-dev openssl inspircd
atheme-services python3-cryptography irssi libbz2-dev liblzma-dev libzstd-dev zstd sharutils clang
libclang-rt-dev"
missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
