#!/bin/bash
# Installs, from Debian's packages, everything the build and the tests need.
# Idempotent: a second run installs nothing and changes nothing. Run as root.
set -euo pipefail

if [ "$(id -u)" != 0 ]; then
  echo "setup.sh: run as root (it installs Debian packages)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
. /etc/os-release
codename=${VERSION_CODENAME:-bookworm}

packages=(
  cmake ninja-build python3 zip unzip p7zip-full
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  libz-mingw-w64-dev lzma-dev zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  wine wine32:i386 wine64 xvfb xauth
  fp-utils libjpeg-dev libjpeg-turbo-progs libwavpack-dev wavpack dpkg-dev
  # the fastest whole-buffer Deflate decoder, the Inflate benchmark's reference
  libdeflate-dev
  # the locale sources from which the build table makes a Japanese locale (code page 932)
  locales
  # the independent PE reader that checks the built files' headers
  python3-pefile
  # screenshots of the dialogs under Xvfb (import -window root)
  imagemagick
)

installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

apt_updated=0
apt_update() {
  if [ $apt_updated = 0 ]; then
    apt-get update -q
    apt_updated=1
  fi
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt_updated=0
fi

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt_update
  apt-get install -y -q "${missing[@]}"
fi

# The Windows stubs link WavPack statically, cross-built from Debian's source
# package of the same version as libwavpack-dev (nothing of it is committed).
# The unpacked tree stays in the cache; the win tree's configure takes it from
# there (QL_WAVPACK_SOURCE).
wavpack_src=/var/cache/quolla/wavpack-src
wavpack_version=$(dpkg-query -W -f='${Version}' libwavpack-dev)
if [ "$(cat "$wavpack_src/.version" 2>/dev/null)" != "$wavpack_version" ]; then
  if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    cat >/etc/apt/sources.list.d/quolla-sources.sources <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt_updated=0
  fi
  apt_update
  fetch=$(mktemp -d /var/cache/quolla-fetch.XXXXXX)
  # The exact version when the source lists have it, else their newest.
  (cd "$fetch" && { apt-get source -q "wavpack=$wavpack_version" || apt-get source -q wavpack; } >/dev/null)
  tree=$(find "$fetch" -mindepth 1 -maxdepth 1 -type d -name 'wavpack-*' | head -n1)
  [ -n "$tree" ] && [ -f "$tree/include/wavpack.h" ] || {
    echo "setup.sh: apt-get source wavpack gave no source tree" >&2
    exit 1
  }
  rm -rf "$wavpack_src"
  mkdir -p "$(dirname "$wavpack_src")"
  mv "$tree" "$wavpack_src"
  printf '%s' "$wavpack_version" >"$wavpack_src/.version"
  rm -rf "$fetch"
fi

# Some virtual machines cannot run 32-bit x86 code at all (no compatibility
# mode). There, 32-bit Linux programs (Wine's i386 loader) run under
# qemu-user, registered with binfmt_misc. qemu before 8 ignores
# MAP_FIXED_NOREPLACE, which Wine's address-space reservation needs, so the
# backports' qemu is taken on bookworm.
runs_i386() { /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
qemu_major() { /usr/bin/qemu-i386 --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p'; }
if ! runs_i386; then
  if [ "$(qemu_major)" = "" ] || [ "$(qemu_major)" -lt 8 ]; then
    if [ "$codename" = bookworm ]; then
      if ! grep -rqs "bookworm-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
        cat >/etc/apt/sources.list.d/quolla-backports.sources <<SRC
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
        apt_updated=0
      fi
      apt_update
      apt-get install -y -q -t bookworm-backports qemu-user-static
    else
      apt_update
      apt-get install -y -q qemu-user-static
    fi
  fi
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt
  [ -e $binfmt/qemu-i386 ] && echo -1 >$binfmt/qemu-i386
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F' >$binfmt/register
  if ! runs_i386; then
    echo "setup.sh: this machine cannot run 32-bit x86 programs, even under qemu-user" >&2
    exit 1
  fi
fi
echo "setup.sh: all build and test dependencies are installed"
