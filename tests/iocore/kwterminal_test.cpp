// The port's terminal on a real edit control.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "iocore/kwclasses.h"
#include "tests/iocore/test_port.h"
#include "tests/iocore/test_support.h"

namespace {
TUniqueWindow NewEdit(bool unicode = false) {
    const DWORD style = WS_POPUP | ES_MULTILINE | ES_AUTOVSCROLL;
    return TUniqueWindow(unicode ? CreateWindowExW(0, L"EDIT", L"", style, 0, 0, 200, 100, nullptr, nullptr,
                                                   GetModuleHandleA(nullptr), nullptr)
                                 : CreateWindowExA(0, "EDIT", "", style, 0, 0, 200, 100, nullptr, nullptr,
                                                   GetModuleHandleA(nullptr), nullptr));
}

std::string TextOf(HWND edit) {
    char text[256] = {};
    GetWindowTextA(edit, text, sizeof text);
    return text;
}

// What a key typed into the control makes of it once the loop has translated it.
void Type(HWND edit, char c) { SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1); }

WNDPROC ProcOf(HWND window) { return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)); }

TEST(Terminal, ReceivedBlocksAreInsertedAtTheCaret) {
    struct {
        const char* name;
        std::string block;
        const char* shown;
    } cases[] = {
        {"one byte is a character", std::string("A"), "A"},
        {"pieces between zero bytes", std::string("ab\0cd", 5), "abcd"},
        {"an empty piece hides nothing", std::string("ab\0\0cd", 6), "abcd"},
        {"trailing zero", std::string("ab\0", 3), "ab"},
        {"a lone zero byte is a character", std::string("\0", 1), ""},
    };
    for (const auto& c : cases) {
        TUniqueWindow edit = NewEdit();
        ASSERT_TRUE(edit);
        SetWindowTextA(edit.get(), "<>");
        SendMessageA(edit.get(), EM_SETSEL, 1, 1);  // the caret between the brackets
        TTestPort port;
        port.SetTerminal(edit.get());
        port.SetTerminalUsage(tuReceive);
        EXPECT_EQ(port.TerminalHandle.load(), edit.get());
        port.DoReceive(c.block.data(), static_cast<uint32_t>(c.block.size()));
        EXPECT_EQ(TextOf(edit.get()), std::string("<") + c.shown + ">") << c.name;
        EXPECT_EQ(port.sent, "") << c.name << ": received text does not go back to the device";
    }
}

TEST(Terminal, UsageDecidesWhatIsSentAndWhatIsShown) {
    struct {
        TTerminalUsage usage;
        bool echo;
        const char* sent;   // after typing x
        const char* shown;  // after typing x and receiving "yz"
    } cases[] = {
        {tuNone, false, "", "x"},    {tuNone, true, "", "x"},
        {tuSend, false, "[x]", ""},  {tuSend, true, "[x]", "x"},
        {tuReceive, false, "", "xyz"}, {tuBoth, false, "[x]", "yz"},
        {tuBoth, true, "[x]", "xyz"},
    };
    for (const auto& c : cases) {
        TUniqueWindow edit = NewEdit();
        TTestPort port;
        port.SetTerminal(edit.get());
        port.SetTerminalUsage(c.usage);
        port.TerminalEcho = c.echo;
        Type(edit.get(), 'x');
        port.DoReceive("yz", 2);
        EXPECT_EQ(port.sent, c.sent) << int(c.usage) << c.echo;
        EXPECT_EQ(TextOf(edit.get()), c.shown) << int(c.usage) << c.echo;
    }
}

TEST(Terminal, AOneByteBlockIsShownButNotSentBack) {
    TUniqueWindow edit = NewEdit();
    TTestPort port;
    port.SetTerminal(edit.get());
    port.SetTerminalUsage(tuBoth);
    port.DoReceive("q", 1);  // arrives as a character message, as a typed key does
    EXPECT_EQ(TextOf(edit.get()), "q");
    EXPECT_EQ(port.sent, "");
    EXPECT_FALSE(port.InTerminalWrite.load());
}

TEST(Terminal, TheControlGetsItsOwnHandlerBack) {
    TUniqueWindow first = NewEdit(), second = NewEdit();
    const WNDPROC own = ProcOf(first.get());
    auto port = std::make_unique<TTestPort>();
    port->SetTerminal(first.get());
    port->SetTerminalUsage(tuSend);
    EXPECT_NE(ProcOf(first.get()), own);
    // Another control: the first is given back.
    port->SetTerminal(second.get());
    EXPECT_EQ(ProcOf(first.get()), own);
    Type(first.get(), 'a');
    EXPECT_EQ(port->sent, "");
    Type(second.get(), 'b');
    EXPECT_EQ(port->sent, "[b]");
    // The port goes: so does its hook.
    port.reset();
    EXPECT_EQ(ProcOf(second.get()), own);
    Type(second.get(), 'c');
    EXPECT_EQ(TextOf(second.get()), "c");
}

TEST(Terminal, AControlDestroyedFirstIsForgotten) {
    TUniqueWindow edit = NewEdit();
    TTestPort port;
    port.SetTerminal(edit.get());
    port.SetTerminalUsage(tuBoth);
    edit.reset();
    EXPECT_EQ(port.Terminal(), nullptr);
    EXPECT_EQ(port.TerminalHandle.load(), nullptr);
    EXPECT_FALSE(port.HasReceivers());
    port.DoReceive("ab", 2);
    port.SetTerminalUsage(tuReceive);
    EXPECT_EQ(port.TerminalHandle.load(), nullptr);
}

