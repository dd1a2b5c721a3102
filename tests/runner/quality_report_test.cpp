// The quality block after Decode against values computed here from the
// definition of PSNR, on hand-made files with a known error per frame.
#include "runner/quality_report.h"

#include "tools/quality/frame_loss_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune;

namespace {

constexpr int kW = 32, kH = 16, kFrames = 5;
constexpr int kLuma = kW * kH, kChroma = (kW / 2) * (kH / 2), kFrame = kLuma + 2 * kChroma;

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Frame f of the decoded file differs from the original by +d in every
// `every`-th luma sample (d = f, so frame 0 is identical) and chroma by 1
// in every sample of U only.
struct Pair {
    QByteArray original, decoded;
    Pair()
    {
        for (int f = 0; f < kFrames; ++f) {
            QByteArray o(kFrame, 0), d(kFrame, 0);
            for (int i = 0; i < kFrame; ++i) o[i] = char((i * 7 + f * 13) % 200 + 20);
            d = o;
            for (int i = 0; i < kLuma; i += 4) d[i] = char(uchar(o[i]) + f);
            if (f > 0)
                for (int i = kLuma; i < kLuma + kChroma; ++i) d[i] = char(uchar(o[i]) + 1);
            original += o;
            decoded += d;
        }
    }
    static double expectedPsnrY(int f)
    {
        if (f == 0) return quality::kIdenticalPsnr;
        const double mse = double(f * f) / 4.0; // a quarter of the samples off by f
        return 10 * std::log10(255.0 * 255.0 / mse);
    }
};

class QualityReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeBytes(original(), pair.original);
        writeBytes(decoded(), pair.decoded);
        quality::FrameLossFile loss{kW, kH, {{0, 0}, {2, 2}, {0, 0}, {1, 0}, {0, 0}}};
        writeBytes(lossFile(), QByteArray::fromStdString(quality::formatFrameLoss(loss)));
    }
    QString original() const { return dir.filePath(u"orig_32x16.yuv"_s); }
    QString decoded() const { return dir.filePath(u"out.yuv"_s); }
    QString lossFile() const { return dir.filePath(u"tmp.yuv.mbloss"_s); }
    QualityRequest request() const { return {original(), u""_s, u""_s, decoded(), lossFile()}; }

    QTemporaryDir dir;
    Pair pair;
};

TEST_F(QualityReport, MeansWorstFrameLossAndCsvMatchTheDefinition)
{
    const QualityMeasurement m = measureQuality(request());
    ASSERT_TRUE(m.measured()) << m.notMeasured.toStdString();
    ASSERT_EQ(m.comparison.frames.size(), std::size_t(kFrames));
    double sum = 0;
    for (int f = 0; f < kFrames; ++f) {
        EXPECT_NEAR(m.comparison.frames[std::size_t(f)].psnrY, Pair::expectedPsnrY(f), 1e-9) << f;
        sum += Pair::expectedPsnrY(f);
    }
    EXPECT_NEAR(m.comparison.mean.psnrY, sum / kFrames, 1e-9);
    EXPECT_EQ(m.worstFrame, kFrames - 1);
    EXPECT_EQ(m.identicalFrames, 1);
    EXPECT_EQ(m.framesWithLoss, 2);
    EXPECT_NEAR(m.comparison.frames[1].psnrU, 10 * std::log10(255.0 * 255.0), 1e-9);
    EXPECT_EQ(m.comparison.frames[1].psnrV, quality::kIdenticalPsnr);

    const QStringList csv = qualityCsv(m).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(csv.size(), kFrames + 1);
    EXPECT_EQ(csv[0], u"frame,psnr_y,psnr_u,psnr_v,ssim_y,lost_macroblocks,concealed_macroblocks"_s);
    for (int f = 0; f < kFrames; ++f) {
        const QStringList cells = csv[f + 1].split(u',');
        ASSERT_EQ(cells.size(), 7);
        EXPECT_EQ(cells[0].toInt(), f);
        EXPECT_NEAR(cells[1].toDouble(), Pair::expectedPsnrY(f), 1e-4);
    }
    EXPECT_TRUE(csv[2].endsWith(u",2,2"_s));
    EXPECT_TRUE(csv[4].endsWith(u",1,0"_s));

    const QStringList log = qualityLogLines(m, u"orig_32x16.yuv"_s, u"out.csv"_s);
    const QString block = log.join(u'\n');
    EXPECT_TRUE(block.contains(u"Worst frame: 4"_s)) << block.toStdString();
    EXPECT_TRUE(block.contains(u"Frames with lost macroblocks: 2"_s));
    EXPECT_TRUE(block.contains(u"100.00 dB"_s)); // the cap is stated
    EXPECT_TRUE(block.contains(QString::number(sum / kFrames, 'f', 2)));
    EXPECT_TRUE(block.contains(u"Mean opinion score 5.00 "_s)) << block.toStdString(); // every frame above 42 dB
}

