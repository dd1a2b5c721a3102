// The motion search: its half-sample planes predict exactly what the core's
// interpolation predicts, and every search pattern finds a known
// sub-sample displacement.
#include "tools/baseline_encoder/motion_search.h"
#include "tools/codec/inter_prediction.h"
#include "tools/sample/sample_sequence.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kestrune::codec {
namespace {

Picture samplePicture(int index)
{
    Picture picture(11, 9);
    std::vector<std::uint8_t> frame(yuv420FrameBytes(176, 144));
    renderSampleFrame({176, 144}, index, frame);
    const std::uint8_t* plane = frame.data();
    for (int p = 0; p < 3; ++p) {
        PlaneView view = picture.plane(p);
        for (int y = 0; y < view.height; ++y) std::memcpy(view.row(y), plane + y * view.width, static_cast<std::size_t>(view.width));
        plane += static_cast<std::size_t>(view.width) * view.height;
    }
    return picture;
}

TEST(MotionSearchTest, HalfSamplePlanesPredictLikeTheCoreEverywhereAroundThePicture)
{
    const Picture picture = samplePicture(3);
    const SearchReference ref(picture, 20);
    std::uint8_t ours[16 * 16], core[16 * 16];
    int compared = 0;
    for (int y : {0, 64, 128})
        for (int x : {0, 80, 160})
            for (int my = -70; my <= 70; my += 5)
                for (int mx = -70; mx <= 70; mx += 7) {
                    const MotionVector mv{static_cast<std::int16_t>(mx), static_cast<std::int16_t>(my)};
                    const int w = 16, h = 16;
                    if (x + (mx >> 2) < -19 || y + (my >> 2) < -19 || x + (mx >> 2) + w > 176 + 18 || y + (my >> 2) + h > 144 + 18) continue;
                    ref.predict(x, y, mv, w, h, ours, 16);
                    predictLuma(picture.plane(kLuma), x, y, mv, w, h, core, 16);
                    ASSERT_EQ(0, std::memcmp(ours, core, sizeof ours)) << "block (" << x << "," << y << ") vector (" << mx << "," << my << ")";
                    ++compared;
                }
    EXPECT_GT(compared, 1000);
}

TEST(MotionSearchTest, EveryPatternFindsAKnownSubSampleDisplacement)
{
    // The current picture is the reference moved by (-13, +6) quarter samples.
    const Picture reference = samplePicture(10);
    Picture current(11, 9);
    for (int p = 0; p < 3; ++p) {
        for (int y = 0; y < current.height(p); y += p == kLuma ? 16 : 8)
            for (int x = 0; x < current.width(p); x += p == kLuma ? 16 : 8) {
                const MotionVector mv{-13, 6};
                PlaneView dst = current.plane(p);
                if (p == kLuma) predictLuma(reference.plane(p), x, y, mv, 16, 16, dst.row(y) + x, dst.stride);
                else predictChroma(reference.plane(p), x, y, mv, 8, 8, dst.row(y) + x, dst.stride);
            }
    }
    const SearchReference ref(reference, 40);
    for (SearchPattern pattern : {SearchPattern::Diamond, SearchPattern::Hexagon, SearchPattern::UnevenMultiHexagon}) {
        const SearchParams params{pattern, 16, 4.0, true};
        const SearchResult result = searchMotion({&current, 64, 48, 16, 16}, ref, MotionVector{}, {}, params);
        EXPECT_EQ(result.mv, (MotionVector{-13, 6})) << "pattern " << static_cast<int>(pattern);
    }
}

} // namespace
} // namespace kestrune::codec
