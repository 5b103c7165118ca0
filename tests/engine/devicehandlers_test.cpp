// Starting, stopping and restarting the device handlers over fake ports.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "engine/hidprocessor.h"
#include "rtl/virtualclock.h"
#include "tests/support/fake_port.h"

namespace {
class DeviceHandlersTest : public testing::Test {
protected:
    void Actions(std::initializer_list<int> devices, bool assigned = true) {
        for (int d : devices) {
            auto* a = new THidAction();
            a->Code = 2;
            a->DeviceIndex = d;
            if (assigned) a->PressSignature = 0x1234;
            engine->Add(a);
        }
    }
    // (device index, tag of port, tag of timer, port open) of every handler.
    std::vector<std::vector<int>> Handlers() {
        std::vector<std::vector<int>> rows;
        for (int i = 0; i < engine->Handlers.Count(); ++i) {
            THidDevicehandler* h = engine->Handlers.Items(i);
            rows.push_back({h->Hid->DeviceIndex(), static_cast<int>(h->Hid->Component().Tag()),
                            static_cast<int>(h->QuietTimer->Tag()), h->Hid->Active() ? 1 : 0});
        }
        return rows;
    }

    std::shared_ptr<TVirtualClock> clock = TVirtualClock::Install();
    TFakePortFactory ports{3};
    std::unique_ptr<THidProcessor> engine = std::make_unique<THidProcessor>();
};

using Rows = std::vector<std::vector<int>>;

TEST_F(DeviceHandlersTest, OneHandlerPerDeviceInTheOrderActionsNameThem) {
    Actions({1, 0, 1, 0});
    engine->StartHandlers();
    EXPECT_EQ(Handlers(), (Rows{{1, 0, 0, 1}, {0, 1, 1, 1}}));
    EXPECT_EQ(engine->FindHandler(0), engine->Handlers.Items(1));
    EXPECT_EQ(engine->FindHandler(2), nullptr);
    EXPECT_EQ(ports.made.size(), 3u) << "the enumerator and one port per handler";
    EXPECT_EQ(ports.made[0]->refreshes, 1) << "the enumerator counts the devices once per start";
    EXPECT_EQ(ports.made[1]->refreshes, 1) << "each handler's port builds its own list";
}

TEST_F(DeviceHandlersTest, UnusableDeviceIndicesGetNoHandler) {
    Actions({-1, 5, 3});
    engine->StartHandlers();
    EXPECT_TRUE(Handlers().empty());
    EXPECT_EQ(ports.made.size(), 1u) << "only the enumerator";
}

TEST_F(DeviceHandlersTest, ActionWithoutSignatureStillOpensItsDevice) {
    Actions({2}, false);
    engine->StartHandlers();
    EXPECT_EQ(Handlers(), (Rows{{2, 0, 0, 1}}));
}

TEST_F(DeviceHandlersTest, RestartClosesAndReopensEveryDeviceInTheSamePositions) {
    Actions({0, 2, 0});
    engine->Items(0)->Pressed = true;
    engine->RepeatTimer->SetEnabled(true);
    engine->StartHandlers();
    const Rows first = Handlers();
    engine->RestartHandlers();
    EXPECT_FALSE(engine->RepeatTimer->Enabled());
    engine->RestartHandlers();
    EXPECT_EQ(Handlers(), first);
    EXPECT_EQ(ports.made.size(), 1u + 3 * 2u) << "fresh ports every start";
    EXPECT_TRUE(engine->Items(0)->Pressed) << "held actions stay held across a restart";
}

TEST_F(DeviceHandlersTest, DeviceThatCannotOpenStopsTheStartAndRaises) {
    Actions({0, 1, 2});
    ports.failingPort = 2;  // the port of device 1
    EXPECT_THROW(engine->StartHandlers(), std::runtime_error);
    EXPECT_EQ(Handlers(), (Rows{{0, 0, 0, 1}, {1, 1, 1, 0}}));
    engine->StopHandlers();
    EXPECT_TRUE(Handlers().empty());
}

TEST_F(DeviceHandlersTest, StoppingDuringABurstNeverMatchesIt) {
    struct TCounting : THidProcessor {
        void DoCommand(TActionCode) override { ++commands; }
        int commands = 0;
    };
    auto counting = std::make_unique<TCounting>();
    TCounting& e = *counting;
    engine = std::move(counting);
    const std::vector<uint8_t> report = {9, 9};
    auto* a = new THidAction();
    a->Code = 3;
    a->DeviceIndex = 0;
    a->PressSignature = UpdateSignature(report.data(), report.size(), SignatureNone);
    e.Add(a);
    e.StartHandlers();
    ports.made.back()->Receive(report);
    clock->Advance(100);
    e.StopHandlers();
    clock->Advance(1000);
    EXPECT_EQ(e.commands, 0);
    EXPECT_EQ(clock->RunningTimers(), 0u);
}

TEST_F(DeviceHandlersTest, DestroyingTheEngineClosesItsPortsFirst) {
    Actions({0, 1});
    engine->StartHandlers();
    TFakePort* port = ports.made.back();
    EXPECT_TRUE(port->Active());
    engine.reset();  // nothing of the ports may be touched after this; ASan watches
    EXPECT_EQ(clock->RunningTimers(), 0u);
}

TEST(DeviceHandlersWithoutPorts, NoFactoryMeansNoDevices) {
    auto clock = TVirtualClock::Install();
    THidProcessor engine;
    auto* a = new THidAction();
    a->DeviceIndex = 0;
    engine.Add(a);
    EXPECT_NO_THROW(engine.RestartHandlers());
    EXPECT_EQ(engine.Handlers.Count(), 0);
}
}  // namespace