TEST(Terminal, TwoPortsOnOneControlUnhookInAnyOrder) {
    for (bool firstGoesFirst : {true, false}) {
        TUniqueWindow edit = NewEdit();
        const WNDPROC own = ProcOf(edit.get());
        auto a = std::make_unique<TTestPort>();
        auto b = std::make_unique<TTestPort>();
        a->SetTerminal(edit.get());
        a->SetTerminalUsage(tuSend);
        a->TerminalEcho = true;
        b->SetTerminal(edit.get());
        b->SetTerminalUsage(tuSend);
        b->TerminalEcho = true;
        Type(edit.get(), 'x');
        EXPECT_EQ(a->sent, "[x]");
        EXPECT_EQ(b->sent, "[x]");
        std::unique_ptr<TTestPort>& gone = firstGoesFirst ? a : b;
        std::unique_ptr<TTestPort>& stays = firstGoesFirst ? b : a;
        gone.reset();
        Type(edit.get(), 'y');
        EXPECT_EQ(stays->sent, "[x][y]");
        stays.reset();
        EXPECT_EQ(ProcOf(edit.get()), own);
        EXPECT_EQ(TextOf(edit.get()), "xy");
    }
}

// Someone else's hook set on top of ours: unhooking must not cut it out of the chain.
WNDPROC foreignSaved = nullptr;
int foreignSeen = 0;
LRESULT CALLBACK ForeignHook(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CHAR) ++foreignSeen;
    return CallWindowProcA(foreignSaved, hwnd, msg, wParam, lParam);
}

TEST(Terminal, AHookSetAfterOursKeepsWorking) {
    TUniqueWindow edit = NewEdit();
    foreignSeen = 0;
    auto port = std::make_unique<TTestPort>();
    port->SetTerminal(edit.get());
    port->SetTerminalUsage(tuSend);
    foreignSaved = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(edit.get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ForeignHook)));
    Type(edit.get(), 'a');
    EXPECT_EQ(port->sent, "[a]");
    port.reset();
    EXPECT_EQ(ProcOf(edit.get()), &ForeignHook);
    Type(edit.get(), 'b');
    EXPECT_EQ(foreignSeen, 2);
    EXPECT_EQ(TextOf(edit.get()), "b");
    // A port hooking it again, and the control going first, with ours in the middle.
    TTestPort again;
    again.SetTerminal(edit.get());
    again.SetTerminalUsage(tuSend);
    Type(edit.get(), 'c');
    EXPECT_EQ(again.sent, "[c]");
    edit.reset();
    EXPECT_EQ(again.Terminal(), nullptr);
}

TEST(Terminal, AUnicodeControlStaysUnicode) {
    TUniqueWindow edit = NewEdit(true);
    ASSERT_TRUE(IsWindowUnicode(edit.get()));
    TTestPort port;
    port.SetTerminal(edit.get());
    port.SetTerminalUsage(tuBoth);
    port.TerminalEcho = true;
    SendMessageW(edit.get(), WM_CHAR, L'k', 1);
    port.DoReceive("lm", 2);
    EXPECT_TRUE(IsWindowUnicode(edit.get()));
    EXPECT_EQ(port.sent, "[k]");
    EXPECT_EQ(TextOf(edit.get()), "klm");
}

TEST(Terminal, LoadedHooksTheControlNamedWhileLoading) {
    TUniqueWindow edit = NewEdit();
    const WNDPROC own = ProcOf(edit.get());
    TTestPort port;
    port.withThread = false;
    port.BeginLoading();
    port.SetTerminal(edit.get());
    port.SetTerminalUsage(tuBoth);
    EXPECT_EQ(ProcOf(edit.get()), own);
    EXPECT_EQ(port.TerminalHandle.load(), nullptr);
    port.Loaded();
    EXPECT_EQ(port.TerminalHandle.load(), edit.get());
    Type(edit.get(), 'z');
    EXPECT_EQ(port.sent, "[z]");
}

TEST(Terminal, ARaisingSendStaysInsideTheHook) {
    class TFailingPort : public TTestPort {
    public:
        void SendChar(char) override { throw Exception("device gone"); }
    };
    TUniqueWindow edit = NewEdit();
    TFailingPort port;
    port.SetTerminal(edit.get());
    port.SetTerminalUsage(tuSend);
    EXPECT_NO_THROW(Type(edit.get(), 'x'));
    EXPECT_EQ(TextOf(edit.get()), "");
}

// The reader writes into the terminal while the UI thread, which owns the terminal,
// closes the port: the close serves the reader's message, or the two wait on each other.
TEST(Terminal, ClosingWhileTheReaderWritesTheTerminal) {
    class TWritingPort : public TTestPort {
    public:
        void TerminalWrite(const void* buffer, uint32_t count) override {
            SetEvent(writing.get());
            TTestPort::TerminalWrite(buffer, count);
        }
        TUniqueEvent writing{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    };
    TUniqueWindow edit = NewEdit();
    TWritingPort port;
    port.block = {'h', 'i'};
    port.SetTerminal(edit.get());
    port.SetTerminalUsage(tuReceive);
    port.SetActive(true);
    ASSERT_TRUE(port.WaitUntilReading());
    port.Deliver();
    // Nothing of this thread's queue is looked at meanwhile: the reader's message, sent
    // or about to be, stays new for the close's wait.
    ASSERT_EQ(WaitForSingleObject(port.writing.get(), 5000), WAIT_OBJECT_0);
    port.SetActive(false);
    EXPECT_TRUE(port.readerExited.load());
    EXPECT_EQ(TextOf(edit.get()), "hi");
}
}  // namespace
