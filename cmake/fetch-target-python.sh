#!/bin/sh
# Unpacks Debian's CPython 3.11 for a receiver processor into a folder, so
# the guide CRC module can be built against its headers and tested by its
# own interpreter under qemu-user (libffi for ctypes, which the tests use).
#   cmake/fetch-target-python.sh ARCH DEST     (ARCH: mipsel, armhf, arm64)
# Needs root once: it adds ARCH to dpkg's architectures and updates apt.
set -eu
. "$(dirname "$0")/../cmake/script-help.sh"
script_help "$0" "${1-}"
arch=$1
dest=$2
packages="python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libpython3.11-dev
  libc6 libgcc-s1 libexpat1 zlib1g libffi8"

qemu=qemu-$(echo "$arch" | sed 's/^armhf$/arm/; s/^arm64$/aarch64/')

# Byte-compiles the standard library once, by the target's own interpreter
# under qemu-user, as a package install would: without it every start of
# the interpreter compiles what it imports, slowly on an emulated processor.
# Absolute paths outside the qemu root, so nothing is written to the host's.
compile_stdlib() {
  "$qemu" -L "$dest" "$dest/usr/bin/python3.11" -m compileall -q -j 0 --invalidation-mode unchecked-hash \
    -x '/(test|idlelib|tkinter|lib2to3)/' -d /usr/lib/python3.11 "$dest/usr/lib/python3.11" > /dev/null
  touch "$dest/.compiled"
}

# A folder unpacked before libffi was on the list is unpacked again.
if [ -x "$dest/usr/bin/python3.11" ] && ls "$dest"/usr/lib/*/libffi.so.8 > /dev/null 2>&1; then
  [ -e "$dest/.compiled" ] || compile_stdlib
  exit 0
fi
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  dpkg --add-architecture "$arch"
  apt-get update -qq
fi
debs=$(mktemp -d)
trap 'rm -rf "$debs"' EXIT
(cd "$debs" && for p in $packages; do echo "$p:$arch"; done | xargs apt-get download -qq)
mkdir -p "$dest"
for deb in "$debs"/*.deb; do dpkg -x "$deb" "$dest"; done
compile_stdlib
echo "target python for $arch in $dest"
