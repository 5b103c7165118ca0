#!/usr/bin/env bash
# check-imports.sh OBJDUMP DLL...
# Fails when a DLL imports anything but the KnownDLLs of Windows 7 SP1, which the loader
# takes from the system folder whatever the search order. Every other library (version,
# winmm, uxtheme, comctl32, ...) would be resolved through the player's search order, its
# own folder first: those are loaded at run time from the system folder. HID.DLL,
# SetupAPI.dll and cfgmgr32.dll are bound by name at run time, never imported, even where
# one of them is a KnownDLL.
set -euo pipefail

objdump=$1; shift
# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 7 SP1, and
# ntdll, which is always the system's.
allowed=(advapi32 clbcatq comdlg32 difxapi gdi32 iertutil imagehlp imm32 kernel32 lpk msctf
         msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost shell32 shlwapi urlmon user32
         usp10 wininet wldap32 ws2_32 ntdll)
allowed=" ${allowed[*]/%/.dll} "
forbidden=" hid.dll setupapi.dll cfgmgr32.dll "

status=0
for dll in "$@"; do
  [ -f "$dll" ] || { echo "FAIL: $dll does not exist"; status=1; continue; }
  dump=$("$objdump" -p "$dll") || { echo "FAIL: $objdump -p $dll"; status=1; continue; }
  imports=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$dump" | tr 'A-Z' 'a-z' | tr -d '\r')
  echo "$(basename "$dll") imports: $(echo $imports)"
  for name in $imports; do
    if [[ $forbidden == *" $name "* ]]; then
      echo "FAIL: $(basename "$dll") imports $name, which must be loaded from the system folder at run time"
      status=1
    elif [[ $allowed != *" $name "* ]]; then
      echo "FAIL: $(basename "$dll") imports $name, not a KnownDLL: load it at run time from the system folder"
      status=1
    fi
  done
done
exit $status
