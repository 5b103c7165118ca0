// kwwin32 under Wine: version blocks of modules built beside this program, keys of the
// prefix's registry, and files and pipes opened for overlapped I/O.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "rtl/format.h"
#include "rtl/win32/handle.h"
#include "tests/support/old_loader.h"
#include "tests/support/temp_folder.h"
#include "util/kwwin32.h"

namespace {
using namespace std::string_literals;

std::string ProgramFolder() {
    char path[MAX_PATH];
    const std::string file(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return file.substr(0, file.rfind('\\'));
}

bool SameNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), int(a.size()),
                                                  b.data(), int(b.size())) == CSTR_EQUAL;
}

std::string RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == nullptr) return "0";
    return Format("%p", static_cast<void*>(root));
}

// ---------------------------------------------------------------------------------------
// GetVersionText

TEST(GetVersionText, OfModuleFiles) {
    const std::string folder = ProgramFolder() + "\\";
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const struct {
        std::string file, format, expected;
    } cases[] = {
        {folder + "kwwin32_versioned.dll", "", "2.0.1.17"},  // the file version, not 9.8.7.6
        {folder + "kwwin32_versioned.dll", "%u.%u", "2.0"},
        {folder + "kwwin32_versioned.dll", "v%u.%u.%u build %u", "v2.0.1 build 17"},
        {folder + "kwwin32_nofixed.dll", "", ""},  // a block without fixed file information
        {self, "", ""},                            // no version block
        {folder + "no such module.dll", "", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " with \"" + c.format + "\"");
        EXPECT_EQ(GetVersionText(c.file, c.format), c.expected);
    }
}

// version.dll is no KnownDLL: it is loaded from the system folder, by its full path
// where the loader refuses the flag, never imported. So is ntdll.dll for the key names.
TEST(GetVersionText, ThroughTheSystemFolderLoader) {
    TOldLoader loader;
    EXPECT_EQ(GetVersionText(ProgramFolder() + "\\kwwin32_versioned.dll"), "2.0.1.17");
    const std::vector<TOldLoader::TCall> calls = TOldLoader::CallsFor("version.dll");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].Flags, DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32});
    EXPECT_TRUE(SameNoCase(calls[1].Name, SystemFolderPath() + "\\version.dll")) << calls[1].Name;
}

TEST(GetRegistryKeyPath, ThroughTheSystemFolderLoader) {
    TOldLoader loader;
    TUniqueRegKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    HKEY root = nullptr;
    EXPECT_TRUE(SameNoCase(GetRegistryKeyPath(key.get(), &root), "Software\\Microsoft"));
    EXPECT_EQ(RootName(root), "HKEY_LOCAL_MACHINE");
    const std::vector<TOldLoader::TCall> calls = TOldLoader::CallsFor("ntdll.dll");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].Flags, DWORD{LOAD_LIBRARY_SEARCH_SYSTEM32});
    EXPECT_TRUE(SameNoCase(calls[1].Name, SystemFolderPath() + "\\ntdll.dll")) << calls[1].Name;
}

// ---------------------------------------------------------------------------------------
// Registry: a key of our own below HKEY_CURRENT_USER, removed afterwards, and keys the
// prefix comes with, opened for reading only.

