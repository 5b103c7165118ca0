#include "engine/hidaction.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "engine/textparse.h"
#include "rtl/exception.h"

namespace {

constexpr int32_t Int32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t Int32Min = std::numeric_limits<int32_t>::min();

struct Fields {
    unsigned code;
    uint32_t press;
    uint32_t release;
    int32_t device;
};

void Set(THidAction& action, const Fields& f, bool pressed = false)
{
    action.Code = static_cast<TActionCode>(f.code);
    action.PressSignature = f.press;
    action.ReleaseSignature = f.release;
    action.DeviceIndex = f.device;
    action.Pressed = pressed;
}

void ExpectFields(const THidAction& action, const Fields& f)
{
    EXPECT_EQ(unsigned{action.Code}, f.code);
    EXPECT_EQ(action.PressSignature, f.press);
    EXPECT_EQ(action.ReleaseSignature, f.release);
    EXPECT_EQ(action.DeviceIndex, f.device);
}

}  // namespace

TEST(HidAction, FreshRecord)
{
    const THidAction action;
    ExpectFields(action, {0, 0xFFFFFFFF, 0xFFFFFFFF, -1});
    EXPECT_FALSE(action.Pressed);
    EXPECT_FALSE(action.IsAssigned());
}

TEST(HidAction, ActionNames)
{
    const std::string_view expected[] = {
        "Unknown", "Play/Pause", "Next",   "Previous", "Stop",  "Volume Up",
        "Volume Down", "Forward", "Backward", "Play",  "Pause", "Full Screen",
        "Eject",   "Mute",       "Shuffle", "Repeat",
    };
    ASSERT_EQ(ActionNames.size(), 16u);
    THidAction action;
    for (unsigned code = 0; code < 16; ++code) {
        SCOPED_TRACE(testing::Message() << "code " << code);
        action.Code = static_cast<TActionCode>(code);
        EXPECT_EQ(action.ActionName(), expected[code]);
        EXPECT_EQ(ActionNames[code], expected[code]);
    }
    action.Code = 16;
    EXPECT_EQ(action.ActionName(), "");
}

TEST(HidAction, RepeatableCodes)
{
    THidAction action;
    for (unsigned code = 0; code < 256; ++code) {
        SCOPED_TRACE(testing::Message() << "code " << code);
        const bool repeatable = code >= 5 && code <= 8;
        action.Code = static_cast<TActionCode>(code);
        EXPECT_EQ(action.IsRepeatable(), repeatable);
        EXPECT_EQ(ActionInSet(RepeatableActions, code), repeatable);
        EXPECT_EQ(ActionInSet(AllActions, code), code < 16);
        EXPECT_FALSE(ActionInSet(0, code));
    }
    // Codes beyond the 16 bits of a set are in no set.
    EXPECT_FALSE(ActionInSet(AllActions, 16 + 5));
    EXPECT_FALSE(ActionInSet(AllActions, 1000));
}

TEST(HidAction, AddByteFoldsTheChosenSignature)
{
    THidAction action;
    Set(action, {6, SignatureNone, SignatureNone, 2}, true);
    for (const char c : std::string_view("abc"))
        action.AddByte(static_cast<uint8_t>(c), true);
    EXPECT_EQ(action.PressSignature, 0xCADBBE3Du);
    EXPECT_EQ(action.ReleaseSignature, SignatureNone);

    for (const char c : std::string_view("123456789"))
        action.AddByte(static_cast<uint8_t>(c), false);
    EXPECT_EQ(action.PressSignature, 0xCADBBE3Du);
    EXPECT_EQ(action.ReleaseSignature, 0x340BC6D9u);
    EXPECT_EQ(unsigned{action.Code}, 6u);
    EXPECT_EQ(action.DeviceIndex, 2);
    EXPECT_TRUE(action.Pressed);  // the caller flips it, not AddByte
}

TEST(HidAction, ResetSignaturesKeepsTheRest)
{
    THidAction action;
    Set(action, {7, 0x11111111, 0x22222222, 4}, true);
    action.ResetSignatures();
    ExpectFields(action, {7, SignatureNone, SignatureNone, 4});
    EXPECT_TRUE(action.Pressed);
}

TEST(HidAction, IsAssigned)
{
    struct Row {
        Fields f;
        bool expected;
    };
    const Row rows[] = {
        {{1, 0x12345678, SignatureNone, 0}, true},
        {{1, 0x00000000, SignatureNone, 0}, true},
        {{15, 0x12345678, 0x87654321, Int32Max}, true},
        {{5, 0x12345678, SignatureNone, -2}, true},   // only -1 means no device
        {{200, 0x12345678, SignatureNone, 0}, true},  // the loader drops such codes
        {{0, 0x12345678, 0x87654321, 0}, false},
        {{1, SignatureNone, SignatureNone, 0}, false},
        {{1, SignatureNone, 0x87654321, 0}, false},   // a release signature is not enough
        {{1, 0x12345678, 0x87654321, -1}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "code " << row.f.code << " press 0x" << std::hex
                                        << row.f.press << " release 0x" << row.f.release
                                        << std::dec << " device " << row.f.device);
        for (const bool pressed : {false, true}) {
            THidAction action;
            Set(action, row.f, pressed);
            EXPECT_EQ(action.IsAssigned(), row.expected) << "pressed " << pressed;
        }
    }
}

