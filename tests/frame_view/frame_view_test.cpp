// The frame viewer's logic on real decodes: the overlays of a stream with
// slices dropped by hand, frames read on demand, the difference image and the
// numbered PNG export.
#include "frame_view/frame_images.h"
#include "frame_view/viewed_decode.h"
#include "frame_view/yuv_frame_file.h"
#include "tests/support/x264_stream.h"
#include "tools/decode/run.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace Qt::StringLiterals;
using namespace kestrune::frameview;

namespace {

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray randomFrame(FrameSize size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray frame(size.frameBytes(), Qt::Uninitialized);
    for (char& c : frame) c = char(random() & 0xFF);
    return frame;
}

} // namespace

TEST(FrameView, OverlaysMarkExactlyTheMacroblocksOfSlicesDroppedByHand)
{
    av_log_set_level(AV_LOG_QUIET);
    kestrune::testing::X264StreamOptions options;
    options.frames = 8;
    options.slices = 9;  // one slice per macroblock row of QCIF
    options.bframes = 0;
    options.qp = 28;
    const auto stream = kestrune::testing::encodeX264Stream(options);
    // Picture 3 loses its slices 2 and 5, picture 5 its first slice; libx264
    // tells which macroblocks each slice carried.
    const std::map<int, std::set<int>> dropped = {{3, {2, 5}}, {5, {0}}};
    std::vector<std::vector<bool>> truth(8, std::vector<bool>(99, false));
    QByteArray bytes;
    for (int p = 0; p < 8; ++p) {
        int slice = 0;
        for (const auto& nal : stream.pictures[std::size_t(p)].nals) {
            if (nal.isSlice() && dropped.count(p) && dropped.at(p).count(slice++)) {
                for (int mb = nal.firstMb; mb <= nal.lastMb; ++mb) truth[std::size_t(p)][std::size_t(mb)] = true;
                continue;
            }
            bytes.append(reinterpret_cast<const char*>(nal.bytes.data()), qsizetype(nal.bytes.size()));
        }
    }
    QTemporaryDir dir;
    writeBytes(dir.filePath(u"lossy.264"_s), bytes);
    kestrune::decode::DecodeOptions decodeOptions;
    decodeOptions.input = dir.filePath(u"lossy.264"_s).toStdString();
    decodeOptions.output = dir.filePath(u"lossy_176x144.yuv"_s).toStdString();
    kestrune::decode::runDecode(decodeOptions);

    ViewedDecode decode;
    ASSERT_TRUE(decode.open(dir.filePath(u"lossy_176x144.yuv"_s), {})) << decode.error().toStdString();
    ASSERT_TRUE(decode.hasLossMap()) << decode.notes().join(u' ').toStdString();
    ASSERT_EQ(decode.frames().frames(), 8);
    int marked = 0;
    for (int f = 0; f < 8; ++f) {
        const auto* loss = decode.loss(f);
        ASSERT_NE(loss, nullptr);
        QImage lost(176, 144, QImage::Format_RGB32), concealed(352, 288, QImage::Format_RGB32);
        lost.fill(Qt::black);
        concealed.fill(Qt::black);
        paintOverlays(lost, *loss, decode.mbWidth(), LostOverlay, 1.0);
        paintOverlays(concealed, *loss, decode.mbWidth(), ConcealedOverlay, 2.0);
        for (int mb = 0; mb < 99; ++mb) {
            const int x = mb % 11, y = mb / 11;
            const bool want = truth[std::size_t(f)][std::size_t(mb)];
            EXPECT_EQ(lost.pixel(x * 16, y * 16 + 8) == qRgb(255, 0, 0), want) << "frame " << f << " macroblock " << mb;
            EXPECT_EQ(lost.pixel(x * 16 + 8, y * 16 + 8), qRgb(0, 0, 0)) << "an outline, not a fill";
            EXPECT_EQ(concealed.pixel(x * 32 + 16, y * 32 + 16) != qRgb(0, 0, 0), want) << f << ' ' << mb;
            marked += want;
        }
    }
    EXPECT_EQ(marked, 33);
    EXPECT_EQ(nextFrameWithLoss(decode, -1), 3);
    EXPECT_EQ(nextFrameWithLoss(decode, 3), 5);
    EXPECT_EQ(nextFrameWithLoss(decode, 5), -1);
    EXPECT_TRUE(readout(3, 8, decode.loss(3), nullptr).contains(u"22 macroblocks lost, 22 concealed (boundary matching)"_s))
        << readout(3, 8, decode.loss(3), nullptr).toStdString();
}

