// Real reading threads against one engine while the UI side (this thread, on the
// virtual clock) takes the expiries: every burst that ends must carry the
// signature of whole reports, and no report may be lost or counted twice.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "engine/hidprocessor.h"
#include "rtl/virtualclock.h"
#include "tests/support/fake_port.h"

namespace {
constexpr int Readers = 3;
constexpr int ReportsPerReader = 2000;

struct TEnded {
    uint32_t signature;
    THidAction* match;
};

// Stands in for QuietTimeout's first steps, keeping what each expiry saw.
struct TExpiryRecorder {
    THidProcessor* engine;
    THidDevicehandler* handler;
    std::vector<TEnded> ended;
    std::atomic<int> endedCount{0};
    void operator()(TObject*) {
        handler->QuietTimer->SetEnabled(false);
        uint32_t signature;
        if (handler->EndBurst(signature)) {
            ended.push_back({signature, engine->MatchAction(signature, handler->Hid->DeviceIndex())});
            endedCount.fetch_add(1);
        }
    }
};

TEST(HandOver, BurstsFromConcurrentReadersAreWholeReports) {
    auto clock = TVirtualClock::Install();
    THidProcessor engine;
    engine.Mode = true;
    std::vector<TFakePort*> ports;
    std::vector<std::vector<uint8_t>> reports;
    std::vector<std::map<uint32_t, int>> lengthOf(Readers);  // signature -> reports in the burst
    std::vector<TExpiryRecorder> recorders(Readers);  // not moved once the readers run

    for (int d = 0; d < Readers; ++d) {
        auto port = std::make_unique<TFakePort>(d);
        ports.push_back(port.get());
        auto* h = new THidDevicehandler(std::move(port));
        engine.Handlers.Add(h);
        ports[d]->SetTag(d);
        h->QuietTimer->SetTag(d);
        ports[d]->SetOnAfterReceive(TOnReceived::Bind<&THidProcessor::ReportReceived>(&engine));
        recorders[d].engine = &engine;
        recorders[d].handler = h;
        h->QuietTimer->SetOnTimer(TNotifyEvent::Of(&recorders[d]));

        // Reports of 64 bytes, different on every device.
        std::vector<uint8_t> report(64);
        for (size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i * 7 + d * 31 + 1);
        reports.push_back(report);
        uint32_t s = SignatureNone;
        for (int n = 1; n <= ReportsPerReader; ++n) {
            s = UpdateSignature(report.data(), report.size(), s);
            ASSERT_TRUE(lengthOf[d].emplace(s, n).second) << "signatures must tell the burst lengths apart";
        }
        // One learned button per device: a single report.
        auto* a = new THidAction();
        a->Code = static_cast<TActionCode>(d + 1);
        a->DeviceIndex = d;
        a->PressSignature = UpdateSignature(report.data(), report.size(), SignatureNone);
        engine.Add(a);
    }

    std::atomic<int> done{0};
    std::vector<std::thread> readers;
    for (int d = 0; d < Readers; ++d)
        readers.emplace_back([&, d] {
            std::mt19937 random(d);
            for (int i = 0; i < ReportsPerReader; ++i) {
                // Read first: the burst may end before Receive returns here.
                const int before = recorders[d].endedCount.load();
                ports[d]->Receive(reports[d]);
                switch (random() % 8) {
                    case 0: {
                        // A pause long enough for the burst to end: wait for the UI side,
                        // while the other readers keep going.
                        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                        while (recorders[d].endedCount.load() == before && std::chrono::steady_clock::now() < deadline)
                            std::this_thread::yield();
                        break;
                    }
                    case 1:
                        // A pause of about the quiet time: the report races the expiry.
                        for (int spin = static_cast<int>(random() % 2000); spin > 0; --spin) std::this_thread::yield();
                        break;
                    default: break;
                }
            }
            done.fetch_add(1);
        });
    while (done.load() < Readers) clock->Advance(100);
    for (auto& r : readers) r.join();
    clock->Advance(1000);

    for (int d = 0; d < Readers; ++d) {
        int total = 0, single = 0;
        for (const TEnded& e : recorders[d].ended) {
            auto it = lengthOf[d].find(e.signature);
            ASSERT_NE(it, lengthOf[d].end()) << "device " << d << ": a burst ended inside a report";
            total += it->second;
            if (it->second == 1) {
                ++single;
                EXPECT_EQ(e.match, engine.Items(d));
            } else {
                EXPECT_EQ(e.match, nullptr);
            }
        }
        EXPECT_EQ(total, ReportsPerReader) << "device " << d << ": every report in exactly one burst";
        EXPECT_GT(recorders[d].ended.size(), 1u) << "the UI side must have ended bursts while reports came in";
        std::printf("device %d: %zu bursts, %d of a single report\n", d, recorders[d].ended.size(), single);
    }
}
}  // namespace
