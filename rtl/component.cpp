#include "rtl/component.h"

#include <algorithm>

#include "rtl/exception.h"
#include "rtl/format.h"

namespace {
void Erase(std::vector<TComponent*>& list, TComponent* item) noexcept {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}
}  // namespace

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    // Tell everyone who holds a reference first, while this object is whole.
    while (!freeNotifies_.empty()) {
        TComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        Erase(other->freeNotifies_, this);
        try {
            other->Notification(this, TOperation::opRemove);
        } catch (...) {
            // A destructor has nobody to report to; the reference is unlinked anyway.
        }
    }
    // Owned components go last created first, as their creators expect.
    while (!components_.empty()) delete components_.back();
    if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        throw EListError(Format("List index out of bounds (%d)", index));
    return components_[static_cast<size_t>(index)];
}

void TComponent::InsertComponent(TComponent* component) {
    components_.push_back(component);
    component->owner_ = this;
    Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    try {
        Notification(component, TOperation::opRemove);
    } catch (...) {
    }
    Erase(components_, component);
    component->owner_ = nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
        freeNotifies_.push_back(other);
        other->freeNotifies_.push_back(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (other) Unlink(other);
}

void TComponent::Unlink(TComponent* other) noexcept {
    Erase(freeNotifies_, other);
    Erase(other->freeNotifies_, this);
}

void TComponent::Loaded() { loading_ = false; }

void TComponent::Notification(TComponent* /*component*/, TOperation /*operation*/) {}
