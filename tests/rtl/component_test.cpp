#include "rtl/component.h"

#include <gtest/gtest.h>

#include "rtl/exception.h"

#include <string>
#include <vector>

namespace {
std::vector<std::string> destroyed;

struct TNamed : TComponent {
    TNamed(TComponent* owner, std::string name) : TComponent(owner), name_(std::move(name)) {}
    ~TNamed() override { destroyed.push_back(name_); }
    std::string name_;
};

// Holds a reference to another component and clears it when that one goes.
struct THolder : TNamed {
    using TNamed::TNamed;
    void Watch(TComponent* c) {
        target = c;
        c->FreeNotification(this);
    }
    void Notification(TComponent* c, TOperation op) override {
        if (op == TOperation::opRemove && c == target) target = nullptr;
    }
    TComponent* target = nullptr;
};

TEST(TComponent, OwnerFreesOwnedComponentsLastCreatedFirst) {
    destroyed.clear();
    auto* owner = new TNamed(nullptr, "owner");
    new TNamed(owner, "a");
    auto* b = new TNamed(owner, "b");
    new TNamed(b, "b.1");
    EXPECT_EQ(owner->ComponentCount(), 2);
    delete owner;
    EXPECT_EQ(destroyed, (std::vector<std::string>{"owner", "b", "b.1", "a"}));
}

TEST(TComponent, DeletingAnOwnedComponentTakesItFromItsOwner) {
    destroyed.clear();
    TNamed owner(nullptr, "owner");
    auto* a = new TNamed(&owner, "a");
    delete a;
    EXPECT_EQ(owner.ComponentCount(), 0);
    EXPECT_THROW(owner.Components(0), EListError);
}

TEST(TComponent, FreeNotificationClearsTheReference) {
    THolder holder(nullptr, "holder");
    auto* target = new TNamed(nullptr, "target");
    holder.Watch(target);
    holder.Watch(target);  // asking twice is harmless
    delete target;
    EXPECT_EQ(holder.target, nullptr);
}

TEST(TComponent, FreeNotificationEndsWhenTheWatcherGoesFirst) {
    TNamed target(nullptr, "target");
    {
        THolder holder(nullptr, "holder");
        holder.Watch(&target);
    }
    // target's destructor must not tell the holder that is gone (ASan would see it).
}

TEST(TComponent, RemovedFreeNotificationIsNotTold) {
    THolder holder(nullptr, "holder");
    auto* target = new TNamed(nullptr, "target");
    holder.Watch(target);
    target->RemoveFreeNotification(&holder);
    delete target;
    EXPECT_NE(holder.target, nullptr);
}

TEST(TComponent, LoadingEndsWithLoadedAndTagIsFree) {
    TNamed c(nullptr, "c");
    EXPECT_FALSE(c.Loading());
    c.BeginLoading();
    EXPECT_TRUE(c.Loading());
    c.Loaded();
    EXPECT_FALSE(c.Loading());
    EXPECT_EQ(c.Tag(), 0);
    c.SetTag(-7);
    EXPECT_EQ(c.Tag(), -7);
}
}  // namespace
