#include "ui/imagelist.h"

#include "rtl/win32/handle.h"
#include "rtl/win32/module.h"
#include "ui/commoncontrols.h"

namespace {
struct TImageListEntries {
    HIMAGELIST(WINAPI* create)(int, int, UINT, int, int) = nullptr;
    int(WINAPI* replaceIcon)(HIMAGELIST, int, HICON) = nullptr;
    BOOL(WINAPI* destroy)(HIMAGELIST) = nullptr;
    int(WINAPI* count)(HIMAGELIST) = nullptr;
};

template <typename F>
void Bind(HMODULE module, const char* name, F& entry) {
    entry = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

const TImageListEntries& Entries() {
    static const TImageListEntries entries = [] {
        TImageListEntries e;
        if (const HMODULE comctl = CommonControlsModule()) {
            Bind(comctl, "ImageList_Create", e.create);
            Bind(comctl, "ImageList_ReplaceIcon", e.replaceIcon);
            Bind(comctl, "ImageList_Destroy", e.destroy);
            Bind(comctl, "ImageList_GetImageCount", e.count);
        }
        return e;
    }();
    return entries;
}

struct TIconTraits {
    using pointer = HICON;
    static pointer Empty() noexcept { return nullptr; }
    static void Close(pointer icon) noexcept { ::DestroyIcon(icon); }
};
}  // namespace

TImageList::~TImageList() { Clear(); }

void TImageList::Clear() noexcept {
    if (list_ && Entries().destroy) Entries().destroy(list_);
    list_ = nullptr;
}

bool TImageList::LoadIcons(int firstId, int count, int size) {
    Clear();
    InitCommonControlsOnce();
    const TImageListEntries& e = Entries();
    if (!e.create || !e.replaceIcon || !e.destroy || !e.count) return false;
    list_ = e.create(size, size, ILC_COLOR32 | ILC_MASK, count, 0);
    if (!list_) return false;
    for (int k = 0; k < count; ++k) {
        const HANDLE loaded = ::LoadImageA(ThisModule(), MAKEINTRESOURCEA(firstId + k), IMAGE_ICON, size, size, 0);
        const TUniqueHandle<TIconTraits> icon(static_cast<HICON>(loaded));
        if (!icon.get() || e.replaceIcon(list_, -1, icon.get()) < 0) break;
    }
    return true;
}

int TImageList::Count() const noexcept {
    return list_ && Entries().count ? Entries().count(list_) : 0;
}
