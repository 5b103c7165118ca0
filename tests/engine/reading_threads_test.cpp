// The device handlers over ports that deliver from the moment they open: while
// later handlers are created, the reading threads of the earlier ones already run.
// ThreadSanitizer watches that no reading thread touches what the UI thread changes.
#include <gtest/gtest.h>

#include <memory>

#include "engine/hidprocessor.h"
#include "rtl/virtualclock.h"
#include "tests/support/streaming_port.h"

namespace {
TEST(ReadingThreads, HandlersStartAndStopWhilePortsDeliver) {
    constexpr int Devices = 8, Rounds = 4;
    auto clock = TVirtualClock::Install();
    TStreamingPortFactory ports(Devices);
    THidProcessor engine;
    for (int d = 0; d < Devices; ++d) {
        auto* a = new THidAction();
        a->Code = 2;
        a->DeviceIndex = d;
        a->PressSignature = 0x1234;
        engine.Add(a);
    }

    for (int round = 0; round < Rounds; ++round) {
        SCOPED_TRACE(round);
        // Each open waits for a report from every port opened before it.
        engine.StartHandlers();
        ASSERT_EQ(engine.Handlers.Count(), Devices);
        ASSERT_EQ(ports.Open().size(), static_cast<size_t>(Devices));
        for (int i = 0; i < Devices; ++i) {
            THidDevicehandler* h = engine.Handlers.Items(i);
            EXPECT_EQ(h->Hid->DeviceIndex(), i);
            EXPECT_EQ(&h->Hid->Component(), ports.Open()[static_cast<size_t>(i)]);
        }
        // The UI side takes the reports' restarts and expiries while they keep coming.
        clock->Advance(1000);
        engine.StopHandlers();
        EXPECT_TRUE(ports.Open().empty());
        EXPECT_EQ(clock->RunningTimers(), 0u);
    }
    EXPECT_EQ(ports.Made(), 1 + Devices * Rounds) << "the enumerator and fresh ports every start";
}
}  // namespace
