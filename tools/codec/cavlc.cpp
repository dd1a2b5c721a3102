#include "tools/codec/cavlc.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrune::codec {

namespace {

// The reader's position in a local for the length of one residual block, so
// that it stays in a register; finish() hands it back. Past the end of the
// data bits read as zero, and finish() then sets the reader's overrun().
class BlockBits {
public:
    explicit BlockBits(const h264::BitReader& bits)
        : data_(bits.data().data()), size_(bits.data().size()), start_(bits.bitPosition()), pos_(start_) {}

    std::uint32_t peek32() const
    {
        const std::size_t byte = pos_ >> 3;
        std::uint64_t window = 0;
        if (byte + 8 <= size_) {
            std::memcpy(&window, data_ + byte, 8);
            window = __builtin_bswap64(window);
        } else {
            for (std::size_t i = 0; i < 8; ++i) window = (window << 8) | (byte + i < size_ ? data_[byte + i] : 0);
        }
        return static_cast<std::uint32_t>((window << (pos_ & 7)) >> 32);
    }
    void consume(int n) { pos_ += static_cast<std::size_t>(n); }
    // n in 1..32.
    std::uint32_t u(int n)
    {
        const std::uint32_t v = peek32() >> (32 - n);
        pos_ += static_cast<std::size_t>(n);
        return v;
    }
    void finish(h264::BitReader& bits) const { bits.consume(static_cast<int>(pos_ - start_)); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t start_;
    std::size_t pos_;
};

struct VlcCode {
    int length;  // 1..16
    std::uint32_t code;
    int value;
};

// Decodes a prefix code of at most 16 bits with two 8-bit lookup levels.
class VlcTable {
public:
    VlcTable() = default;
    explicit VlcTable(const std::vector<VlcCode>& codes)
    {
        for (const VlcCode& c : codes) {
            if (c.length <= 8) {
                const int first = static_cast<int>(c.code << (8 - c.length));
                for (int i = 0; i < (1 << (8 - c.length)); ++i) place(first_[first + i], c, c.length);
            } else {
                const int prefix = static_cast<int>(c.code >> (c.length - 8));
                Entry& head = first_[prefix];
                if (head.length) prefixFree_ = false;
                if (head.second < 0) {
                    head.second = static_cast<std::int16_t>(second_.size());
                    second_.emplace_back();
                }
                const int low = static_cast<int>((c.code & ((1u << (c.length - 8)) - 1)) << (16 - c.length));
                for (int i = 0; i < (1 << (16 - c.length)); ++i) place(second_[head.second][low + i], c, c.length);
            }
        }
    }

    // The value, or -1 when no code matches (Bits: h264::BitReader or BlockBits).
    template <typename Bits>
    int read(Bits& bits) const
    {
        const std::uint32_t window = bits.peek32();
        const Entry& head = first_[window >> 24];
        if (head.length) {
            bits.consume(head.length);
            return head.value;
        }
        if (head.second < 0) return -1;
        const Entry& tail = second_[static_cast<std::size_t>(head.second)][(window >> 16) & 0xFF];
        if (!tail.length) return -1;
        bits.consume(tail.length);
        return tail.value;
    }

    bool prefixFree() const { return prefixFree_; }

private:
    struct Entry {
        std::int16_t value = -1;
        std::uint8_t length = 0;
        std::int16_t second = -1;  // index of the second-level table
    };
    void place(Entry& e, const VlcCode& c, int length)
    {
        if (e.length || e.second >= 0) prefixFree_ = false;
        e.value = static_cast<std::int16_t>(c.value);
        e.length = static_cast<std::uint8_t>(length);
    }

