#include "rtl/list.h"

#include <gtest/gtest.h>

namespace {
struct TItem : TObject {};

TEST(TList, AddReturnsPositionAndIndexOfFindsIt) {
    TItem a, b, c;
    TList<TItem> list;
    EXPECT_EQ(list.Add(&a), 0);
    EXPECT_EQ(list.Add(&b), 1);
    list.Insert(1, &c);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(1), &c);
    EXPECT_EQ(list.IndexOf(&b), 2);
    EXPECT_EQ(list.IndexOf(nullptr), -1);
    list.Delete(0);
    EXPECT_EQ(list.Items(0), &c);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(TList, PositionOutsideTheListRaisesTheIndexError) {
    TItem a;
    TList<TItem> list;
    list.Add(&a);
    for (int bad : {-1, 1, 1000}) {
        EXPECT_THROW(list.Items(bad), EListError) << bad;
        EXPECT_THROW(list.Delete(bad), EListError) << bad;
    }
    EXPECT_THROW(list.Insert(2, &a), EListError);
    try {
        list.Items(5);
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (5)");
    }
    EXPECT_EQ(list.Count(), 1);
}

struct TCounted : TObject {
    explicit TCounted(int& alive) : alive_(alive) { ++alive_; }
    ~TCounted() override { --alive_; }
    int& alive_;
};

TEST(TList, OwnsNothing) {
    int alive = 0;
    TCounted a(alive), b(alive);
    {
        TList<TCounted> list;
        list.Add(&a);
        list.Add(&b);
        list.Delete(0);
        list.Clear();
        list.Add(&a);
    }
    EXPECT_EQ(alive, 2);
}
}  // namespace
