// The configuration dialog's HID page on the fake HID platform.
#include "tests/ui/config_fixture.h"
