#include "engine/kwcrc.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

uint32_t Fold(std::string_view bytes)
{
    return UpdateSignature(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                           SignatureNone);
}

uint32_t FoldByteByByte(std::string_view bytes)
{
    uint32_t signature = SignatureNone;
    for (const char c : bytes)
        signature = UpdateSignature(static_cast<uint8_t>(c), signature);
    return signature;
}

}  // namespace

TEST(KwCrc, TableEnds)
{
    EXPECT_EQ(SignatureTable[0], 0x00000000u);
    EXPECT_EQ(SignatureTable[1], 0x77073096u);
    EXPECT_EQ(SignatureTable[128], 0xEDB88320u);
    EXPECT_EQ(SignatureTable[255], 0x2D02EF8Du);
}

// The constants are derived here bit by bit, so a mistyped entry shows up by its index.
TEST(KwCrc, TableIsTheReflectedCrc32Table)
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        EXPECT_EQ(SignatureTable[i], c) << "entry " << i;
    }
}

TEST(KwCrc, OneStep)
{
    struct Row {
        uint8_t b;
        uint32_t signature;
        uint32_t expected;
    };
    const Row rows[] = {
        {0x01, 0x00000000, 0x77073096},               // the byte picks the entry
        {0x00, 0x00000001, 0x77073096},               // so does the register's low byte
        {0x00, 0x00000100, 0x00000001},               // the register shifts right, zero-filled
        {0x80, 0x80000000, 0xEDB88320 ^ 0x00800000},  // high bits only shift
        {0x00, SignatureNone, 0x2D02EF8D ^ 0x00FFFFFF},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "byte " << unsigned{row.b} << " signature 0x"
                                        << std::hex << row.signature);
        EXPECT_EQ(UpdateSignature(row.b, row.signature), row.expected);
    }
}

// A signature is the complement of the standard CRC-32 (no final inversion).
TEST(KwCrc, SignatureIsComplementOfCrc32)
{
    struct Row {
        std::string_view bytes;
        uint32_t crc32;
    };
    const Row rows[] = {
        {"", 0x00000000},
        {"a", 0xE8B7BE43},
        {"abc", 0x352441C2},
        {"123456789", 0xCBF43926},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339},
        {std::string_view("\0\0\0\0", 4), 0x2144DF1C},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "bytes \"" << row.bytes << "\"");
        EXPECT_EQ(Fold(row.bytes), ~row.crc32);
        EXPECT_EQ(FoldByteByByte(row.bytes), ~row.crc32);
    }
}

TEST(KwCrc, KnownSignatures)
{
    EXPECT_EQ(Fold("abc"), 0xCADBBE3Du);
    EXPECT_EQ(Fold("123456789"), 0x340BC6D9u);
    EXPECT_EQ(Fold(""), SignatureNone);
    EXPECT_EQ(SignatureNone, 0xFFFFFFFFu);
}

TEST(KwCrc, BufferFoldContinuesFromTheGivenSignature)
{
    const uint8_t bytes[] = {'a', 'b', 'c'};
    const uint32_t head = UpdateSignature(bytes, 1, SignatureNone);
    EXPECT_EQ(UpdateSignature(bytes + 1, 2, head), 0xCADBBE3Du);
    EXPECT_EQ(UpdateSignature(nullptr, 0, 0x12345678u), 0x12345678u);
}
