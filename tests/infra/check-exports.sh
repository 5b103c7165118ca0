#!/usr/bin/env bash
# check-exports.sh OBJDUMP KWHID_GEN_DLL KWHID_WMP_DLL
# Fails unless each plug-in exports exactly what its host looks up, by those undecorated
# names and nothing else: no other name, no decorated stdcall name (DllGetClassObject@12),
# no entry by ordinal only.
#   kwhid_gen.dll: winampGetGeneralPurposePlugin, which Winamp calls.
#   kwhid_wmp.dll: the four entries of a COM in-process server.
set -euo pipefail

[ $# -eq 3 ] || { echo "usage: $0 OBJDUMP KWHID_GEN_DLL KWHID_WMP_DLL" >&2; exit 2; }
objdump=$1

status=0
# check DLL EXPECTED_NAME...
check() {
  local dll=$1; shift
  local expected actual addresses dump
  [ -f "$dll" ] || { echo "FAIL: $dll does not exist"; status=1; return; }
  dump=$("$objdump" -p "$dll" | tr -d '\r') || { echo "FAIL: $objdump -p $dll"; status=1; return; }
  # The names follow the table's title, one "[ n] name" a line, up to the blank line.
  actual=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/{s/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p}' <<<"$dump" | sort)
  # Every entry has a name: as many addresses as names.
  # The first "Export Address Table" line gives the entry count, the second the table's address.
  addresses=$(sed -n 's/^[[:space:]]*Export Address Table[[:space:]]\{1,\}\([0-9a-fA-F]\{1,\}\)$/\1/p' <<<"$dump" | head -n 1)
  expected=$(printf '%s\n' "$@" | sort)
  echo "$(basename "$dll") exports: $(echo $actual)"
  if [ "$actual" != "$expected" ]; then
    echo "FAIL: $(basename "$dll") must export exactly: $(echo $expected)"
    status=1
  fi
  if [ -n "$actual" ] && [ $((16#${addresses:-0})) -ne "$(wc -l <<<"$actual")" ]; then
    echo "FAIL: $(basename "$dll") has $((16#${addresses:-0})) exported entries for $(wc -l <<<"$actual") names"
    status=1
  fi
}

check "$2" winampGetGeneralPurposePlugin
check "$3" DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer
exit $status
