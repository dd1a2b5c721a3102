#include "dialogs/jpeg_image.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

namespace {

kestrune::JpegResult decode(const QByteArray& bytes)
{
    return kestrune::decodeJpeg(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
}

QByteArray logoBytes()
{
    QFile logo(QStringLiteral(KESTRUNE_LOGO_JPEG));
    return logo.open(QIODevice::ReadOnly) ? logo.readAll() : QByteArray();
}

} // namespace

TEST(JpegImage, TheLogoIsABaselineImageOf250By58)
{
    const QByteArray bytes = logoBytes();
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_TRUE(bytes.contains("\xff\xc0"));   // baseline frame header
    EXPECT_FALSE(bytes.contains("\xff\xc2"));  // not progressive
    const auto result = decode(bytes);
    ASSERT_FALSE(result.image.isNull()) << result.error.toStdString();
    EXPECT_EQ(result.image.size(), QSize(250, 58));
}

TEST(JpegImage, ColoursComeOutInRgbOrder)
{
    QImage source(32, 16, QImage::Format_RGB32);
    source.fill(QColor(220, 30, 20));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(source.save(&buffer, "JPG", 95));

    const auto result = decode(bytes);
    ASSERT_FALSE(result.image.isNull()) << result.error.toStdString();
    const QColor pixel = result.image.pixelColor(16, 8);
    EXPECT_NEAR(pixel.red(), 220, 6);
    EXPECT_NEAR(pixel.green(), 30, 6);
    EXPECT_NEAR(pixel.blue(), 20, 6);
}

TEST(JpegImage, CorruptDataIsAnErrorNotAnExit)
{
    const unsigned char garbage[] = {1, 2, 3, 4, 5};
    auto result = kestrune::decodeJpeg(garbage, sizeof garbage);
    EXPECT_TRUE(result.image.isNull());
    EXPECT_FALSE(result.error.isEmpty());

    result = decode(logoBytes().left(120));  // cut inside the headers
    EXPECT_TRUE(result.image.isNull());
    EXPECT_FALSE(result.error.isEmpty());

    result = kestrune::decodeJpeg(nullptr, 0);
    EXPECT_TRUE(result.image.isNull());
    EXPECT_FALSE(result.error.isEmpty());
}
