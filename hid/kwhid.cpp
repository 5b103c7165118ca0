#include "hid/kwhid.h"

GUID HidClassGuid{};