class Registry : public testing::Test {
protected:
    void SetUp() override {
        path_ = Format("Software\\Clickwell-test\\kwwin32 %lu", GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  key_.put(), nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        key_.reset();
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Clickwell-test");  // only when nothing else is left
    }
    void Set(const char* name, DWORD type, const std::string& data) {
        ASSERT_EQ(RegSetValueExA(key_.get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                 DWORD(data.size())),
                  ERROR_SUCCESS);
    }
    std::string Read(const char* name) { return ReadRegistryString(HKEY_CURRENT_USER, path_, name); }

    std::string path_;
    TUniqueRegKey key_;
};

TEST(RegistryPathFromKeyName, SplitsTheHive) {
    const struct {
        std::string name;
        HKEY root;
        std::string path;
    } cases[] = {
        {"\\REGISTRY\\MACHINE\\SYSTEM\\X", HKEY_LOCAL_MACHINE, "SYSTEM\\X"},
        {"\\REGISTRY\\Machine\\System\\X", HKEY_LOCAL_MACHINE, "System\\X"},  // Wine's spelling
        {"\\Registry\\machine\\x", HKEY_LOCAL_MACHINE, "x"},
        {"\\REGISTRY\\MACHINE\\", HKEY_LOCAL_MACHINE, ""},
        {"\\REGISTRY\\USER\\S-1-5-21-1\\Software\\X", HKEY_CURRENT_USER, "Software\\X"},
        {"\\REGISTRY\\User\\S-1-5-21-1\\Software\\X", HKEY_CURRENT_USER, "Software\\X"},
        {"\\REGISTRY\\USER\\.DEFAULT\\Software", HKEY_CURRENT_USER, "Software"},
        {"\\REGISTRY\\USER\\S-1-5-21-1", HKEY_CURRENT_USER, "S-1-5-21-1"},  // no "\" after the user
        {"\\REGISTRY\\MACHINE", nullptr, "\\REGISTRY\\MACHINE"},
        {"\\REGISTRY\\USER", nullptr, "\\REGISTRY\\USER"},
        {"\\REGISTRY\\A\\MACHINE\\X", nullptr, "\\REGISTRY\\A\\MACHINE\\X"},
        {"\\MACHINE\\\\MACHINE\\X", nullptr, "\\MACHINE\\\\MACHINE\\X"},  // its first occurrence counts
        {"\\REGISTRYX\\USER\\S\\X", nullptr, "\\REGISTRYX\\USER\\S\\X"},
        {"", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HKEY root = HKEY_CLASSES_ROOT;
        EXPECT_EQ(RegistryPathFromKeyName(c.name, root), c.path);
        EXPECT_EQ(RootName(root), RootName(c.root));
    }
}

TEST_F(Registry, KeyPathOfOpenKeys) {
    auto open = [](HKEY root, const char* subKey) {
        TUniqueRegKey key;
        RegOpenKeyExA(root, subKey, 0, KEY_READ, key.put());
        return key;
    };
    const TUniqueRegKey version = open(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion");
    const TUniqueRegKey classes = open(HKEY_CLASSES_ROOT, "CLSID");
    const TUniqueRegKey defaultUser = open(HKEY_USERS, ".DEFAULT\\Software");
    ASSERT_TRUE(version && classes && defaultUser);
    const TUniqueEvent notAKey(CreateEventA(nullptr, TRUE, FALSE, nullptr));

    const struct {
        const char* what;
        HKEY key;
        HKEY root;
        std::string path;  // letter case aside: the prefix decides it
    } cases[] = {
        {"own key", key_.get(), HKEY_CURRENT_USER, path_},
        {"HKLM key", version.get(), HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion"},
        {"HKCR key", classes.get(), HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID"},
        {"another user's key", defaultUser.get(), HKEY_CURRENT_USER, "Software"},
        {"predefined root", HKEY_LOCAL_MACHINE, nullptr, ""},  // ntdll knows no such handle
        {"event", reinterpret_cast<HKEY>(notAKey.get()), nullptr, ""},
        {"invalid handle", reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), nullptr, ""},
        {"null", nullptr, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HKEY root = HKEY_CLASSES_ROOT;
        const std::string path = GetRegistryKeyPath(c.key, &root);
        EXPECT_TRUE(SameNoCase(path, c.path)) << path;
        EXPECT_EQ(RootName(root), RootName(c.root));
    }
}

TEST_F(Registry, KeyPathWithoutRootIsTheFullName) {
    const std::string full = GetRegistryKeyPath(key_.get());
    const std::string user = "\\REGISTRY\\USER\\";
    ASSERT_GT(full.size(), user.size() + path_.size());
    EXPECT_TRUE(SameNoCase(full.substr(0, user.size()), user)) << full;
    EXPECT_EQ(full.substr(full.size() - path_.size() - 1), "\\" + path_) << full;
    RecordProperty("FullName", full);
}

TEST_F(Registry, ReadStringOfValues) {
    const std::string big(100000, 'x');
    const struct {
        const char* name;
        DWORD type;
        std::string stored, expected;
    } cases[] = {
        {"sz", REG_SZ, "abc\0"s, "abc"},
        {"sz unterminated", REG_SZ, "abc", "abc"},
        {"sz empty", REG_SZ, "\0"s, ""},
        {"sz no bytes", REG_SZ, "", ""},
        {"sz inner NUL", REG_SZ, "a\0b\0"s, "a\0b"s},
        {"", REG_SZ, "default\0"s, "default"},
        {"expand", REG_EXPAND_SZ, "%TEMP%\0"s, "%TEMP%\0"s},  // only REG_SZ loses its NUL
        {"multi", REG_MULTI_SZ, "a\0b\0\0"s, "a\0b\0\0"s},
        {"dword", REG_DWORD, "abcd", "abcd"},
        {"binary", REG_BINARY, "\x01\0\xff"s, "\x01\0\xff"s},
        {"big", REG_BINARY, big, big},
    };
    for (const auto& c : cases) Set(c.name, c.type, c.stored);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Read(c.name), c.expected);
    }
    EXPECT_EQ(Read("missing"), "");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, path_ + "\\missing", "sz"), "");
    EXPECT_EQ(ReadRegistryString(key_.get(), "", "sz"), "abc");  // below an open key
    EXPECT_EQ(ReadRegistryString(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), "", "sz"), "");
}

