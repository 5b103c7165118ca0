#include "engine/kwcrc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The one-byte step over each byte in turn: what every buffer fold must give.
uint32_t ByteFold(const uint8_t* p, size_t n, uint32_t signature)
{
    for (size_t i = 0; i < n; ++i) signature = UpdateSignature(p[i], signature);
    return signature;
}

const char* NameOf(TSignatureFold fold)
{
    switch (fold) {
    case TSignatureFold::Auto: return "auto";
    case TSignatureFold::Table: return "table";
    case TSignatureFold::CarryLess: return "carry-less (PCLMULQDQ)";
    }
    return "?";
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

}  // namespace

void PrintTo(TSignatureFold fold, std::ostream* os) { *os << NameOf(fold); }

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

// The default is the fastest way this processor has; a selection holds until the next one.
TEST(KwCrc, SelectingAFold)
{
    ASSERT_TRUE(SelectSignatureFold(TSignatureFold::Auto));
    const TSignatureFold fastest = SignatureFold();
    std::printf("buffer fold on this processor: %s\n", NameOf(fastest));
    EXPECT_NE(fastest, TSignatureFold::Auto);

    EXPECT_TRUE(SelectSignatureFold(TSignatureFold::Table));
    EXPECT_EQ(SignatureFold(), TSignatureFold::Table);
    const bool carryLess = SelectSignatureFold(TSignatureFold::CarryLess);
    EXPECT_EQ(SignatureFold(), carryLess ? TSignatureFold::CarryLess : TSignatureFold::Table);
    EXPECT_EQ(fastest, carryLess ? TSignatureFold::CarryLess : TSignatureFold::Table);

    EXPECT_TRUE(SelectSignatureFold(TSignatureFold::Auto));
    EXPECT_EQ(SignatureFold(), fastest);
}

// Every case below runs once per way of folding a buffer, against the one-byte step.
class KwCrcFold : public testing::TestWithParam<TSignatureFold> {
protected:
    void SetUp() override
    {
        if (!SelectSignatureFold(GetParam()))
            GTEST_SKIP() << "this processor cannot run the " << NameOf(GetParam()) << " fold";
        std::printf("buffer fold: %s\n", NameOf(GetParam()));
        ASSERT_EQ(SignatureFold(), GetParam());
    }
    void TearDown() override { SelectSignatureFold(TSignatureFold::Auto); }
};

TEST_P(KwCrcFold, KnownSignatures)
{
    std::string pattern(1024, '\0');
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 7 + 1);
    const std::string zeros(64, '\0');
    const std::string ones(64, '\xFF');
    struct Row {
        std::string_view bytes;
        uint32_t start;
        uint32_t expected;
    };
    // Complements of the standard CRC-32 where the start is SignatureNone.
    const Row rows[] = {
        {"abc", SignatureNone, 0xCADBBE3D},
        {"", SignatureNone, SignatureNone},
        {"", 0x12345678, 0x12345678},
        {"a", SignatureNone, ~0xE8B7BE43u},
        {"123456789", SignatureNone, 0x340BC6D9},
        {"The quick brown fox jumps over the lazy dog", SignatureNone, ~0x414FA339u},
        {std::string_view("\0\0\0\0", 4), SignatureNone, ~0x2144DF1Cu},
        {zeros, SignatureNone, 0x8A729CC9},
        {ones, SignatureNone, 0xF09E7845},
        {std::string_view(pattern).substr(0, 64), SignatureNone, 0x87F97ED3},
        {pattern, SignatureNone, 0xF1FF2776},
        {"abc", 0x00000000, 0xCA6598D0},
        {std::string_view(pattern).substr(0, 100), 0x12345678, 0x8C99735E},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.bytes.size() << " bytes from 0x" << std::hex
                                        << row.start);
        EXPECT_EQ(UpdateSignature(Bytes(row.bytes), row.bytes.size(), row.start), row.expected);
        EXPECT_EQ(ByteFold(Bytes(row.bytes), row.bytes.size(), row.start), row.expected);
    }
    EXPECT_EQ(UpdateSignature(nullptr, 0, 0x12345678u), 0x12345678u);
}

// Every length up to 1,024 bytes, each at random start values and buffer offsets, so that
// every count of blocks and every tail is folded from misaligned data.
TEST_P(KwCrcFold, EveryLengthAtRandomOffsetsAndStarts)
{
    std::mt19937 rng(20240611);
    const std::vector<uint8_t> buffer = RandomBytes(rng, 1024 + 64);
    int mismatches = 0;
    for (size_t n = 0; n <= 1024; ++n) {
        for (int round = 0; round < 3; ++round) {
            const size_t offset = rng() % 64;
            const uint32_t start = round == 0 ? SignatureNone : static_cast<uint32_t>(rng());
            const uint8_t* p = buffer.data() + offset;
            const uint32_t expected = ByteFold(p, n, start);
            const uint32_t got = UpdateSignature(p, n, start);
            if (got != expected && ++mismatches <= 5)
                ADD_FAILURE() << n << " bytes at offset " << offset << " from 0x" << std::hex
                              << start << ": 0x" << got << ", byte by byte 0x" << expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The reading thread folds a burst report by report into the running signature; that must
// equal the fold of the whole burst at once.
TEST_P(KwCrcFold, BurstReportByReportEqualsWholeBurst)
{
    struct Row {
        size_t reportSize;  // 0: a random size of 1 to 100 bytes for each report
        int reports;
    };
    const Row rows[] = {{1, 5}, {3, 9}, {8, 16}, {15, 3}, {16, 4}, {17, 7},  {33, 5},
                        {63, 3}, {64, 10}, {65, 3}, {100, 2}, {128, 3}, {1024, 2}, {0, 40}};
    std::mt19937 rng(77);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.reports << " reports of " << row.reportSize
                                        << " bytes");
        std::vector<size_t> sizes;
        for (int i = 0; i < row.reports; ++i)
            sizes.push_back(row.reportSize ? row.reportSize : 1 + rng() % 100);
        size_t total = 0;
        for (const size_t s : sizes) total += s;
        const size_t offset = 1 + rng() % 15;
        const std::vector<uint8_t> buffer = RandomBytes(rng, offset + total);
        const uint8_t* burst = buffer.data() + offset;

        uint32_t running = SignatureNone;
        size_t at = 0;
        for (const size_t s : sizes) {
            running = UpdateSignature(burst + at, s, running);
            at += s;
        }
        EXPECT_EQ(running, UpdateSignature(burst, total, SignatureNone));
        EXPECT_EQ(running, ByteFold(burst, total, SignatureNone));
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, KwCrcFold,
                         testing::Values(TSignatureFold::Table, TSignatureFold::CarryLess),
                         [](const testing::TestParamInfo<TSignatureFold>& info) {
                             return std::string(info.param == TSignatureFold::Table ? "Table"
                                                                                    : "CarryLess");
                         });
