#include "dialogs/jpeg_image.h"

#include <gtest/gtest.h>

TEST(JpegImage, GarbageIsAnError)
{
    const unsigned char bytes[] = {1, 2, 3, 4, 5};
    const auto result = kestrune::decodeJpeg(bytes, sizeof bytes);
    EXPECT_TRUE(result.image.isNull());
    EXPECT_FALSE(result.error.isEmpty());
}
