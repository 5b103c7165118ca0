#include <windows.h>

// Nothing to set up per process or thread: the plug-in starts when the player asks it to.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
