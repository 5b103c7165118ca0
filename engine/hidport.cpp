#include "engine/hidport.h"

#include <utility>

namespace {
THidPortFactory& Factory() {
    static THidPortFactory factory;
    return factory;
}
}  // namespace

void SetHidPortFactory(THidPortFactory factory) { Factory() = std::move(factory); }

std::unique_ptr<IHidPort> CreateHidPort() {
    const THidPortFactory& factory = Factory();
    return factory ? factory() : nullptr;
}