TEST_F(Registry, ReadStringOfThePrefix) {
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    EXPECT_TRUE(SameNoCase(ReadRegistryString(HKEY_LOCAL_MACHINE,
                                              "System\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                                              "ComputerName"),
                           name));
}

// A value that changes size between the size query and the read gives one of its
// values, or nothing when it grew, and never more than the buffer took.
TEST_F(Registry, ReadStringOfAValueChangingSize) {
    const std::string small = "s", large(3000, 'L');
    Set("moving", REG_SZ, small + '\0');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (bool big = true; !stop; big = !big) {
            const std::string& text = big ? large : small;
            RegSetValueExA(key_.get(), "moving", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           DWORD(text.size() + 1));
        }
    });
    int counts[3] = {};
    int others = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string text = Read("moving");
        if (text == small)
            ++counts[0];
        else if (text == large)
            ++counts[1];
        else if (text.empty())
            ++counts[2];
        else
            ++others;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(others, 0);
    RecordProperty("Small", counts[0]);
    RecordProperty("Large", counts[1]);
    RecordProperty("Empty", counts[2]);
}

// ---------------------------------------------------------------------------------------
// MultiStringToText

TEST(MultiStringToText, JoinsTheItems) {
    const struct {
        std::string buffer;
        int length;
        std::string separator, expected;
    } cases[] = {
        {"A\0B\0\0"s, 5, ";", "A;B"},
        {"\0"s, 1, ";", ""},
        {"", 0, ";", ""},
        {"A\0\0"s, -1, ";", ""},
        {"\0\0"s, 2, ";", ""},
        {"A\0\0"s, 3, ", ", "A"},
        {"AB\0CD\0\0"s, 7, ", ", "AB, CD"},
        {"A\0\0B\0\0"s, 6, "|", "A||B"},  // an empty item inside
        {"A\0B\0\0"s, 5, "", "AB"},
        {"ABCDEF", 4, ";", "ABC"},  // nothing at or past length - 1 is looked at
        {"A\0B\0\0"s, 3, ";", "A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.buffer) + " length " + std::to_string(c.length));
        EXPECT_EQ(MultiStringToText(c.buffer.data(), c.length, c.separator), c.expected);
    }
    EXPECT_EQ(MultiStringToText(nullptr, 5, ";"), "");
}

// The final NUL may lie on a page that cannot be read: it is never touched.
TEST(MultiStringToText, ReadsNothingBeyondTheLastItem) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const DWORD page = info.dwPageSize;
    char* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    const char items[] = {'A', '\0', 'B', '\0'};  // the final NUL would be the first byte of the next page
    char* buffer = pages + page - sizeof items;
    std::memcpy(buffer, items, sizeof items);
    EXPECT_EQ(MultiStringToText(buffer, 5, ";"), "A;B");
    VirtualFree(pages, 0, MEM_RELEASE);
}

// ---------------------------------------------------------------------------------------
// Overlapped I/O

