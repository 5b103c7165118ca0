#pragma once
// An engine with one device handler on a fake port, for measuring the reading
// thread's cost of a report: the fold, the burst state and the hand-over.
#include <memory>
#include <vector>

#include "engine/hidprocessor.h"
#include "rtl/virtualclock.h"
#include "tests/support/fake_port.h"

class TReportFixture {
public:
    explicit TReportFixture(size_t reportSize) : report(reportSize) {
        auto port = std::make_unique<TFakePort>(0);
        this->port = port.get();
        auto* h = new THidDevicehandler(std::move(port));
        engine.Handlers.Add(h);
        this->port->SetOnAfterReceive(TOnReceived::Bind<&THidProcessor::ReportReceived>(&engine));
        h->QuietTimer->SetOnTimer(TNotifyEvent::Bind<&THidProcessor::QuietTimeout>(&engine));
        for (size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(i * 13 + 5);
    }

    std::shared_ptr<TVirtualClock> clock = TVirtualClock::Install();
    THidProcessor engine;
    TFakePort* port;
    std::vector<uint8_t> report;
};
