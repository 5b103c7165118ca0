// The configuration dialog on the fake HID platform, run as the host entries run it.
#include "tests/ui/config_fixture.h"
