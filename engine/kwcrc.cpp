#include "engine/kwcrc.h"

#include <array>
#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define KW_CRC_CARRYLESS 1
#endif

// Reflected CRC-32, polynomial 0xEDB88320: entry i is the register after shifting the byte i
// out through eight steps. Kept as constants so that no start-up code has to build it.
constexpr uint32_t SignatureTable[256] = {
    0x00000000, 0x77073096, 0xEE0E612C, 0x990951BA, 0x076DC419, 0x706AF48F, 0xE963A535, 0x9E6495A3,
    0x0EDB8832, 0x79DCB8A4, 0xE0D5E91E, 0x97D2D988, 0x09B64C2B, 0x7EB17CBD, 0xE7B82D07, 0x90BF1D91,
    0x1DB71064, 0x6AB020F2, 0xF3B97148, 0x84BE41DE, 0x1ADAD47D, 0x6DDDE4EB, 0xF4D4B551, 0x83D385C7,
    0x136C9856, 0x646BA8C0, 0xFD62F97A, 0x8A65C9EC, 0x14015C4F, 0x63066CD9, 0xFA0F3D63, 0x8D080DF5,
    0x3B6E20C8, 0x4C69105E, 0xD56041E4, 0xA2677172, 0x3C03E4D1, 0x4B04D447, 0xD20D85FD, 0xA50AB56B,
    0x35B5A8FA, 0x42B2986C, 0xDBBBC9D6, 0xACBCF940, 0x32D86CE3, 0x45DF5C75, 0xDCD60DCF, 0xABD13D59,
    0x26D930AC, 0x51DE003A, 0xC8D75180, 0xBFD06116, 0x21B4F4B5, 0x56B3C423, 0xCFBA9599, 0xB8BDA50F,
    0x2802B89E, 0x5F058808, 0xC60CD9B2, 0xB10BE924, 0x2F6F7C87, 0x58684C11, 0xC1611DAB, 0xB6662D3D,
    0x76DC4190, 0x01DB7106, 0x98D220BC, 0xEFD5102A, 0x71B18589, 0x06B6B51F, 0x9FBFE4A5, 0xE8B8D433,
    0x7807C9A2, 0x0F00F934, 0x9609A88E, 0xE10E9818, 0x7F6A0DBB, 0x086D3D2D, 0x91646C97, 0xE6635C01,
    0x6B6B51F4, 0x1C6C6162, 0x856530D8, 0xF262004E, 0x6C0695ED, 0x1B01A57B, 0x8208F4C1, 0xF50FC457,
    0x65B0D9C6, 0x12B7E950, 0x8BBEB8EA, 0xFCB9887C, 0x62DD1DDF, 0x15DA2D49, 0x8CD37CF3, 0xFBD44C65,
    0x4DB26158, 0x3AB551CE, 0xA3BC0074, 0xD4BB30E2, 0x4ADFA541, 0x3DD895D7, 0xA4D1C46D, 0xD3D6F4FB,
    0x4369E96A, 0x346ED9FC, 0xAD678846, 0xDA60B8D0, 0x44042D73, 0x33031DE5, 0xAA0A4C5F, 0xDD0D7CC9,
    0x5005713C, 0x270241AA, 0xBE0B1010, 0xC90C2086, 0x5768B525, 0x206F85B3, 0xB966D409, 0xCE61E49F,
    0x5EDEF90E, 0x29D9C998, 0xB0D09822, 0xC7D7A8B4, 0x59B33D17, 0x2EB40D81, 0xB7BD5C3B, 0xC0BA6CAD,
    0xEDB88320, 0x9ABFB3B6, 0x03B6E20C, 0x74B1D29A, 0xEAD54739, 0x9DD277AF, 0x04DB2615, 0x73DC1683,
    0xE3630B12, 0x94643B84, 0x0D6D6A3E, 0x7A6A5AA8, 0xE40ECF0B, 0x9309FF9D, 0x0A00AE27, 0x7D079EB1,
    0xF00F9344, 0x8708A3D2, 0x1E01F268, 0x6906C2FE, 0xF762575D, 0x806567CB, 0x196C3671, 0x6E6B06E7,
    0xFED41B76, 0x89D32BE0, 0x10DA7A5A, 0x67DD4ACC, 0xF9B9DF6F, 0x8EBEEFF9, 0x17B7BE43, 0x60B08ED5,
    0xD6D6A3E8, 0xA1D1937E, 0x38D8C2C4, 0x4FDFF252, 0xD1BB67F1, 0xA6BC5767, 0x3FB506DD, 0x48B2364B,
    0xD80D2BDA, 0xAF0A1B4C, 0x36034AF6, 0x41047A60, 0xDF60EFC3, 0xA867DF55, 0x316E8EEF, 0x4669BE79,
    0xCB61B38C, 0xBC66831A, 0x256FD2A0, 0x5268E236, 0xCC0C7795, 0xBB0B4703, 0x220216B9, 0x5505262F,
    0xC5BA3BBE, 0xB2BD0B28, 0x2BB45A92, 0x5CB36A04, 0xC2D7FFA7, 0xB5D0CF31, 0x2CD99E8B, 0x5BDEAE1D,
    0x9B64C2B0, 0xEC63F226, 0x756AA39C, 0x026D930A, 0x9C0906A9, 0xEB0E363F, 0x72076785, 0x05005713,
    0x95BF4A82, 0xE2B87A14, 0x7BB12BAE, 0x0CB61B38, 0x92D28E9B, 0xE5D5BE0D, 0x7CDCEFB7, 0x0BDBDF21,
    0x86D3D2D4, 0xF1D4E242, 0x68DDB3F8, 0x1FDA836E, 0x81BE16CD, 0xF6B9265B, 0x6FB077E1, 0x18B74777,
    0x88085AE6, 0xFF0F6A70, 0x66063BCA, 0x11010B5C, 0x8F659EFF, 0xF862AE69, 0x616BFFD3, 0x166CCF45,
    0xA00AE278, 0xD70DD2EE, 0x4E048354, 0x3903B3C2, 0xA7672661, 0xD06016F7, 0x4969474D, 0x3E6E77DB,
    0xAED16A4A, 0xD9D65ADC, 0x40DF0B66, 0x37D83BF0, 0xA9BCAE53, 0xDEBB9EC5, 0x47B2CF7F, 0x30B5FFE9,
    0xBDBDF21C, 0xCABAC28A, 0x53B39330, 0x24B4A3A6, 0xBAD03605, 0xCDD70693, 0x54DE5729, 0x23D967BF,
    0xB3667A2E, 0xC4614AB8, 0x5D681B02, 0x2A6F2B94, 0xB40BBE37, 0xC30C8EA1, 0x5A05DF1B, 0x2D02EF8D,
};

