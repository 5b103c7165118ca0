/* Holds the desktop of a Wine prefix while tests come and go. With no process on it, Wine
 * closes the desktop a second after the last program leaves, and the next program that
 * makes a window waits for a new explorer (seconds under emulation).
 *
 *   wine-keeper.exe STAMP IDLE_SECONDS
 *
 * Exits once STAMP (a file the runner touches at every run) is older than IDLE_SECONDS or
 * gone, so the prefix's server can then time out as usual. */
#include <windows.h>

#include <stdlib.h>

static int idle_too_long(const char *stamp, ULONGLONG idle_100ns)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME now;
    ULARGE_INTEGER t, n;
    if (!GetFileAttributesExA(stamp, GetFileExInfoStandard, &data)) return 1;
    GetSystemTimeAsFileTime(&now);
    t.LowPart = data.ftLastWriteTime.dwLowDateTime;
    t.HighPart = data.ftLastWriteTime.dwHighDateTime;
    n.LowPart = now.dwLowDateTime;
    n.HighPart = now.dwHighDateTime;
    return n.QuadPart > t.QuadPart && n.QuadPart - t.QuadPart > idle_100ns;
}

int main(int argc, char **argv)
{
    if (argc != 3) return 2;
    const ULONGLONG idle = (ULONGLONG)strtoul(argv[2], NULL, 10) * 10000000ull;
    /* A hidden window ties this process to the desktop, which starts it if needed. */
    if (!CreateWindowExA(0, "STATIC", "wine-keeper", WS_POPUP, 0, 0, 1, 1,
                         NULL, NULL, GetModuleHandleA(NULL), NULL))
        return 1;
    while (!idle_too_long(argv[1], idle)) {
        /* Sleeps while answering the messages sent to our window. */
        MsgWaitForMultipleObjects(0, NULL, FALSE, 5000, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    return 0;
}
