#!/usr/bin/env bash
# check-imports.sh OBJDUMP DLL...
# Fails when a DLL imports anything but the system DLLs below. HID.DLL, SetupAPI.dll and
# cfgmgr32.dll are bound by name at run time from the system folder, never imported: an
# import would be resolved through the player's search order.
set -euo pipefail

objdump=$1; shift
allowed=(kernel32 user32 gdi32 advapi32 shell32 shlwapi ole32 oleaut32 comctl32 comdlg32
         version msvcrt ntdll uxtheme winmm imm32)
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
      echo "FAIL: $(basename "$dll") imports $name, not a system DLL"
      status=1
    fi
  done
done
exit $status
