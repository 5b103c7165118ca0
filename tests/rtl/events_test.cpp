#include "rtl/events.h"

#include <gtest/gtest.h>

namespace {
struct TListener {
    int first = 0, second = 0;
    void First(TObject*) { ++first; }
    void Second(TObject*) { ++second; }
};

TEST(TEvent, EmptyReferenceIsFalse) {
    TNotifyEvent none;
    EXPECT_FALSE(none);
    EXPECT_TRUE(none == TNotifyEvent());
}

TEST(TEvent, CallsTheBoundMethodOfTheBoundObject) {
    TListener a, b;
    TNotifyEvent e = TNotifyEvent::Bind<&TListener::Second>(&b);
    e(nullptr);
    e(nullptr);
    EXPECT_EQ(b.second, 2);
    EXPECT_EQ(b.first + a.first + a.second, 0);
}

TEST(TEvent, IdentityIsObjectAndMethod) {
    TListener a, b;
    const auto aFirst = TNotifyEvent::Bind<&TListener::First>(&a);
    EXPECT_TRUE(aFirst == TNotifyEvent::Bind<&TListener::First>(&a));
    EXPECT_FALSE(aFirst == TNotifyEvent::Bind<&TListener::Second>(&a));
    EXPECT_FALSE(aFirst == TNotifyEvent::Bind<&TListener::First>(&b));
    EXPECT_FALSE(aFirst == TNotifyEvent());
}

TEST(TEvent, CallableObjectsCompareByAddress) {
    int calls = 0;
    auto f = [&](TObject*) { ++calls; };
    auto g = f;
    const auto ef = TNotifyEvent::Of(&f);
    ef(nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(ef == TNotifyEvent::Of(&f));
    EXPECT_FALSE(ef == TNotifyEvent::Of(&g));
}

TEST(TEvent, PassesArgumentsAndResult) {
    auto add = [](int a, int b) { return a + b; };
    EXPECT_EQ((TEvent<int(int, int)>::Of(&add)(2, 3)), 5);
}
}  // namespace
