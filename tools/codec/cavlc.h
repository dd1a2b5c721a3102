#pragma once
// Context-adaptive variable-length coding of residual blocks (ITU-T H.264
// clause 9.2, residual_block_cavlc of clause 7.3.5.3.2), reading and writing,
// and the coded_block_pattern mapping of clause 9.1.2 (Table 9-4).
// The code tables live once in cavlc.cpp; the reader's decoding tables are
// built from them, so a write-then-read round trip checks both directions.
#include "tools/bitstream/bit_reader.h"
#include "tools/bitstream/bit_writer.h"

#include <cstdint>

namespace kestrune::codec {

// nC of a chroma DC block in 4:2:0 (Table 9-5, column nC == -1).
inline constexpr int kChromaDcNc = -1;

// nC of clause 9.2.1 from the total_coeff of the neighbouring 4x4 blocks A
// (left) and B (above); an unavailable neighbour passes available = false.
// Inline: the decoder asks for up to 25 blocks per macroblock.
constexpr int coeffTokenContext(bool availableA, int totalCoeffA, bool availableB, int totalCoeffB)
{
    if (availableA && availableB) return (totalCoeffA + totalCoeffB + 1) >> 1;
    if (availableA) return totalCoeffA;
    if (availableB) return totalCoeffB;
    return 0;
}

// coeff_token (Table 9-5). nC -1 (chroma DC 4:2:0) or >= 0.
// readCoeffToken returns false on a code that is not in the table.
bool readCoeffToken(h264::BitReader& bits, int nC, int& totalCoeff, int& trailingOnes);
void writeCoeffToken(h264::BitWriter& bits, int nC, int totalCoeff, int trailingOnes);

// The readers of single syntax elements below are for the round-trip tests:
// readResidualBlock reads a whole block its own faster way.
// total_zeros (Tables 9-7, 9-8, 9-9a); maxNumCoeff 4 selects the chroma DC table.
bool readTotalZerosForTests(h264::BitReader& bits, int maxNumCoeff, int totalCoeff, int& totalZeros);
void writeTotalZeros(h264::BitWriter& bits, int maxNumCoeff, int totalCoeff, int totalZeros);

// run_before (Table 9-10), zerosLeft >= 1.
bool readRunBeforeForTests(h264::BitReader& bits, int zerosLeft, int& runBefore);
void writeRunBefore(h264::BitWriter& bits, int zerosLeft, int runBefore);

// One non-trailing-one level (level_prefix and level_suffix, clause 9.2.2.1),
// with suffixLength as the caller tracks it; both adapt suffixLength the same
// way. firstAfterFewTrailingOnes: this is the first level after fewer than
// three trailing ones (it cannot be +-1, so it is coded one step smaller).
// Levels whose level_prefix would exceed 15 use the escape of clause 9.2.2.1
// (not allowed in Baseline; levelFitsBaseline tells the encoder).
bool readLevelForTests(h264::BitReader& bits, int& suffixLength, bool firstAfterFewTrailingOnes, int& level);
void writeLevel(h264::BitWriter& bits, int& suffixLength, bool firstAfterFewTrailingOnes, int level);
bool levelFitsBaseline(int suffixLength, bool firstAfterFewTrailingOnes, int level);

// residual_block_cavlc for a block of maxNumCoeff coefficients (16 luma 4x4,
// 15 AC, 4 chroma DC) in scan order, coeffLevel[0..maxNumCoeff).
// Returns TotalCoeff (0..maxNumCoeff), or -1 when the data cannot be valid
// (a code not in a table, total_zeros or run_before beyond the block, or a
// read past the end); coeffLevel is then unspecified.
int readResidualBlock(h264::BitReader& bits, int nC, int maxNumCoeff, int* coeffLevel);
// The same, placing coefficient k of the scan at block[position[k]] (for
// example the zig-zag scan into a raster block) and writing only the
// non-zero ones: the caller clears the block first.
int readResidualBlock(h264::BitReader& bits, int nC, int maxNumCoeff, const std::uint8_t* position, std::int32_t* block);
// Returns TotalCoeff, which neighbours need for their nC.
int writeResidualBlock(h264::BitWriter& bits, int nC, int maxNumCoeff, const int* coeffLevel);

// coded_block_pattern as me(v) (Table 9-4, chroma_format_idc 1 or 2):
// codeNum 0..47 <-> coded_block_pattern 0..47. intra: Intra_4x4 prediction
// mode (Intra_8x8 too); otherwise Inter. cbpFromCodeNum returns -1 above 47.
int cbpFromCodeNum(std::uint32_t codeNum, bool intra);
std::uint32_t codeNumFromCbp(int cbp, bool intra);

// True when no code of any table begins another code of the same table: a
// check of the tables' transcription that a round trip alone cannot make.
bool cavlcTablesArePrefixFreeForTests();

} // namespace kestrune::codec
