#include <windows.h>

// Nothing is set up or torn down here. The loader lock is held: the engine, whose device
// handlers wait for their reading threads, is released in DllCanUnloadNow before the
// library goes, and while it runs it keeps the library loaded. At process termination
// (reserved not null) the system ends every thread itself.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
