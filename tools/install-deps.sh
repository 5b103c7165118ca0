#!/usr/bin/env bash
# Installs the Debian packages both builds need. Idempotent: returns at once when all is there.
set -euo pipefail

packages=(cmake g++ googletest libbenchmark-dev valgrind
          g++-mingw-w64-i686-posix mingw-w64-tools wine wine32:i386 xvfb xauth nsis)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine's 32-bit loader must run here, through an emulator if the kernel has no ia32 support.
"${sudo_cmd[@]}" "$(dirname "$0")/enable-ia32.sh"
