#include "tests/tools/decode/test_stream.h"

#include <random>

namespace kestrune::decode::test {

TestStream encodeTestStream(int frames, int slices, int keyint, Content content, int width, int height, bool baseline)
{
    kestrune::testing::X264StreamOptions options;
    options.width = width;
    options.height = height;
    options.frames = frames;
    options.picture = content == Content::Smooth ? kestrune::testing::renderSmooth : kestrune::testing::renderSample;
    options.bframes = 0;
    options.refs = 1;
    options.slices = slices;
    options.keyint = keyint;
    options.keyintMin = keyint;
    options.qp = 28;
    options.weightedPrediction = false;  // as the workbench's encoder
    if (baseline) options.profile = "baseline";
    return kestrune::testing::encodeX264Stream(options);
}

DamagedStream damage(const TestStream& stream, const std::function<bool(int, const TestNal&)>& drop)
{
    DamagedStream damaged;
    for (std::size_t p = 0; p < stream.pictures.size(); ++p) {
        std::vector<bool> lost(std::size_t(stream.mbCount()), false);
        bool anySlice = false;
        for (const TestNal& nal : stream.pictures[p].nals) {
            if (drop(int(p), nal)) {
                if (nal.isSlice())
                    for (int mb = nal.firstMb; mb <= nal.lastMb; ++mb) lost[std::size_t(mb)] = true;
                continue;
            }
            anySlice |= nal.isSlice();
            damaged.bytes.insert(damaged.bytes.end(), nal.bytes.begin(), nal.bytes.end());
        }
        damaged.lostMbs.push_back(std::move(lost));
        damaged.pictureGone.push_back(!anySlice);
    }
    return damaged;
}

DamagedStream dropSlicesAtRandom(const TestStream& stream, double rate, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    return damage(stream, [&](int, const TestNal& nal) { return nal.isSlice() && draw(random) < rate; });
}

} // namespace kestrune::decode::test
