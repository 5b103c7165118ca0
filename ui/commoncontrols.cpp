#include "ui/commoncontrols.h"

#include <commctrl.h>

#include <mutex>

#include "rtl/win32/module.h"

namespace {
// The context lives as long as the module: one per process for all our dialogs.
class TActCtxOwner {
public:
    TActCtxOwner() {
        ACTCTXW ctx{};
        ctx.cbSize = sizeof(ctx);
        ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
        ctx.hModule = ThisModule();
        ctx.lpResourceName = MAKEINTRESOURCEW(2);  // ISOLATIONAWARE_MANIFEST_RESOURCE_ID
        handle_ = ::CreateActCtxW(&ctx);
    }
    ~TActCtxOwner() {
        if (handle_ != INVALID_HANDLE_VALUE) ::ReleaseActCtx(handle_);
    }
    HANDLE Get() const noexcept { return handle_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

HANDLE Context() noexcept {
    static TActCtxOwner owner;
    return owner.Get();
}

HMODULE comctl = nullptr;
}  // namespace

TActivation::TActivation() noexcept {
    const HANDLE ctx = Context();
    if (ctx != INVALID_HANDLE_VALUE) active_ = ::ActivateActCtx(ctx, &cookie_) != FALSE;
}

TActivation::~TActivation() {
    if (active_) ::DeactivateActCtx(0, cookie_);
}

bool InitCommonControlsOnce() noexcept {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        // From the system folder only; inside our context the loader takes version 6
        // from the side-by-side store. Kept to the end of the process: nothing frees a
        // library from DllMain or a static destructor.
        comctl = LoadSystemLibrary("comctl32.dll");
        if (!comctl) return;
        using TInit = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
        const auto init = reinterpret_cast<TInit>(reinterpret_cast<void*>(::GetProcAddress(comctl, "InitCommonControlsEx")));
        if (!init) return;
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS |
                                                  ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_TREEVIEW_CLASSES |
                                                  ICC_LINK_CLASS};
        ok = init(&icc) != FALSE;
    });
    return ok;
}

HMODULE CommonControlsModule() noexcept { return comctl; }
