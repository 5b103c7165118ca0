#pragma once
// The component base: an owner frees what it owns; components that asked for free
// notification are told when another is destroyed, so they can clear their
// references; a loading state ends with Loaded; Tag is a free integer.
#include <cstdint>
#include <vector>

#include "rtl/object.h"

enum class TOperation { opInsert, opRemove };

class TComponent : public TObject {
public:
    // An owned component is freed by its owner (or earlier by delete, which
    // takes it out of the owner's list).
    explicit TComponent(TComponent* owner);
    ~TComponent() override;

    TComponent* Owner() const noexcept { return owner_; }
    int ComponentCount() const noexcept { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const;

    // Asks to be told (Notification with opRemove) when other is destroyed; the
    // link is mutual, so either side going away ends it.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    bool Loading() const noexcept { return loading_; }
    bool Destroying() const noexcept { return destroying_; }
    // Marks the start of applying stored properties; Loaded ends it.
    void BeginLoading() noexcept { loading_ = true; }
    virtual void Loaded();

    intptr_t Tag() const noexcept { return tag_; }
    void SetTag(intptr_t value) noexcept { tag_ = value; }

protected:
    virtual void Notification(TComponent* component, TOperation operation);

private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);
    void Unlink(TComponent* other) noexcept;

    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    intptr_t tag_ = 0;
    bool loading_ = false;
    bool destroying_ = false;
};
