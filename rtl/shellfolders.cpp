#include "rtl/shellfolders.h"

#include <utility>

namespace {
TSpecialFolderLookup& Override() {
    static TSpecialFolderLookup lookup;
    return lookup;
}
}  // namespace

bool GetSpecialFolder(int folderId, std::string& path) {
    if (const auto& lookup = Override()) return lookup(folderId, path);
    return PlatformSpecialFolder(folderId, path);
}

TSpecialFolderOverride::TSpecialFolderOverride(TSpecialFolderLookup lookup)
    : previous_(std::exchange(Override(), std::move(lookup))) {}

TSpecialFolderOverride::~TSpecialFolderOverride() { Override() = std::move(previous_); }
