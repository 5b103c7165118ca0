#include "rtl/shellfolders.h"

// No shell here: the portable build's tests give their folders through an override.
bool PlatformSpecialFolder(int /*folderId*/, std::string& /*path*/) { return false; }
