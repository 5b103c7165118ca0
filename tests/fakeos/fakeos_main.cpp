// main of the test programs that run on the fake HID platform: the fakes are in the
// system folder before the first test starts.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/fakeos/fakeos.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no platform, and may run in the shared prefix.
    if (!GTEST_FLAG_GET(list_tests) && !KwFake_InstallAll()) {
        std::fprintf(stderr,
                     "cannot install the fake HID platform (error %lu): it needs a private Wine prefix "
                     "(KW_WINE_PRIVATE_PREFIX=1)\n",
                     GetLastError());
        return 1;
    }
    return RUN_ALL_TESTS();
}