TEST_F(QualityReport, MissingOrMismatchedOriginalGivesOneLineAndNoNumbers)
{
    QualityRequest missing = request();
    missing.originalPath = dir.filePath(u"nothing_32x16.yuv"_s);
    QualityMeasurement m = measureQuality(missing);
    EXPECT_FALSE(m.measured());
    EXPECT_EQ(qualityLogLines(m, missing.originalPath, {}).size(), 1);
    EXPECT_TRUE(m.notMeasured.contains(u"not found"_s));

    // The fields win over the name: 16x32 is not what the decoder wrote.
    QualityRequest otherSize = request();
    otherSize.widthText = u"16"_s;
    otherSize.heightText = u"32"_s;
    m = measureQuality(otherSize);
    EXPECT_FALSE(m.measured());
    EXPECT_TRUE(m.notMeasured.contains(u"16x32"_s) && m.notMeasured.contains(u"32x16"_s)) << m.notMeasured.toStdString();

    // No size anywhere.
    QualityRequest noSize = request();
    QFile::copy(original(), dir.filePath(u"orig.yuv"_s));
    noSize.originalPath = dir.filePath(u"orig.yuv"_s);
    EXPECT_FALSE(measureQuality(noSize).measured());

    // Without a loss file the original's size must divide the decoded file.
    QualityRequest noLoss = request();
    noLoss.frameLossPath.clear();
    m = measureQuality(noLoss);
    ASSERT_TRUE(m.measured());
    EXPECT_EQ(m.framesWithLoss, -1);
    EXPECT_TRUE(qualityCsv(m).split(u"\r\n"_s)[1].endsWith(u",,"_s));
    noLoss.widthText = u"24"_s; // 24x16 frames do not divide 5 frames of 32x16
    noLoss.heightText = u"16"_s;
    EXPECT_FALSE(measureQuality(noLoss).measured());
}

TEST(QualitySizes, NamesAndCsvPaths)
{
    EXPECT_EQ(pictureSizeFromName(u"/a/352x288/foot_176x144.yuv"_s), (PictureSize{176, 144}));
    EXPECT_EQ(pictureSizeFromName(u"clip_0x144.yuv"_s), std::nullopt);
    EXPECT_EQ(originalPictureSize(u"a_176x144.yuv"_s, u"$160"_s, u"120"_s), (PictureSize{352, 120}));
    EXPECT_EQ(qualityCsvPath(u"/d/x.y/lossy_176x144.yuv"_s), u"/d/x.y/lossy_176x144.csv"_s);
    EXPECT_EQ(qualityCsvPath(u"/d/x.y/decoded"_s), u"/d/x.y/decoded.csv"_s);
}

TEST(FrameLossFile, RoundTripAndRejects)
{
    const quality::FrameLossFile file{176, 144, {{99, 99}, {0, 0}, {3, 1}}};
    EXPECT_EQ(quality::parseFrameLoss(quality::formatFrameLoss(file)), file);
    EXPECT_EQ(quality::parseFrameLoss("176x144 3\n1 1\n2 2\n"), std::nullopt);       // a frame short
    EXPECT_EQ(quality::parseFrameLoss("176x144 1\n1 1\n9 9\n"), std::nullopt);       // one too many
    EXPECT_EQ(quality::parseFrameLoss("176*144 1\n1 1\n"), std::nullopt);

    // Lines with macroblock detail (a 32x16 picture: two macroblocks) mix with plain ones.
    const quality::FrameLossFile detailed{32, 16, {{1, 1, 'P', "Vp", ""}, {0, 0}, {2, 2, 'R', "RR", "01"}}};
    EXPECT_EQ(quality::parseFrameLoss(quality::formatFrameLoss(detailed)), detailed);
    for (const char* bad : {"32x16 1\n1 1 P V.p\n",     // three codes for two macroblocks
                            "32x16 1\n1 1 P Vq\n",      // unknown code
                            "32x16 1\n1 1 Q V.\n",      // unknown picture type
                            "32x16 1\n1 1 P V. 012\n",  // three groups for two macroblocks
                            "32x16 1\n1 1 P V. 0 1\n",  // a field too many
                            "32x16 1\n1 1 P\n"})         // type without codes
        EXPECT_EQ(quality::parseFrameLoss(bad), std::nullopt) << bad;
}

// Frames on and beside every boundary of the PSNR-to-score mapping, their
// mean and the share below a reference decode, computed by hand.
TEST(OpinionScore, BoundariesMeanAndShareBelowTheLosslessDecode)
{
    const std::pair<double, int> frames[] = {{100, 5}, {37.0001, 5}, {37, 4},       {31, 4}, {30.9999, 3},
                                             {25, 3},  {24.9999, 2}, {20, 2},       {19.9999, 1}, {0, 1}};
    std::vector<quality::FrameQuality> decoded;
    QString expected;
    for (const auto& [psnr, score] : frames) {
        decoded.push_back({psnr, 0, 0, 0});
        expected += QString::number(score);
    }
    EXPECT_EQ(opinionScoreDigits(decoded), expected);  // "5544332211"
    const OpinionScores none = opinionScores(decoded);
    EXPECT_DOUBLE_EQ(none.mean, 3.0);                   // 30 / 10
    EXPECT_FALSE(none.belowReference);
    // A lossless decode of all 5s: every frame but the first two is below it.
    EXPECT_DOUBLE_EQ(*opinionScores(decoded, u"5555555555"_s).belowReference, 0.8);
    // Equal scores are not below; frames beyond the shorter decode are not compared.
    EXPECT_DOUBLE_EQ(*opinionScores(decoded, u"55443"_s).belowReference, 0.0);
    EXPECT_DOUBLE_EQ(*opinionScores(decoded, u"554433221155555"_s).belowReference, 0.0);
    EXPECT_DOUBLE_EQ(*opinionScores(decoded, u"5555"_s).belowReference, 0.5);  // 37 and 31 dB score 4
    EXPECT_FALSE(opinionScores({}, u"55"_s).belowReference);
}

} // namespace