namespace {

// Slicing by eight: entry i of slice k is the register after byte i and then k zero bytes,
// so eight bytes cost eight independent lookups instead of a chain of eight.
using TSlices = std::array<std::array<uint32_t, 256>, 8>;

constexpr TSlices MakeSlices()
{
    TSlices t{};
    for (unsigned i = 0; i < 256; ++i) t[0][i] = SignatureTable[i];
    for (unsigned k = 1; k < 8; ++k)
        for (unsigned i = 0; i < 256; ++i)
            t[k][i] = SignatureTable[t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
    return t;
}

constexpr TSlices Slices = MakeSlices();

// Byte 0 lowest, whatever the host's byte order; compilers make it one load.
inline uint32_t Load32(const uint8_t* p) noexcept
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t FoldTable(const uint8_t* p, size_t n, uint32_t s) noexcept
{
    for (; n >= 8; p += 8, n -= 8) {
        // The register meets only the first four bytes; the other four index their
        // slices straight from memory, which needs no shifts and no register copies.
        const uint32_t lo = Load32(p) ^ s;
        s = Slices[7][lo & 0xFF] ^ Slices[6][(lo >> 8) & 0xFF] ^ Slices[5][(lo >> 16) & 0xFF] ^
            Slices[4][lo >> 24] ^ Slices[3][p[4]] ^ Slices[2][p[5]] ^ Slices[1][p[6]] ^ Slices[0][p[7]];
    }
    for (; n > 0; ++p, --n) s = UpdateSignature(*p, s);
    return s;
}

#ifdef KW_CRC_CARRYLESS

// Carry-less folding. Polynomials over GF(2) here keep the coefficient of x^d in bit d. In
// the reflected register the first byte's low bit is the highest power, so a 64-bit lane u
// stands for sum u[j] x^(63-j), 16 loaded bytes for sum v[j] x^(127-j), and a register for
// sum r[j] x^(31-j). The register after a message M of n bits from start value R is
// (R x^n + M x^32) mod P: R can be added to the first 32 message bits, and then the register
// is (M x^32) mod P. PCLMULQDQ of two lanes gives a 128-bit value that stands for x times the
// product of what they stand for: that extra x is taken into the constants below.

constexpr uint64_t PolyLow = [] {  // P without its x^32 term, bit d = x^d
    uint64_t p = 0;
    for (int j = 0; j < 32; ++j)
        if (0xEDB88320u >> j & 1) p |= uint64_t{1} << (31 - j);
    return p;
}();
constexpr uint64_t Poly = uint64_t{1} << 32 | PolyLow;

// x^e mod P.
constexpr uint64_t XPowMod(int e)
{
    uint64_t r = 1;
    for (int i = 0; i < e; ++i) {
        r <<= 1;
        if (r >> 32 & 1) r ^= Poly;
    }
    return r;
}

// floor(x^64 / P), by long division: 33 quotient bits.
constexpr uint64_t Mu = [] {
    uint64_t window = uint64_t{1} << 32;  // dividend bits x^d .. x^(d-32), from d = 64
    uint64_t q = 0;
    for (int d = 64; d >= 32; --d) {
        if (window >> 32 & 1) {
            q |= uint64_t{1} << (d - 32);
            window ^= Poly;
        }
        window <<= 1;  // x^64 has no lower terms to bring down
    }
    return q;
}();

// The lane that stands for k x^m (k of degree at most 63 - m).
constexpr uint64_t Lane(uint64_t k, int m)
{
    uint64_t v = 0;
    for (int d = 0; d + m <= 63; ++d)
        if (k >> d & 1) v |= uint64_t{1} << (63 - d - m);
    return v;
}

// A lane constant c with clmul(u, c) == u x^e (mod P), the product staying below x^128
// for any 64-bit u: c stands for (x^(e-33) mod P) x^32.
constexpr uint64_t Times(int e) { return Lane(XPowMod(e - 33), 32); }

static_assert(XPowMod(32) == PolyLow);
static_assert(Lane(XPowMod(32), 32) == 0xEDB88320u);  // the table's entry 128
static_assert(Mu >> 32 == 1 && (Mu & 1) == 1);

// Carrying 16 bytes forward by D bits: the low lane stands for its part times x^64.
template <int D>
struct TForward {
    static constexpr uint64_t Lo = Times(D + 64);
    static constexpr uint64_t Hi = Times(D);
};

#define KW_CARRYLESS __attribute__((target("sse2,pclmul")))

KW_CARRYLESS inline __m128i Pair(uint64_t hi, uint64_t lo) noexcept
{
    return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
}

KW_CARRYLESS inline __m128i Load128(const uint8_t* p) noexcept
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x times x^D (mod P), still 128 bits wide.
template <int D>
KW_CARRYLESS inline __m128i Forward(__m128i x) noexcept
{
    const __m128i k = Pair(TForward<D>::Hi, TForward<D>::Lo);
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// The register (a x^32) mod P for the 128 bits a that remain. Dwords are numbered in memory
// order, dword 0 holding the highest powers.
KW_CARRYLESS inline uint32_t Reduce(__m128i a) noexcept
{
    // a x^64 = lo x^128 + hi x^64: the low lane carried forward by 64 bits, the high lane
    // moved down two dwords. s x^32 with s of degree below 96 and dword 3 clear.
    const __m128i k = Pair(Times(96), Times(128));
    const __m128i s = _mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_srli_si128(a, 8));
    // Dword 0 (s's top 32 terms, times x^96) carried down into dwords 1 and 2: q x^32 with
    // q of degree below 64, dword 0 clear.
    const __m128i top = _mm_clmulepi64_si128(_mm_slli_si128(s, 12), k, 0x11);
    const __m128i q = _mm_xor_si128(top, _mm_and_si128(s, _mm_set_epi32(-1, -1, -1, 0)));
    // Barrett: with q = h x^32 + l, g = floor(h Mu / x^32) is floor(q / P), and q mod P is
    // l plus the low 32 terms of g P. The lane constants stand for Mu x^31 and P x^31, so
    // g lands alone in the low lane and the low terms of g P in dword 2, over l.
    const __m128i b = Pair(Lane(Poly, 31), Lane(Mu, 31));
    const __m128i g = _mm_clmulepi64_si128(q, b, 0x00);
    const __m128i r = _mm_xor_si128(q, _mm_clmulepi64_si128(g, b, 0x10));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(r, 2)));
}