TEST(FrameView, ALongFileOpensAtOnceAndReadsOnlyTheFramesAsked)
{
    // 3,000 CIF frames as a sparse file: opening reads nothing.
    QTemporaryDir dir;
    const FrameSize cif{352, 288};
    QFile file(dir.filePath(u"long_352x288.yuv"_s));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_TRUE(file.resize(3000 * cif.frameBytes() + 5));
    file.close();
    YuvFrameFile frames;
    ASSERT_TRUE(frames.open(file.fileName(), cif)) << frames.error().toStdString();
    EXPECT_EQ(frames.frames(), 3000);
    EXPECT_EQ(frames.trailingBytes(), 5);
    EXPECT_EQ(frames.reads(), 0);
    EXPECT_EQ(frames.read(2999).size(), cif.frameBytes());
    EXPECT_TRUE(frames.read(3000).isEmpty());
    EXPECT_EQ(frames.reads(), 1);

    // Without a loss map the size is the original's, and the note says why the overlays are off.
    ViewedDecode decode;
    ASSERT_TRUE(decode.open(file.fileName(), cif));
    EXPECT_FALSE(decode.hasLossMap());
    EXPECT_TRUE(decode.notes().join(u' ').contains(u"No loss map beside long_352x288.yuv"_s));
    EXPECT_FALSE(decode.open(file.fileName(), {})) << "no size from anywhere";
    // A loss map of another size than the original's is refused by name.
    writeBytes(file.fileName() + u".mbloss"_s, "176x144 1\n0 0\n");
    ASSERT_TRUE(decode.open(file.fileName(), cif));
    EXPECT_EQ(decode.size(), (FrameSize{176, 144}));
    EXPECT_TRUE(sizeMismatch(u"o.yuv"_s, cif, decode.frames().path(), decode.size()).contains(u"176x144"_s));
    EXPECT_TRUE(sizeMismatch(u"o.yuv"_s, cif, u"d.yuv"_s, cif).isEmpty());
}

TEST(FrameView, TheDifferenceOfIdenticalFramesIsBlackAndOfOthersAmplified)
{
    const FrameSize size{48, 32};
    const QByteArray a = randomFrame(size, 1);
    const QImage same = differenceImage(a, a, size, 16);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) ASSERT_EQ(qGray(same.pixel(x, y)), 0) << x << ',' << y;
    QByteArray b = a;
    b[5] = char(quint8(a[5]) ^ 0x03);            // luma differs by at most 3
    b[7] = char(quint8(a[7]) < 128 ? 255 : 0);  // by 128 or more
    b[size.lumaBytes() + 1] = char(~a[size.lumaBytes() + 1]);  // chroma does not count
    const QImage diff = differenceImage(a, b, size, 16);
    EXPECT_EQ(qGray(diff.pixel(5, 0)), std::abs(quint8(a[5]) - quint8(b[5])) * 16);
    EXPECT_EQ(qGray(diff.pixel(7, 0)), 255);
    int lit = 0;
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) lit += qGray(diff.pixel(x, y)) != 0;
    EXPECT_EQ(lit, 2);
}

TEST(FrameView, TheSeriesExportWritesThePngsItSays)
{
    QTemporaryDir dir;
    const auto render = [](qint64 frame) {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(QColor(int(frame) * 10, 0, 0));
        return image;
    };
    const SeriesResult result = exportSeries(dir.filePath(u"paper.png"_s), 3, 12, render);
    EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    QStringList listed = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    QStringList said;
    for (const QString& path : result.written) said << QFileInfo(path).fileName();
    EXPECT_EQ(said, listed);
    ASSERT_EQ(listed.size(), 10);
    EXPECT_EQ(listed.front(), u"paper_0003.png"_s);
    for (const QString& path : result.written) {
        const QImage back(path);
        EXPECT_EQ(back.size(), QSize(40, 30)) << path.toStdString();
    }
    EXPECT_EQ(QImage(result.written[2]).pixel(0, 0), qRgb(50, 0, 0));  // frame 5
    EXPECT_EQ(seriesPath(u"/p/run.1"_s, 7, 12345), u"/p/run.1_00007.png"_s);

    const SeriesResult failed = exportSeries(dir.filePath(u"missing/x.png"_s), 0, 2, render);
    EXPECT_TRUE(failed.written.isEmpty());
    EXPECT_TRUE(failed.error.contains(u"Frame 0"_s)) << failed.error.toStdString();
}