TEST(HidAction, Matches)
{
    constexpr uint32_t P = 0x0A0A0A0A;
    constexpr uint32_t R = 0x0B0B0B0B;
    constexpr uint32_t Other = 0x0C0C0C0C;
    struct Row {
        unsigned code;
        bool pressed;
        uint32_t release;
        bool matchesPress, matchesRelease, matchesOther;
    };
    const Row rows[] = {
        {5, false, R, true, false, false},
        {5, true, R, false, true, false},             // held: only the release ends it
        {8, true, R, false, true, false},
        {5, true, SignatureNone, true, false, false},  // no release learned
        {9, true, R, true, false, false},             // Play does not repeat
        {1, true, R, true, false, false},
        {0, true, R, true, false, false},
        {21, true, R, true, false, false},            // 21 = 5 + 16, outside the table
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "code " << row.code << " pressed " << row.pressed
                                        << " release 0x" << std::hex << row.release);
        THidAction action;
        Set(action, {row.code, P, row.release, 0}, row.pressed);
        EXPECT_EQ(action.Matches(P), row.matchesPress);
        EXPECT_EQ(action.Matches(R), row.matchesRelease);
        EXPECT_EQ(action.Matches(Other), row.matchesOther);
    }
    // A held action without a release signature must not answer to "no signature".
    THidAction held;
    Set(held, {6, P, SignatureNone, 0}, true);
    EXPECT_FALSE(held.Matches(SignatureNone));
}

TEST(HidAction, AssignCopiesAllButPressed)
{
    for (const bool sourcePressed : {false, true}) {
        for (const bool targetPressed : {false, true}) {
            SCOPED_TRACE(testing::Message() << "source pressed " << sourcePressed
                                            << " target pressed " << targetPressed);
            THidAction source;
            Set(source, {7, 0x01020304, 0x05060708, 3}, sourcePressed);
            THidAction target;
            Set(target, {2, 0x11111111, 0x22222222, 9}, targetPressed);
            target.Assign(&source);
            ExpectFields(target, {7, 0x01020304, 0x05060708, 3});
            EXPECT_EQ(target.Pressed, targetPressed);
            ExpectFields(source, {7, 0x01020304, 0x05060708, 3});
        }
    }
}

TEST(HidAction, AssignNullChangesNothing)
{
    THidAction target;
    Set(target, {2, 0x11111111, 0x22222222, 9}, true);
    target.Assign(nullptr);
    ExpectFields(target, {2, 0x11111111, 0x22222222, 9});
    EXPECT_TRUE(target.Pressed);
}

TEST(HidAction, AssignFromAnotherClassRaises)
{
    class TOther : public TPersistent {};
    const TOther other;
    THidAction target;
    Set(target, {2, 0x11111111, 0x22222222, 9});
    EXPECT_THROW(target.Assign(&other), Exception);
    ExpectFields(target, {2, 0x11111111, 0x22222222, 9});
}

TEST(HidAction, AsTextRead)
{
    struct Row {
        Fields f;
        std::string_view text;
    };
    const Row rows[] = {
        {{1, 0x0A1B2C3D, SignatureNone, 2}, "B0A1B2C3DFFFFFFFF2"},
        {{13, SignatureNone, SignatureNone, -1}, "NFFFFFFFFFFFFFFFF-1"},
        {{0, 0x00000000, 0x00000000, 0}, "A00000000000000000"},
        {{15, 0xDEADBEEF, 0x0000ABCD, 10}, "PDEADBEEF0000ABCD10"},
        {{5, 0x00000001, 0x80000000, Int32Max}, "F00000001800000002147483647"},
        {{6, 0x12345678, 0x9ABCDEF0, Int32Min}, "G123456789ABCDEF0-2147483648"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "expected " << row.text);
        for (const bool pressed : {false, true}) {
            THidAction action;
            Set(action, row.f, pressed);
            EXPECT_EQ(action.AsText(), row.text);
        }
    }
}

