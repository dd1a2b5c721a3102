#include "main_window/tform1.h"
#include "tests/support/recording_prompts.h"

#include <QGroupBox>
#include <gtest/gtest.h>

TEST(MainWindowStartup, CaptionAndGroupBounds)
{
    kestrune::testing::RecordingPrompts prompts;
    TForm1 form(prompts);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("KESTRUNE v1.0"));
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(8, 8, 361, 361));
}