// A block at least; shorter folds go to the table.
constexpr size_t CarryLessMin = 16;

KW_CARRYLESS uint32_t FoldCarryLess(const uint8_t* p, size_t n, uint32_t s) noexcept
{
    if (n < CarryLessMin) return FoldTable(p, n, s);
    const __m128i start = _mm_cvtsi32_si128(static_cast<int>(s));
    __m128i x;
    if (n >= 64) {
        // Four blocks in flight, so the multiplications do not wait on each other.
        __m128i x0 = _mm_xor_si128(Load128(p), start);
        __m128i x1 = Load128(p + 16);
        __m128i x2 = Load128(p + 32);
        __m128i x3 = Load128(p + 48);
        for (p += 64, n -= 64; n >= 64; p += 64, n -= 64) {
            x0 = _mm_xor_si128(Forward<512>(x0), Load128(p));
            x1 = _mm_xor_si128(Forward<512>(x1), Load128(p + 16));
            x2 = _mm_xor_si128(Forward<512>(x2), Load128(p + 32));
            x3 = _mm_xor_si128(Forward<512>(x3), Load128(p + 48));
        }
        x = _mm_xor_si128(_mm_xor_si128(Forward<384>(x0), Forward<256>(x1)),
                          _mm_xor_si128(Forward<128>(x2), x3));
    } else {
        x = _mm_xor_si128(Load128(p), start);
        p += 16;
        n -= 16;
    }
    for (; n >= 16; p += 16, n -= 16) x = _mm_xor_si128(Forward<128>(x), Load128(p));
    return FoldTable(p, n, Reduce(x));
}

