#include "runner/nal_colours.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using kestrune::NalLabel;

namespace {

TEST(NalColours, FollowTheLabelTableExactly)
{
    EXPECT_EQ(kestrune::nalLabelRgb(u"SEI"_s), 0xFFFF00u);
    EXPECT_EQ(kestrune::nalLabelRgb(u"SPS"_s), 0x008000u);
    EXPECT_EQ(kestrune::nalLabelRgb(u"PPS"_s), 0x00FF00u);
    EXPECT_EQ(kestrune::nalLabelRgb(u"I"_s), 0xFF0000u);
    EXPECT_EQ(kestrune::nalLabelRgb(u"P"_s), 0x00FFFFu);
    for (const QString& other : {QString(), u"B"_s, u"sps"_s, u"I "_s, u"I-Slice"_s})
        EXPECT_EQ(kestrune::nalLabelRgb(other), 0xFFFFFFu) << other.toStdString();
}

TEST(NalColours, LegendListsEveryTypeWithBSlicesSkyBlue)
{
    QStringList captions;
    for (const auto& entry : kestrune::kNalLegend) captions << QString::fromUtf16(entry.caption);
    EXPECT_EQ(captions, (QStringList{u"SEI"_s, u"SPS"_s, u"PPS"_s, u"I-Slice"_s, u"P-Slice"_s, u"B-Slice"_s,
                                     u"Others"_s}));
    EXPECT_EQ(kestrune::kNalLegend[3].rgb, kestrune::nalLabelRgb(NalLabel::I));
    EXPECT_EQ(kestrune::kNalLegend[5].rgb, 0xA6CAF0u);
    EXPECT_EQ(kestrune::kNalLegend[6].rgb, 0xFFFFFFu);
}

} // namespace
