// The bit reader of AAC syntax: MSB first through a 64-bit cache, so that the hot loops of frame
// parsing keep it in registers. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__)
#define AAC_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define AAC_ALWAYS_INLINE inline
#endif

inline uint64_t LoadBigEndian64(const uint8_t* p) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t nWord;
    std::memcpy(&nWord, p, 8);
    return __builtin_bswap64(nWord);
#else
    return (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) |
           (uint64_t(p[3]) << 32) | (uint64_t(p[4]) << 24) | (uint64_t(p[5]) << 16) |
           (uint64_t(p[6]) << 8) | uint64_t(p[7]);
#endif
}

// Reads bits MSB first through a 64-bit cache; past the end it reads zeros and remembers it
// went there, so that a parse that ran out of data can be told from one that found something
// wrong.
class CBitReader {
public:
    CBitReader(const uint8_t* pData, size_t nBytes)
        : m_pData(pData), m_nBytes(nBytes), m_nEndBits(uint64_t(nBytes) * 8) {
        Refill();
    }

    // At least 32 bits in the cache.
    AAC_ALWAYS_INLINE void Fill() {
        if (m_nCacheBits < 32)
            Refill();
    }
    AAC_ALWAYS_INLINE uint32_t Peek32() {
        Fill();
        return uint32_t(m_nCache >> 32);
    }
    // After Fill or Peek32: up to 32 bits.
    AAC_ALWAYS_INLINE void Consume(int nBits) {
        m_nCache <<= nBits;
        m_nCacheBits -= nBits;
    }
    // 1 to 32 bits.
    uint32_t Read(int nBits) {
        const uint32_t nValue = Peek32() >> (32 - nBits);
        Consume(nBits);
        return nValue;
    }
    bool ReadFlag() { return Read(1) != 0; }
    void Skip(uint64_t nBits) {
        if (nBits <= 32) {
            Fill();
            Consume(int(nBits));
        } else {
            Restart(Position() + nBits);
        }
    }
    void Align() { Skip((8 - (Position() & 7)) & 7); }
    // Whole bytes loaded, less the bits still cached.
    uint64_t Position() const { return uint64_t(m_nNextByte) * 8 - uint64_t(m_nCacheBits); }
    bool Past() const { return Position() > m_nEndBits; }

private:
    // Tops the cache up to at least 57 bits; called with fewer than 32 in it. A whole word is
    // loaded: the bits under its last whole byte are the data's own and are loaded again,
    // unchanged, by the next refill.
    void Refill() {
        const uint64_t nWord = m_nNextByte + 8 <= m_nBytes
                                   ? LoadBigEndian64(m_pData + m_nNextByte)
                                   : LoadNearEnd(m_pData, m_nBytes, m_nNextByte);
        m_nCache |= nWord >> m_nCacheBits;
        const int nTake = (64 - m_nCacheBits) >> 3;
        m_nNextByte += size_t(nTake);
        m_nCacheBits += 8 * nTake;
    }
    // Taking and giving values only, so that a reader copied into a local stays in registers.
    static uint64_t LoadNearEnd(const uint8_t* pData, size_t nBytes, size_t nAt);
    // After a long skip: the cache starts again at the byte of the new position.
    void Restart(uint64_t nPosition) {
        m_nNextByte = size_t(nPosition >> 3);
        m_nCache = 0;
        m_nCacheBits = 0;
        Refill();
        Consume(int(nPosition & 7));
    }

    const uint8_t* m_pData;
    size_t m_nBytes;
    uint64_t m_nEndBits;
    size_t m_nNextByte = 0; // the next byte to load into the cache (past the end: zeros)
    uint64_t m_nCache = 0;  // the next bits, first bit highest
    int m_nCacheBits = 0;
};

inline uint64_t CBitReader::LoadNearEnd(const uint8_t* pData, size_t nBytes, size_t nAt) {
    uint64_t nWord = 0;
    for (size_t i = 0; i < 8 && nAt < nBytes && i < nBytes - nAt; ++i)
        nWord |= uint64_t(pData[nAt + i]) << (56 - 8 * i);
    return nWord;
}
