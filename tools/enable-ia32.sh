#!/usr/bin/env bash
# Makes 32-bit Linux programs (Wine's i386 loader and wineserver) run on this machine.
# Idempotent, and returns at once where they already do.
#
# Some kernels here boot with ia32 emulation off ("32-bit emulation disabled" in dmesg):
# every 32-bit ELF then fails with "Exec format error". We register qemu's i386 user-mode
# emulator for such binaries through binfmt_misc. Debian 12's qemu (7.2) treats Wine's
# MAP_FIXED_NOREPLACE probes as plain hints and scans the address space on each one, so a
# single Wine process needs about a minute; the qemu of Debian 13 maps as the kernel does
# and starts one in a few tenths of a second. Its qemu-user package is statically linked,
# so we take the one binary out of it and leave the system's packages alone.
set -euo pipefail

qemu=/opt/kw-qemu/qemu-i386
entry=/proc/sys/fs/binfmt_misc/kw-i386
suite=trixie

works() { /lib/ld-linux.so.2 --help >/dev/null 2>&1; }
ours() { [ -e "$entry" ] && grep -qx "interpreter $qemu" "$entry"; }

# Native support, or our emulator already registered.
if works && { [ ! -e "$entry" ] || ours; }; then exit 0; fi
[ -x /lib/ld-linux.so.2 ] || { echo "enable-ia32: libc6:i386 is not installed" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "enable-ia32: needs root (binfmt_misc)" >&2; exit 1; }

if [ ! -x "$qemu" ]; then
  echo "enable-ia32: fetching qemu-i386 from Debian $suite's qemu-user"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" "$work/archives/partial"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main" \
    >"$work/sources.list"
  apt_opts=(-o "Dir::Etc::sourcelist=$work/sources.list" -o Dir::Etc::sourceparts=-
            -o "Dir::State::Lists=$work/lists" -o "Dir::Cache::archives=$work/archives"
            -o APT::Sandbox::User=root -o Debug::NoLocking=1)
  apt-get -qq "${apt_opts[@]}" update
  (cd "$work" && apt-get -qq "${apt_opts[@]}" download qemu-user)
  mkdir -p "$(dirname "$qemu")"
  dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -xO ./usr/bin/qemu-i386 >"$qemu.new"
  chmod 755 "$qemu.new"
  mv "$qemu.new" "$qemu"
fi

mountpoint -q /proc/sys/fs/binfmt_misc ||
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
[ -e "$entry" ] && echo -1 >"$entry"
# i386 ELF executables and shared objects; F opens the emulator now, so it also serves
# programs in other mount namespaces.
echo ":kw-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" \
  >/proc/sys/fs/binfmt_misc/register
works || { echo "enable-ia32: 32-bit programs still do not run" >&2; exit 1; }
echo "enable-ia32: 32-bit programs run through $qemu"