TUniqueEvent ManualEvent() { return TUniqueEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)); }

// Both ends of a fresh byte-mode pipe, opened for overlapped I/O.
struct TPipe {
    TUniqueFile server, client;
};
TPipe MakePipe(DWORD bufferSize) {
    static std::atomic<unsigned> counter{0};
    const std::string name = Format("\\\\.\\pipe\\kwwin32-test-%lu-%u", GetCurrentProcessId(), counter++);
    TPipe pipe;
    pipe.server.reset(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, bufferSize, bufferSize, 0,
                                       nullptr));
    pipe.client.reset(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
    return pipe;
}

// A plain blocking transfer on an overlapped handle, for the side not under test.
DWORD Transfer(HANDLE file, bool write, void* buffer, DWORD count) {
    const TUniqueEvent event = ManualEvent();
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    DWORD done = 0;
    const BOOL started = write ? WriteFile(file, buffer, count, nullptr, &overlapped)
                               : ReadFile(file, buffer, count, nullptr, &overlapped);
    if (!started && GetLastError() != ERROR_IO_PENDING) return 0;
    return GetOverlappedResult(file, &overlapped, &done, TRUE) ? done : 0;
}

// Stops a read left pending and waits until the system no longer uses its record.
void CancelAndDrain(HANDLE file, OVERLAPPED& overlapped) {
    ResetEvent(overlapped.hEvent);
    CancelIoEx(file, &overlapped);
    while (!HasOverlappedIoCompleted(&overlapped)) WaitForSingleObject(overlapped.hEvent, 100);
}

class Overlapped : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(event_);
        overlapped_.hEvent = event_.get();
    }
    TUniqueFile OpenFile(const std::string& name, DWORD access, DWORD disposition) {
        return TUniqueFile(CreateFileA(folder_.Path(name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, disposition, FILE_FLAG_OVERLAPPED, nullptr));
    }

    TTempFolder folder_;
    TUniqueEvent event_ = ManualEvent();
    OVERLAPPED overlapped_{};
};

