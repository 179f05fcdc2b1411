#!/bin/bash
# Installs what the build and the Wine test runs need on a Debian 12 machine.
# Runs as root; started by another user, it raises itself through sudo. Safe to run
# again: apt skips what is there, qemu 10 is unpacked once.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" != 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    echo "install-deps: not root; asking sudo" >&2
    exec sudo DEBIAN_FRONTEND=noninteractive "$(readlink -f "$0")" "$@"
  fi
  echo "install-deps: installing packages needs root, and sudo is not installed." >&2
  echo "install-deps: run this script as root (for example: su -c '$(readlink -f "$0")')," >&2
  echo "install-deps: or install sudo and give this user the right to use it." >&2
  exit 1
fi

dpkg --add-architecture i386
# bookworm-backports carries qemu 10; backports never install unless asked for by suite.
src=/etc/apt/sources.list.d/debian.sources
if [ -f "$src" ] && ! grep -q 'bookworm-backports' "$src"; then
  sed -i '0,/^Suites: bookworm bookworm-updates/s//Suites: bookworm bookworm-updates bookworm-backports/' "$src"
fi
if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo 'deb http://deb.debian.org/debian bookworm-backports main' > /etc/apt/sources.list.d/backports.list
fi

# A failed update is not fatal: when everything is installed already, the install below
# needs no network; when something is missing, it fails there with apt's own message.
apt-get update -q || echo "install-deps: apt-get update failed; trying with the current lists" >&2
apt-get install -y -q --no-install-recommends \
  cmake make python3 ninja-build \
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
  mingw-w64-tools mingw-w64-common googletest \
  wine wine64 wine32:i386 libwine:i386 \
  xvfb xauth x11-utils imagemagick \
  locales fonts-nanum \
  gcab osslsigncode openssl \
  nlohmann-json3-dev chromium firefox-esr libnss3-tools

if ! locale -a 2>/dev/null | grep -qi '^ko_KR.utf8$'; then
  sed -i 's/^# *ko_KR.UTF-8 UTF-8/ko_KR.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ko_KR.UTF-8 UTF-8' /etc/locale.gen || echo 'ko_KR.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi

if [ ! -x /opt/qemu10/usr/bin/qemu-i386 ]; then
  tmp=$(mktemp -d)
  (cd "$tmp" && apt-get download -q qemu-user/bookworm-backports)
  dpkg-deb -x "$tmp"/qemu-user_*.deb /opt/qemu10
  rm -rf "$tmp"
fi
/opt/qemu10/usr/bin/qemu-i386 --version | head -1

# The real-browser tests drive Chromium with playwright-core and Firefox ESR with
# puppeteer-core (both pinned in web/package-lock.json), which need Node.js 20 or later. Debian 12's own nodejs is 18: a machine without Node.js
# gets it, and the version check below says what is missing.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  apt-get install -y -q --no-install-recommends nodejs npm
fi
node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 20 ]; then
  echo "install-deps: Node.js $(node --version) is too old for the browser drivers; install Node.js 20 or later" >&2
  exit 1
fi
web="$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)/web"
# As the user who asked (through sudo), so that the work tree stays theirs.
if [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  sudo -u "$SUDO_USER" npm ci --prefix "$web" --no-audit --no-fund
else
  npm ci --prefix "$web" --no-audit --no-fund
fi
echo "install-deps: done"
