// cfgmgr32.dll of the fake platform. Defined first: the header then declares the
// entries as ours, not as imports.
#define _CFGMGR32_
#include "tests/fakeos/fakeos_entries.h"

#include "tests/fakeos/cm_shim.inc"
