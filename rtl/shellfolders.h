#pragma once
// The shell's special folders (CSIDL numbers), asked for with creation of a
// missing folder. Tests can put their own answer in place.
#include <functional>
#include <string>

constexpr int CSIDL_LOCAL_APPDATA_ID = 28;  // the user's local application-data folder

// The folder's path, without a trailing separator as the shell gives it; false
// when the shell has none.
bool GetSpecialFolder(int folderId, std::string& path);

using TSpecialFolderLookup = std::function<bool(int folderId, std::string& path)>;

class TSpecialFolderOverride {
public:
    explicit TSpecialFolderOverride(TSpecialFolderLookup lookup);
    ~TSpecialFolderOverride();
    TSpecialFolderOverride(const TSpecialFolderOverride&) = delete;
    TSpecialFolderOverride& operator=(const TSpecialFolderOverride&) = delete;

private:
    TSpecialFolderLookup previous_;
};

// The platform's own lookup (SHGetSpecialFolderPathA with creation on Windows).
bool PlatformSpecialFolder(int folderId, std::string& path);