    std::array<Entry, 256> first_{};
    std::vector<std::array<Entry, 256>> second_;
    bool prefixFree_ = true;
};

// Table 9-5, coeff_token, indexed [nC class][TotalCoeff * 4 + TrailingOnes]:
// code lengths (0: no such code) and code values. Classes: 0 <= nC < 2,
// 2 <= nC < 4, 4 <= nC < 8, 8 <= nC (six-bit fixed length).
constexpr std::uint8_t kCoeffTokenLength[4][17 * 4] = {
    {1, 0, 0, 0, 6, 2, 0, 0, 8, 6, 3, 0, 9, 8, 7, 5, 10, 9, 8, 6, 11, 10, 9, 7, 13, 11, 10, 8,
     13, 13, 11, 9, 13, 13, 13, 10, 14, 14, 13, 11, 14, 14, 14, 13, 15, 15, 14, 14, 15, 15, 15, 14,
     16, 15, 15, 15, 16, 16, 16, 15, 16, 16, 16, 16, 16, 16, 16, 16},
    {2, 0, 0, 0, 6, 2, 0, 0, 6, 5, 3, 0, 7, 6, 6, 4, 8, 6, 6, 4, 8, 7, 7, 5, 9, 8, 8, 6,
     11, 9, 9, 6, 11, 11, 11, 7, 12, 11, 11, 9, 12, 12, 12, 11, 12, 12, 12, 11, 13, 13, 13, 12,
     13, 13, 13, 13, 13, 14, 13, 13, 14, 14, 14, 13, 14, 14, 14, 14},
    {4, 0, 0, 0, 6, 4, 0, 0, 6, 5, 4, 0, 6, 5, 5, 4, 7, 5, 5, 4, 7, 5, 5, 4, 7, 6, 6, 4,
     7, 6, 6, 4, 8, 7, 7, 5, 8, 8, 7, 6, 9, 8, 8, 7, 9, 9, 8, 8, 9, 9, 9, 8,
     10, 9, 9, 9, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10},
    {6, 0, 0, 0, 6, 6, 0, 0, 6, 6, 6, 0, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
     6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
     6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6},
};
constexpr std::uint8_t kCoeffTokenCode[4][17 * 4] = {
    {1, 0, 0, 0, 5, 1, 0, 0, 7, 4, 1, 0, 7, 6, 5, 3, 7, 6, 5, 3, 7, 6, 5, 4, 15, 6, 5, 4,
     11, 14, 5, 4, 8, 10, 13, 4, 15, 14, 9, 4, 11, 10, 13, 12, 15, 14, 9, 12, 11, 10, 13, 8,
     15, 1, 9, 12, 11, 14, 13, 8, 7, 10, 9, 12, 4, 6, 5, 8},
    {3, 0, 0, 0, 11, 2, 0, 0, 7, 7, 3, 0, 7, 10, 9, 5, 7, 6, 5, 4, 4, 6, 5, 6, 7, 6, 5, 8,
     15, 6, 5, 4, 11, 14, 13, 4, 15, 10, 9, 4, 11, 14, 13, 12, 8, 10, 9, 8, 15, 14, 13, 12,
     11, 10, 9, 12, 7, 11, 6, 8, 9, 8, 10, 1, 7, 6, 5, 4},
    {15, 0, 0, 0, 15, 14, 0, 0, 11, 15, 13, 0, 8, 12, 14, 12, 15, 10, 11, 11, 11, 8, 9, 10, 9, 14, 13, 9,
     8, 10, 9, 8, 15, 14, 13, 13, 11, 14, 10, 12, 15, 10, 13, 12, 11, 14, 9, 12, 8, 10, 13, 8,
     13, 7, 9, 12, 9, 12, 11, 10, 5, 8, 7, 6, 1, 4, 3, 2},
    {3, 0, 0, 0, 0, 1, 0, 0, 4, 5, 6, 0, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
     24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47,
     48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63},
};
// Table 9-5, column nC == -1 (chroma DC, 4:2:0), TotalCoeff 0..4.
constexpr std::uint8_t kChromaDcCoeffTokenLength[5 * 4] = {2, 0, 0, 0, 6, 1, 0, 0, 6, 6, 3, 0,
                                                           6, 7, 7, 6, 6, 8, 8, 7};
constexpr std::uint8_t kChromaDcCoeffTokenCode[5 * 4] = {1, 0, 0, 0, 7, 1, 0, 0, 4, 6, 1, 0,
                                                         3, 3, 2, 5, 2, 3, 2, 0};

// Tables 9-7 and 9-8, total_zeros for 4x4 blocks, [TotalCoeff - 1][total_zeros].
constexpr std::uint8_t kTotalZerosLength[15][16] = {
    {1, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 9}, {3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 6, 6, 6, 6},
    {4, 3, 3, 3, 4, 4, 3, 3, 4, 5, 5, 6, 5, 6},       {5, 3, 4, 4, 3, 3, 3, 4, 3, 4, 5, 5, 5},
    {4, 4, 4, 3, 3, 3, 3, 3, 4, 5, 4, 5},             {6, 5, 3, 3, 3, 3, 3, 3, 4, 3, 6},
    {6, 5, 3, 3, 3, 2, 3, 4, 3, 6},                   {6, 4, 5, 3, 2, 2, 3, 3, 6},
    {6, 6, 4, 2, 2, 3, 2, 5},                         {5, 5, 3, 2, 2, 2, 4},
    {4, 4, 3, 3, 1, 3},                               {4, 4, 2, 1, 3},
    {3, 3, 1, 2},                                     {2, 2, 1},
    {1, 1},
};
constexpr std::uint8_t kTotalZerosCode[15][16] = {
    {1, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 3, 2, 1}, {7, 6, 5, 4, 3, 5, 4, 3, 2, 3, 2, 3, 2, 1, 0},
    {5, 7, 6, 5, 4, 3, 4, 3, 2, 3, 2, 1, 1, 0},       {3, 7, 5, 4, 6, 5, 4, 3, 3, 2, 2, 1, 0},
    {5, 4, 3, 7, 6, 5, 4, 3, 2, 1, 1, 0},             {1, 1, 7, 6, 5, 4, 3, 2, 1, 1, 0},
    {1, 1, 5, 4, 3, 3, 2, 1, 1, 0},                   {1, 1, 1, 3, 3, 2, 2, 1, 0},
    {1, 0, 1, 3, 2, 1, 1, 1},                         {1, 0, 1, 3, 2, 1, 1},
    {0, 1, 1, 2, 1, 3},                               {0, 1, 1, 1, 1},
    {0, 1, 1, 1},                                     {0, 1, 1},
    {0, 1},
};
// Table 9-9a, total_zeros for chroma DC 4:2:0, [TotalCoeff - 1][total_zeros].
constexpr std::uint8_t kChromaDcTotalZerosLength[3][4] = {{1, 2, 3, 3}, {1, 2, 2}, {1, 1}};
constexpr std::uint8_t kChromaDcTotalZerosCode[3][4] = {{1, 1, 1, 0}, {1, 1, 0}, {1, 0}};

// Table 9-10, run_before, [Min(zerosLeft, 7) - 1][run_before].
constexpr std::uint8_t kRunBeforeLength[7][15] = {
    {1, 1}, {1, 2, 2}, {2, 2, 2, 2}, {2, 2, 2, 3, 3}, {2, 2, 3, 3, 3, 3}, {2, 3, 3, 3, 3, 3, 3},
    {3, 3, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11},
};
constexpr std::uint8_t kRunBeforeCode[7][15] = {
    {1, 0}, {1, 1, 0}, {3, 2, 1, 0}, {3, 2, 1, 1, 0}, {3, 2, 3, 2, 1, 0}, {3, 0, 1, 3, 2, 5, 4},
    {7, 6, 5, 4, 3, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1},
};

// Table 9-4, codeNum -> coded_block_pattern for chroma_format_idc 1 and 2.
constexpr std::uint8_t kCbpIntra[48] = {47, 31, 15, 0,  23, 27, 29, 30, 7,  11, 13, 14, 39, 43, 45, 46,
                                        16, 3,  5,  10, 12, 19, 21, 26, 28, 35, 37, 42, 44, 1,  2,  4,
                                        8,  17, 18, 20, 24, 6,  9,  22, 25, 32, 33, 34, 36, 40, 38, 41};
constexpr std::uint8_t kCbpInter[48] = {0,  16, 1,  2,  4,  8,  32, 3,  5,  10, 12, 15, 47, 7,  11, 13,
                                        14, 6,  9,  31, 35, 37, 42, 44, 33, 34, 36, 40, 39, 43, 45, 46,
                                        17, 18, 20, 24, 19, 21, 26, 28, 23, 27, 29, 30, 22, 25, 38, 41};

int coeffTokenClass(int nC)
{
    constexpr std::uint8_t kClass[8] = {0, 0, 1, 1, 2, 2, 2, 2};
    return nC >= 8 ? 3 : kClass[nC < 0 ? 0 : nC];
}

// The reader's decoding tables, built once from the code tables above.
struct Decoders {
    std::array<VlcTable, 4> coeffToken;
    VlcTable chromaDcCoeffToken;
    std::array<VlcTable, 15> totalZeros;
    std::array<VlcTable, 3> chromaDcTotalZeros;
    std::array<VlcTable, 7> runBefore;

