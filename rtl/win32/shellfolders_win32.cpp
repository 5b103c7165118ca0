#include <windows.h>
#include <shlobj.h>

#include "rtl/shellfolders.h"

bool PlatformSpecialFolder(int folderId, std::string& path) {
    char buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, buffer, folderId, TRUE)) return false;
    path = buffer;
    return true;
}
