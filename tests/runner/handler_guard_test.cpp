#include "runner/handler_guard.h"

#include "tests/support/recording_prompts.h"

#include <stdexcept>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(HandlerGuard, ErrorsReachTheErrorBoxAndNothingEscapes)
{
    kestrune::testing::RecordingPrompts prompts;
    kestrune::runGuarded(prompts, [] { throw std::runtime_error("Disk full"); });
    kestrune::runGuarded(prompts, [] { throw 42; });
    kestrune::runGuarded(prompts, [] {});
    ASSERT_EQ(prompts.errors().size(), 2);
    EXPECT_EQ(prompts.errors()[0], u"Disk full."_s);
    EXPECT_FALSE(prompts.errors()[1].isEmpty());
}
