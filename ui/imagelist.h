#pragma once
// An image list of our own icons. comctl32 is no KnownDLL, so its image-list entries
// are taken from the library the dialogs already loaded (InitCommonControlsOnce).
#include <windows.h>
#include <commctrl.h>

class TImageList {
public:
    TImageList() = default;
    ~TImageList();
    TImageList(const TImageList&) = delete;
    TImageList& operator=(const TImageList&) = delete;

    // A list of size x size images, one per icon resource firstId, firstId + 1, ... of
    // this module, in that order; an icon that does not load leaves the list shorter.
    // False when comctl32 offers no image lists (the list stays empty).
    bool LoadIcons(int firstId, int count, int size = 16);
    void Clear() noexcept;
    HIMAGELIST Handle() const noexcept { return list_; }
    int Count() const noexcept;

private:
    HIMAGELIST list_ = nullptr;
};