    Decoders()
    {
        for (int c = 0; c < 4; ++c) {
            std::vector<VlcCode> codes;
            for (int i = 0; i < 17 * 4; ++i)
                if (kCoeffTokenLength[c][i]) codes.push_back({kCoeffTokenLength[c][i], kCoeffTokenCode[c][i], i});
            coeffToken[c] = VlcTable(codes);
        }
        std::vector<VlcCode> codes;
        for (int i = 0; i < 5 * 4; ++i)
            if (kChromaDcCoeffTokenLength[i]) codes.push_back({kChromaDcCoeffTokenLength[i], kChromaDcCoeffTokenCode[i], i});
        chromaDcCoeffToken = VlcTable(codes);
        for (int t = 0; t < 15; ++t) {
            codes.clear();
            for (int z = 0; z < 16 - t; ++z) codes.push_back({kTotalZerosLength[t][z], kTotalZerosCode[t][z], z});
            totalZeros[t] = VlcTable(codes);
        }
        for (int t = 0; t < 3; ++t) {
            codes.clear();
            for (int z = 0; z < 4 - t; ++z) codes.push_back({kChromaDcTotalZerosLength[t][z], kChromaDcTotalZerosCode[t][z], z});
            chromaDcTotalZeros[t] = VlcTable(codes);
        }
        for (int t = 0; t < 7; ++t) {
            codes.clear();
            const int runs = t < 6 ? t + 2 : 15;
            for (int r = 0; r < runs; ++r) codes.push_back({kRunBeforeLength[t][r], kRunBeforeCode[t][r], r});
            runBefore[t] = VlcTable(codes);
        }
    }

