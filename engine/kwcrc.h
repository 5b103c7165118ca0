#pragma once
// Button signatures: a CRC-32 register folded over the bytes of the reports a button sends.
// There is no final inversion, so a signature is the complement of the usual CRC-32 of the
// same bytes.
#include <cstddef>
#include <cstdint>

// "No signature", and the start value of every fold. An empty fold leaves it unchanged,
// so a burst without bytes never yields a usable signature.
constexpr uint32_t SignatureNone = 0xFFFFFFFF;

extern const uint32_t SignatureTable[256];

// One fold step. Inline: the reader thread runs it for every byte it receives.
inline uint32_t UpdateSignature(uint8_t b, uint32_t signature) noexcept
{
    return SignatureTable[(signature ^ b) & 0xFF] ^ (signature >> 8);
}

// Folds count bytes in order; data may be null when count is 0. Allocates nothing, takes
// no lock, and gives the same value as the one-byte step over the same bytes.
uint32_t UpdateSignature(const uint8_t* data, size_t count, uint32_t signature) noexcept;

// The ways the buffer fold can run. Every one gives the same values; they differ in speed.
enum class TSignatureFold : uint8_t {
    Auto,       // the fastest one this processor has: the default
    Table,      // eight table lookups per eight bytes, on any processor
    CarryLess,  // carry-less multiplication over 16-byte blocks (x86 with SSE2 and PCLMULQDQ)
};

// For tests and measurement only: makes later buffer folds, on every thread, take the given
// way. Returns false and changes nothing when this processor cannot run it.
bool SelectSignatureFold(TSignatureFold fold) noexcept;

// The way buffer folds take now; never Auto.
TSignatureFold SignatureFold() noexcept;
