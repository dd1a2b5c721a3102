#include "tests/tools/decode/test_stream.h"
#include "tools/decode/slice_dropper.h"

#include <gtest/gtest.h>

using namespace kestrune::decode;
using namespace kestrune::decode::test;

TEST(SliceDropper, DropsOnlySlicesReproduciblyAndKeepsTheRestByteForByte)
{
    const TestStream stream = encodeTestStream(6, 3, 3);
    std::vector<std::uint8_t> whole, withoutSlices, withoutPSlices;
    int slices = 0;
    for (const TestPicture& p : stream.pictures)
        for (const TestNal& n : p.nals) {
            whole.insert(whole.end(), n.bytes.begin(), n.bytes.end());
            slices += n.isSlice();
            if (!n.isSlice()) withoutSlices.insert(withoutSlices.end(), n.bytes.begin(), n.bytes.end());
            if (n.type != 1) withoutPSlices.insert(withoutPSlices.end(), n.bytes.begin(), n.bytes.end());
        }
    const DropResult none = dropSlices(whole, 0.0, 1);
    EXPECT_EQ(none.stream, whole);
    EXPECT_EQ(none.slices, slices);
    EXPECT_EQ(none.dropped, 0);

    const DropResult all = dropSlices(whole, 1.0, 1);
    EXPECT_EQ(all.dropped, slices);
    EXPECT_EQ(all.stream, withoutSlices) << "parameter sets and SEI stay";
    EXPECT_EQ(dropSlices(whole, 1.0, 1, true).stream, withoutPSlices) << "IDR slices kept on request";

    const DropResult a = dropSlices(whole, 0.4, 9), b = dropSlices(whole, 0.4, 9), c = dropSlices(whole, 0.4, 10);
    EXPECT_EQ(a.stream, b.stream);
    EXPECT_EQ(a.droppedSlices, b.droppedSlices);
    EXPECT_NE(a.droppedSlices, c.droppedSlices);
    EXPECT_GT(a.dropped, 0);
    EXPECT_LT(a.dropped, slices);
}