TEST(HidAction, AsTextWrite)
{
    struct Row {
        std::string_view text;
        Fields f;
    };
    constexpr uint32_t N = SignatureNone;
    const Row rows[] = {
        {"B0A1B2C3DFFFFFFFF2", {1, 0x0A1B2C3D, N, 2}},
        {"NFFFFFFFFFFFFFFFF-1", {13, N, N, -1}},
        {"B12", {1, 0x00000012, N, -1}},
        {"C0000000Z000000003", {2, N, 0x00000000, 3}},
        {"aFFFFFFFFFFFFFFFF0", {32, N, N, 0}},
        {"bFFFFFFFFFFFFFFFF0", {33, N, N, 0}},
        {"0FFFFFFFFFFFFFFFF0", {239, N, N, 0}},
        {"Bdeadbeefcafebabe5", {1, 0xDEADBEEF, 0xCAFEBABE, 5}},
        {"B0000 012000000011", {1, N, 0x00000001, 1}},
        {"B00000012 00000011", {1, 0x00000012, N, 1}},
        {"B00000012AB", {1, 0x00000012, 0x000000AB, -1}},
        {"B000000120000000", {1, 0x00000012, 0x00000000, -1}},
        {"B", {1, N, N, -1}},
        {"", {191, N, N, -1}},  // no first character: read as byte 0
        {"B00000000000000002147483647", {1, 0, 0, Int32Max}},
        {"B00000000000000002147483648", {1, 0, 0, -1}},
        {"B0000000000000000-2147483648", {1, 0, 0, Int32Min}},
        {"B0000000000000000-2147483649", {1, 0, 0, -1}},
        {"B000000000000000099999999999", {1, 0, 0, -1}},
        {"B0000000000000000 7", {1, 0, 0, 7}},
        {"B0000000000000000+7", {1, 0, 0, 7}},
        {"B0000000000000000-7", {1, 0, 0, -7}},
        {"B00000000000000007x", {1, 0, 0, -1}},
        {"B00000000000000007 ", {1, 0, 0, -1}},
        {"B0000000000000000+-7", {1, 0, 0, -1}},
        {"B0000000000000000 ", {1, 0, 0, -1}},
        {"B0000000000000000007", {1, 0, 0, 7}},
        {std::string_view("B\0\0\0\0\0\0\0\0" "00000001" "1", 18), {1, N, 1, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "text \"" << row.text << "\"");
        for (const bool pressed : {false, true}) {
            THidAction action;
            // Start from values that no row expects, so that nothing passes by being left over.
            Set(action, {7, 0x5A5A5A5A, 0xA5A5A5A5, 77}, pressed);
            action.SetAsText(row.text);
            ExpectFields(action, row.f);
            EXPECT_EQ(action.Pressed, pressed);
        }
    }
}

TEST(HidAction, AsTextRoundTrip)
{
    const uint32_t signatures[] = {0x00000000, SignatureNone, 0x0000000F, 0x80000000,
                                   0x0A1B2C3D, 0xFEDCBA98, 0x00010000};
    const int32_t devices[] = {-1, 0, 1, 9, 10, 123456, Int32Max, Int32Min, -42};
    for (unsigned code = 0; code < 16; ++code) {
        for (size_t i = 0; i < std::size(signatures); ++i) {
            const Fields f{code, signatures[(code + i) % std::size(signatures)],
                           signatures[(code * 3 + i + 1) % std::size(signatures)],
                           devices[(code + i * 2) % std::size(devices)]};
            THidAction source;
            Set(source, f);
            const std::string text = source.AsText();
            SCOPED_TRACE(testing::Message() << "text " << text);
            THidAction copy;
            copy.SetAsText(text);
            ExpectFields(copy, f);
        }
    }
}

TEST(TextParse, TryParseInt32)
{
    struct Row {
        std::string_view text;
        bool ok;
        int32_t value;
    };
    const Row rows[] = {
        {"0", true, 0},
        {"7", true, 7},
        {" 7", true, 7},
        {"\t\r\n 7", true, 7},
        {"\x01" "7", true, 7},
        {"\x20-7", true, -7},
        {"+7", true, 7},
        {"-7", true, -7},
        {"-0", true, 0},
        {"000000000000000000000012", true, 12},
        {"2147483647", true, Int32Max},
        {"-2147483648", true, Int32Min},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"4294967297", false, 0},
        {"99999999999999999999999", false, 0},
        {"18446744073709551623", false, 0},  // 2^64 + 7: must not wrap to 7
        {"", false, 0},
        {" ", false, 0},
        {"+", false, 0},
        {"-", false, 0},
        {"7x", false, 0},
        {"7 ", false, 0},
        {"x7", false, 0},
        {"--7", false, 0},
        {"+-7", false, 0},
        {"- 7", false, 0},
        {"1 2", false, 0},
        {"0x10", false, 0},
        {std::string_view("\0" "7", 2), false, 0},  // code 0 is not a blank
        {"\x7F" "7", false, 0},
        {"\xA0" "7", false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "text \"" << row.text << "\"");
        int32_t value = 12345;
        EXPECT_EQ(TryParseInt32(row.text, value), row.ok);
        EXPECT_EQ(value, row.ok ? row.value : 12345);
    }
}
