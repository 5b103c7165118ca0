// Exit code 0 when every module named on the command line carries our manifest as the
// resource an activation context is made from (RT_MANIFEST 2).
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        const HMODULE m = LoadLibraryExA(argv[i], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        const HRSRC r = m ? FindResourceA(m, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(24)) : nullptr;
        const DWORD size = r ? SizeofResource(m, r) : 0;
        const void* text = r ? LockResource(LoadResource(m, r)) : nullptr;
        const bool ok = text && size && strstr(static_cast<const char*>(text), "Microsoft.Windows.Common-Controls");
        std::printf("%s: %s\n", argv[i], ok ? "manifest" : "NO manifest");
        failed += ok ? 0 : 1;
        if (m) FreeLibrary(m);
    }
    return failed;
}