    bool prefixFree() const
    {
        bool ok = chromaDcCoeffToken.prefixFree();
        for (const auto& t : coeffToken) ok = ok && t.prefixFree();
        for (const auto& t : totalZeros) ok = ok && t.prefixFree();
        for (const auto& t : chromaDcTotalZeros) ok = ok && t.prefixFree();
        for (const auto& t : runBefore) ok = ok && t.prefixFree();
        return ok;
    }
};

const Decoders& decoders()
{
    static const Decoders instance;
    return instance;
}

// level_prefix and level_suffix of one level (clause 9.2.2.1), inverted.
struct LevelCode {
    int prefix;
    int suffixSize;
    std::uint32_t suffix;
};

LevelCode levelCodeFor(int suffixLength, bool firstAfterFewTrailingOnes, int level)
{
    int levelCode = level > 0 ? 2 * level - 2 : -2 * level - 1;
    if (firstAfterFewTrailingOnes) levelCode -= 2;
    int base;
    if (suffixLength == 0) {
        if (levelCode < 14) return {levelCode, 0, 0};
        if (levelCode < 30) return {14, 4, static_cast<std::uint32_t>(levelCode - 14)};
        base = 30;
    } else {
        if ((levelCode >> suffixLength) < 15)
            return {levelCode >> suffixLength, suffixLength,
                    static_cast<std::uint32_t>(levelCode & ((1 << suffixLength) - 1))};
        base = 15 << suffixLength;
    }
    const int rest = levelCode - base;
    if (rest < 4096) return {15, 12, static_cast<std::uint32_t>(rest)};
    // level_prefix >= 16: levelCode gains (1 << (level_prefix - 3)) - 4096.
    int prefix = 16;
    while (rest - ((1 << (prefix - 3)) - 4096) >= (1 << (prefix - 3))) ++prefix;
    return {prefix, prefix - 3, static_cast<std::uint32_t>(rest - ((1 << (prefix - 3)) - 4096))};
}

void adaptSuffixLength(int& suffixLength, int level)
{
    if (suffixLength == 0) suffixLength = 1;
    if (std::abs(level) > (3 << (suffixLength - 1)) && suffixLength < 6) ++suffixLength;
}

} // namespace

bool cavlcTablesArePrefixFreeForTests()
{
    return decoders().prefixFree();
}

bool readCoeffToken(h264::BitReader& bits, int nC, int& totalCoeff, int& trailingOnes)
{
    const VlcTable& table = nC < 0 ? decoders().chromaDcCoeffToken : decoders().coeffToken[coeffTokenClass(nC)];
    const int value = table.read(bits);
    if (value < 0) return false;
    totalCoeff = value >> 2;
    trailingOnes = value & 3;
    return true;
}

void writeCoeffToken(h264::BitWriter& bits, int nC, int totalCoeff, int trailingOnes)
{
    const int index = totalCoeff * 4 + trailingOnes;
    if (nC < 0) {
        bits.u(kChromaDcCoeffTokenLength[index], kChromaDcCoeffTokenCode[index]);
    } else {
        const int c = coeffTokenClass(nC);
        bits.u(kCoeffTokenLength[c][index], kCoeffTokenCode[c][index]);
    }
}

bool readTotalZerosForTests(h264::BitReader& bits, int maxNumCoeff, int totalCoeff, int& totalZeros)
{
    const VlcTable& table = maxNumCoeff == 4 ? decoders().chromaDcTotalZeros[totalCoeff - 1]
                                             : decoders().totalZeros[totalCoeff - 1];
    totalZeros = table.read(bits);
    return totalZeros >= 0;
}

void writeTotalZeros(h264::BitWriter& bits, int maxNumCoeff, int totalCoeff, int totalZeros)
{
    if (maxNumCoeff == 4)
        bits.u(kChromaDcTotalZerosLength[totalCoeff - 1][totalZeros], kChromaDcTotalZerosCode[totalCoeff - 1][totalZeros]);
    else
        bits.u(kTotalZerosLength[totalCoeff - 1][totalZeros], kTotalZerosCode[totalCoeff - 1][totalZeros]);
}

bool readRunBeforeForTests(h264::BitReader& bits, int zerosLeft, int& runBefore)
{
    runBefore = decoders().runBefore[std::min(zerosLeft, 7) - 1].read(bits);
    return runBefore >= 0 && runBefore <= zerosLeft;
}

void writeRunBefore(h264::BitWriter& bits, int zerosLeft, int runBefore)
{
    const int t = std::min(zerosLeft, 7) - 1;
    bits.u(kRunBeforeLength[t][runBefore], kRunBeforeCode[t][runBefore]);
}

namespace {

template <typename Bits>
bool readLevelFrom(Bits& bits, int& suffixLength, bool firstAfterFewTrailingOnes, int& level)
{
    // level_prefix: leading zero bits before a one. Beyond 25 the level
    // cannot be represented (and 16 and up are not Baseline anyway).
    const std::uint32_t window = bits.peek32();
    if (window == 0) return false;
    const int prefix = __builtin_clz(window);
    int levelCode;
    if (prefix < 14 || (prefix == 14 && suffixLength > 0)) {
        // The usual case: prefix, its one and a suffix of suffixLength (<= 6)
        // bits all lie in the window.
        const int suffix = suffixLength > 0 ? static_cast<int>((window << (prefix + 1)) >> (32 - suffixLength)) : 0;
        bits.consume(prefix + 1 + suffixLength);
        levelCode = (prefix << suffixLength) + suffix;
    } else {
        if (prefix > 25) return false;
        bits.consume(prefix + 1);
        const int suffixSize = (prefix == 14 && suffixLength == 0) ? 4 : prefix >= 15 ? prefix - 3 : suffixLength;
        const int suffix = suffixSize > 0 ? static_cast<int>(bits.u(suffixSize)) : 0;
        levelCode = (std::min(15, prefix) << suffixLength) + suffix;
        if (prefix >= 15 && suffixLength == 0) levelCode += 15;
        if (prefix >= 16) levelCode += (1 << (prefix - 3)) - 4096;
    }
    if (firstAfterFewTrailingOnes) levelCode += 2;
    level = levelCode % 2 == 0 ? (levelCode + 2) >> 1 : (-levelCode - 1) >> 1;
    adaptSuffixLength(suffixLength, level);
    return true;
}

} // namespace

bool readLevelForTests(h264::BitReader& bits, int& suffixLength, bool firstAfterFewTrailingOnes, int& level)
{
    return readLevelFrom(bits, suffixLength, firstAfterFewTrailingOnes, level);
}

void writeLevel(h264::BitWriter& bits, int& suffixLength, bool firstAfterFewTrailingOnes, int level)
{
    const LevelCode code = levelCodeFor(suffixLength, firstAfterFewTrailingOnes, level);
    bits.u(code.prefix + 1, 1);
    if (code.suffixSize > 0) bits.u(code.suffixSize, code.suffix);
    adaptSuffixLength(suffixLength, level);
}

bool levelFitsBaseline(int suffixLength, bool firstAfterFewTrailingOnes, int level)
{
    return levelCodeFor(suffixLength, firstAfterFewTrailingOnes, level).prefix <= 15;
}

namespace {

[[gnu::always_inline]] inline int readResidualBlockFrom(BlockBits& bits, int nC, int maxNumCoeff, const std::uint8_t* position,
                                                        std::int32_t* block)
{
    const Decoders& d = decoders();
    const int token = (nC < 0 ? d.chromaDcCoeffToken : d.coeffToken[static_cast<std::size_t>(coeffTokenClass(nC))]).read(bits);
    if (token < 0) return -1;
    const int totalCoeff = token >> 2;
    const int trailingOnes = token & 3;
    if (totalCoeff > maxNumCoeff) return -1;
    if (totalCoeff == 0) return 0;

    int levels[16];
    if (trailingOnes > 0) {
        const std::uint32_t signs = bits.u(trailingOnes);
        for (int i = 0; i < trailingOnes; ++i) levels[i] = 1 - 2 * static_cast<int>((signs >> (trailingOnes - 1 - i)) & 1);
    }
    int suffixLength = totalCoeff > 10 && trailingOnes < 3 ? 1 : 0;
    for (int i = trailingOnes; i < totalCoeff; ++i)
        if (!readLevelFrom(bits, suffixLength, i == trailingOnes && trailingOnes < 3, levels[i])) return -1;
    int zerosLeft = 0;
    if (totalCoeff < maxNumCoeff) {
        const VlcTable& table = maxNumCoeff == 4 ? d.chromaDcTotalZeros[static_cast<std::size_t>(totalCoeff - 1)]
                                                 : d.totalZeros[static_cast<std::size_t>(totalCoeff - 1)];
        zerosLeft = table.read(bits);
        if (zerosLeft < 0 || zerosLeft > maxNumCoeff - totalCoeff) return -1;
    }
    int coeffNum = zerosLeft + totalCoeff;  // one past the last coefficient
    for (int i = 0; i < totalCoeff - 1; ++i) {
        block[position[--coeffNum]] = levels[i];
        if (zerosLeft > 0) {
            const int run = d.runBefore[static_cast<std::size_t>(std::min(zerosLeft, 7) - 1)].read(bits);
            if (run < 0 || run > zerosLeft) return -1;
            coeffNum -= run;
            zerosLeft -= run;
        }
    }
    block[position[--coeffNum]] = levels[totalCoeff - 1];
    return totalCoeff;
}

} // namespace

int readResidualBlock(h264::BitReader& bits, int nC, int maxNumCoeff, const std::uint8_t* position, std::int32_t* block)
{
    BlockBits local(bits);
    const int totalCoeff = readResidualBlockFrom(local, nC, maxNumCoeff, position, block);
    if (totalCoeff < 0) return -1;
    local.finish(bits);
    return bits.overrun() ? -1 : totalCoeff;
}

int readResidualBlock(h264::BitReader& bits, int nC, int maxNumCoeff, int* coeffLevel)
{
    static constexpr std::uint8_t kInOrder[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < maxNumCoeff; ++i) coeffLevel[i] = 0;
    return readResidualBlock(bits, nC, maxNumCoeff, kInOrder, coeffLevel);
}

int writeResidualBlock(h264::BitWriter& bits, int nC, int maxNumCoeff, const int* coeffLevel)
{
    // Nonzero coefficients from the highest frequency down, with positions.
    int levels[16];
    int positions[16];
    int totalCoeff = 0;
    for (int i = maxNumCoeff - 1; i >= 0; --i) {
        if (coeffLevel[i] != 0) {
            levels[totalCoeff] = coeffLevel[i];
            positions[totalCoeff++] = i;
        }
    }
    int trailingOnes = 0;
    while (trailingOnes < totalCoeff && trailingOnes < 3 && std::abs(levels[trailingOnes]) == 1) ++trailingOnes;
    writeCoeffToken(bits, nC, totalCoeff, trailingOnes);
    if (totalCoeff == 0) return 0;

    int suffixLength = totalCoeff > 10 && trailingOnes < 3 ? 1 : 0;
    for (int i = 0; i < totalCoeff; ++i) {
        if (i < trailingOnes)
            bits.flag(levels[i] < 0);
        else
            writeLevel(bits, suffixLength, i == trailingOnes && trailingOnes < 3, levels[i]);
    }
    const int totalZeros = positions[0] + 1 - totalCoeff;
    if (totalCoeff < maxNumCoeff) writeTotalZeros(bits, maxNumCoeff, totalCoeff, totalZeros);
    int zerosLeft = totalZeros;
    for (int i = 0; i < totalCoeff - 1 && zerosLeft > 0; ++i) {
        const int run = positions[i] - positions[i + 1] - 1;
        writeRunBefore(bits, zerosLeft, run);
        zerosLeft -= run;
    }
    return totalCoeff;
}

int cbpFromCodeNum(std::uint32_t codeNum, bool intra)
{
    if (codeNum > 47) return -1;
    return intra ? kCbpIntra[codeNum] : kCbpInter[codeNum];
}

std::uint32_t codeNumFromCbp(int cbp, bool intra)
{
    const std::uint8_t* table = intra ? kCbpIntra : kCbpInter;
    for (std::uint32_t i = 0; i < 48; ++i)
        if (table[i] == cbp) return i;
    return 0;
}

} // namespace kestrune::codec