TEST_F(Overlapped, FileWriteAndReadAtOffsetZero) {
    const TUniqueFile file = OpenFile("data.bin", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_TRUE(file);
    overlapped_.Offset = 100;  // stale fields of an earlier operation
    overlapped_.Internal = STATUS_PENDING;
    ASSERT_TRUE(OverlappedWrite(file.get(), "clickwell", 9, overlapped_));
    EXPECT_EQ(overlapped_.hEvent, event_.get());
    EXPECT_EQ(overlapped_.Offset, 0u);
    ASSERT_TRUE(OverlappedWrite(file.get(), "XY", 2, overlapped_));
    char buffer[16] = {};
    ASSERT_TRUE(OverlappedRead(file.get(), buffer, sizeof buffer, overlapped_));
    EXPECT_STREQ(buffer, "XYickwell");
    EXPECT_EQ(overlapped_.InternalHigh, 9u);
}

TEST_F(Overlapped, FileFailures) {
    { const TUniqueFile create = OpenFile("empty.bin", GENERIC_WRITE, CREATE_ALWAYS); }
    const TUniqueFile readOnly = OpenFile("empty.bin", GENERIC_READ, OPEN_EXISTING);
    ASSERT_TRUE(readOnly);
    char buffer[4];
    EXPECT_FALSE(OverlappedRead(readOnly.get(), buffer, sizeof buffer, overlapped_));  // at its end
    EXPECT_FALSE(OverlappedWrite(readOnly.get(), "x", 1, overlapped_));
    EXPECT_FALSE(OverlappedWriteNoWait(readOnly.get(), "x", 1, overlapped_));
    EXPECT_FALSE(OverlappedRead(INVALID_HANDLE_VALUE, buffer, sizeof buffer, overlapped_));
}

TEST_F(Overlapped, ReadWaitsForThePipe) {
    TPipe pipe = MakePipe(4096);
    ASSERT_TRUE(pipe.server && pipe.client);
    char report[] = "report";
    std::thread device([&] {
        Sleep(50);
        Transfer(pipe.server.get(), true, report, sizeof report);
    });
    char buffer[sizeof report] = {};
    EXPECT_TRUE(OverlappedRead(pipe.client.get(), buffer, sizeof buffer, overlapped_));
    device.join();
    EXPECT_STREQ(buffer, "report");
}

TEST_F(Overlapped, WriteNoWaitLeavesTheWritePending) {
    TPipe pipe = MakePipe(4096);
    ASSERT_TRUE(pipe.server && pipe.client);
    std::vector<char> data(1 << 20, 'w');
    ASSERT_TRUE(OverlappedWriteNoWait(pipe.client.get(), data.data(), DWORD(data.size()), overlapped_));
    EXPECT_FALSE(HasOverlappedIoCompleted(&overlapped_));

    std::vector<char> received(data.size());
    DWORD total = 0;
    while (total < received.size()) {
        const DWORD got = Transfer(pipe.server.get(), false, received.data() + total, DWORD(received.size() - total));
        if (got == 0) break;
        total += got;
    }
    EXPECT_EQ(total, data.size());
    DWORD transferred = 0, errorCode = 0;
    SetLastError(ERROR_IO_PENDING);
    EXPECT_TRUE(WaitOverlapped(pipe.client.get(), overlapped_, transferred, errorCode));
    EXPECT_EQ(transferred, data.size());
    EXPECT_EQ(errorCode, DWORD(ERROR_IO_PENDING));
    EXPECT_EQ(received, data);
}

TEST_F(Overlapped, WaitWithoutPendingOperation) {
    DWORD transferred = 1234, errorCode = 0;
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(WaitOverlapped(INVALID_HANDLE_VALUE, overlapped_, transferred, errorCode));
    EXPECT_EQ(errorCode, DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(transferred, 1234u);
}

TEST_F(Overlapped, WaitForAReadThatFails) {
    TPipe pipe = MakePipe(4096);
    ASSERT_TRUE(pipe.server && pipe.client);
    char buffer[8];
    const BOOL done = ReadFile(pipe.client.get(), buffer, sizeof buffer, nullptr, &overlapped_);
    const DWORD pending = GetLastError();
    ASSERT_FALSE(done);
    ASSERT_EQ(pending, DWORD(ERROR_IO_PENDING));
    std::thread unplug([&] {
        Sleep(50);
        DisconnectNamedPipe(pipe.server.get());
    });
    DWORD transferred = 0, errorCode = 0;
    SetLastError(pending);  // starting the thread may have changed it
    EXPECT_FALSE(WaitOverlapped(pipe.client.get(), overlapped_, transferred, errorCode));
    unplug.join();
    EXPECT_EQ(errorCode, DWORD(ERROR_PIPE_NOT_CONNECTED)) << SystemErrorText(errorCode);
}

// The HID port wakes its reading thread by signalling the read's event.
TEST_F(Overlapped, WaitEndsWhenTheEventIsSignalled) {
    TPipe pipe = MakePipe(4096);
    ASSERT_TRUE(pipe.server && pipe.client);
    char buffer[8];
    const BOOL done = ReadFile(pipe.client.get(), buffer, sizeof buffer, nullptr, &overlapped_);
    const DWORD pending = GetLastError();
    ASSERT_FALSE(done);
    ASSERT_EQ(pending, DWORD(ERROR_IO_PENDING));
    std::thread wake([&] {
        Sleep(50);
        SetEvent(event_.get());
    });
    DWORD transferred = 0, errorCode = 0;
    SetLastError(pending);  // starting the thread may have changed it
    EXPECT_FALSE(WaitOverlapped(pipe.client.get(), overlapped_, transferred, errorCode));
    wake.join();
    EXPECT_EQ(errorCode, DWORD(ERROR_IO_INCOMPLETE));
    EXPECT_FALSE(HasOverlappedIoCompleted(&overlapped_));
    CancelAndDrain(pipe.client.get(), overlapped_);

    std::thread wakeRead([&] {
        Sleep(50);
        SetEvent(event_.get());
    });
    EXPECT_FALSE(OverlappedRead(pipe.client.get(), buffer, sizeof buffer, overlapped_));
    wakeRead.join();
    CancelAndDrain(pipe.client.get(), overlapped_);
}
}  // namespace
