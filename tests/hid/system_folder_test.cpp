// The three libraries load from the system folder only: a DLL of the same name in the
// program's folder or the current folder, where the default search order looks, is
// never taken, also not where the loader refuses LOAD_LIBRARY_SEARCH_SYSTEM32 and the
// library is loaded by its full path.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "hid/kwhidw32.h"
#include "hid/kwwin32di.h"
#include "tests/hid/bindings_fixture.h"
#include "tests/support/old_loader.h"
#include "tests/support/temp_folder.h"

namespace {

enum TPlace { ProgramFolder, CurrentFolder };
const char* const PlaceNames[] = {"ProgramFolder", "CurrentFolder"};

std::string ProgramFolderPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\'));
}

// A copy of a file that is removed again, and the current folder put back.
class TPlanted {
public:
    TPlanted(const std::string& from, const std::string& folder, const std::string& name, bool makeCurrent)
        : path_(folder + "\\" + name) {
        if (makeCurrent) {
            char current[MAX_PATH] = {};
            GetCurrentDirectoryA(MAX_PATH, current);
            previous_ = current;
            SetCurrentDirectoryA(folder.c_str());
        }
        copied_ = CopyFileA(from.c_str(), path_.c_str(), FALSE);
    }
    ~TPlanted() {
        if (copied_) DeleteFileA(path_.c_str());
        if (!previous_.empty()) SetCurrentDirectoryA(previous_.c_str());
    }
    TPlanted(const TPlanted&) = delete;
    TPlanted& operator=(const TPlanted&) = delete;
    bool Copied() const { return copied_; }

private:
    std::string path_;
    std::string previous_;
    bool copied_ = false;
};

class SystemFolderOnly : public TBindingTest,
                         public testing::WithParamInterface<std::tuple<const char*, TPlace>> {};

TEST_P(SystemFolderOnly, APlantedLibraryIsNotLoaded) {
    const auto& [library, place] = GetParam();
    const std::string file = std::string(library) + ".dll";
    TTempFolder temp;
    // The full fake build, planted before the system folder loses its own.
    TPlanted planted(SystemFolderPath() + "\\" + file, place == ProgramFolder ? ProgramFolderPath() : temp.Root(),
                     file, place == CurrentFolder);
    ASSERT_TRUE(planted.Copied()) << "error " << GetLastError();
    Install(library, "missing");

    // The default search order takes it ...
    const HMODULE found = LoadLibraryA(file.c_str());
    ASSERT_NE(found, nullptr) << "error " << GetLastError();
    FreeLibrary(found);
    ASSERT_FALSE(Loaded(file.c_str()));

    // ... the binding does not.
    const bool bound = std::string(library) == "hid" ? kwhidw32::LoadHidLibrary() : kwwin32di::LoadSetupApi();
    EXPECT_FALSE(bound);
    EXPECT_FALSE(Loaded(file.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Libraries, SystemFolderOnly,
                         testing::Combine(testing::Values("hid", "setupapi", "cfgmgr32"),
                                          testing::Values(ProgramFolder, CurrentFolder)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) + "_" + PlaceNames[std::get<1>(info.param)];
                         });

bool Bind(const std::string& library) {
    return library == "hid" ? kwhidw32::LoadHidLibrary() : kwwin32di::LoadSetupApi();
}
HMODULE Bound(const std::string& library) {
    return library == "hid"        ? kwhidw32::HidLibraryHandle()
           : library == "setupapi" ? kwwin32di::SetupApiHandle()
                                   : kwwin32di::ConfigManagerHandle();
}
std::string FileOf(HMODULE module) {
    char path[MAX_PATH] = {};
    return std::string(path, module ? GetModuleFileNameA(module, path, MAX_PATH) : 0);
}

class OldLoader : public SystemFolderOnly {};

TEST_P(OldLoader, TakesTheLibraryFromTheSystemFolderByItsFullPath) {
    const auto& [library, place] = GetParam();
    const std::string file = std::string(library) + ".dll";
    const std::string systemCopy = SystemFolderPath() + "\\" + file;
    TTempFolder temp;
    TPlanted planted(systemCopy, place == ProgramFolder ? ProgramFolderPath() : temp.Root(), file,
                     place == CurrentFolder);
    ASSERT_TRUE(planted.Copied()) << "error " << GetLastError();

    {
        TOldLoader loader;
        ASSERT_TRUE(Bind(library));
        EXPECT_EQ(lstrcmpiA(FileOf(Bound(library)).c_str(), systemCopy.c_str()), 0) << FileOf(Bound(library));
        // Asked with the flag first, refused, then by the full path.
        const std::vector<TOldLoader::TCall> calls = TOldLoader::CallsFor(file);
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].Flags, DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32});
        EXPECT_EQ(lstrcmpiA(calls[1].Name.c_str(), systemCopy.c_str()), 0) << calls[1].Name;
    }

    // With the system's own gone, the planted copy is not taken instead.
    Unbind();
    Install(library, "missing");
    {
        TOldLoader loader;
        EXPECT_FALSE(Bind(library));
        EXPECT_FALSE(Loaded(file.c_str()));
    }
}

INSTANTIATE_TEST_SUITE_P(Libraries, OldLoader,
                         testing::Combine(testing::Values("hid", "setupapi", "cfgmgr32"),
                                          testing::Values(ProgramFolder, CurrentFolder)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) + "_" + PlaceNames[std::get<1>(info.param)];
                         });

}  // namespace