// -1 until asked. Constant-initialised and lock-free, so the first fold on a reading
// thread takes no lock.
std::atomic<int> CpuCarryLess{-1};

bool CpuHasCarryLess() noexcept
{
    int has = CpuCarryLess.load(std::memory_order_relaxed);
    if (has < 0) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        has = __get_cpuid(1, &a, &b, &c, &d) != 0 && (d & bit_SSE2) != 0 &&
              (c & bit_PCLMUL) != 0;
        CpuCarryLess.store(has, std::memory_order_relaxed);
    }
    return has != 0;
}

#else

bool CpuHasCarryLess() noexcept { return false; }

#endif

using TFoldFn = uint32_t (*)(const uint8_t*, size_t, uint32_t) noexcept;

TFoldFn Fastest() noexcept
{
#ifdef KW_CRC_CARRYLESS
    if (CpuHasCarryLess()) return FoldCarryLess;
#endif
    return FoldTable;
}

uint32_t FoldFirst(const uint8_t* data, size_t count, uint32_t signature) noexcept;

// Constant-initialised, so a fold from any thread before or during start-up finds it; the
// first fold puts the fastest way in, unless a selection came first.
std::atomic<TFoldFn> Fold{FoldFirst};

uint32_t FoldFirst(const uint8_t* data, size_t count, uint32_t signature) noexcept
{
    TFoldFn expected = FoldFirst;
    Fold.compare_exchange_strong(expected, Fastest(), std::memory_order_relaxed);
    return Fold.load(std::memory_order_relaxed)(data, count, signature);
}

}  // namespace

uint32_t UpdateSignature(const uint8_t* data, size_t count, uint32_t signature) noexcept
{
    return Fold.load(std::memory_order_relaxed)(data, count, signature);
}

bool SelectSignatureFold(TSignatureFold fold) noexcept
{
    switch (fold) {
    case TSignatureFold::Auto: Fold.store(Fastest(), std::memory_order_relaxed); return true;
    case TSignatureFold::Table: Fold.store(FoldTable, std::memory_order_relaxed); return true;
    case TSignatureFold::CarryLess:
#ifdef KW_CRC_CARRYLESS
        if (CpuHasCarryLess()) {
            Fold.store(FoldCarryLess, std::memory_order_relaxed);
            return true;
        }
#endif
        return false;
    }
    return false;
}

TSignatureFold SignatureFold() noexcept
{
    TFoldFn f = Fold.load(std::memory_order_relaxed);
    if (f == FoldFirst) f = Fastest();
#ifdef KW_CRC_CARRYLESS
    if (f == FoldCarryLess) return TSignatureFold::CarryLess;
#endif
    return TSignatureFold::Table;
}
