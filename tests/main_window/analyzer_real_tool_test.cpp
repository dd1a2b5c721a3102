// The analyzer handlers against the real analyzer of the workbench folder,
// on a stream encoded here with libx264. The NAL unit types libx264 reports
// while encoding are the independent expectation for the map.
#include "main_window/nal_unit_map.h"
#include "main_window/tform1.h"
#include "tests/main_window/window_parts.h"
#include "tests/support/recording_prompts.h"
#include "tests/support/x264_stream.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using kestrune::testing::ui;

using namespace Qt::StringLiterals;

namespace {

// Encodes `frames` moving 64x64 frames, baseline profile, an IDR every 5
// frames; returns the map label of each NAL unit in stream order.
QStringList encodeStream(const QString& path, int frames)
{
    kestrune::testing::X264StreamOptions options;
    options.width = 64;
    options.height = 64;
    options.frames = frames;
    options.preset = "ultrafast";
    options.profile = "baseline";
    options.keyint = 5;
    options.keyintMin = 5;
    options.picture = [](int width, int height, int index, std::uint8_t* frame) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) *frame++ = std::uint8_t((x + y + 3 * index) * 4);
        std::fill_n(frame, width * height / 2, std::uint8_t(128));
    };
    const kestrune::testing::X264Stream stream = kestrune::testing::encodeX264Stream(options);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    const std::vector<std::uint8_t> bytes = stream.bytes();
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    QStringList labels;
    for (const kestrune::testing::X264Picture& picture : stream.pictures) {
        for (const kestrune::testing::X264Nal& nal : picture.nals) {
            switch (nal.type) {  // nal_unit_type values of H.264 Table 7-1
            case 6: labels << u"SEI"_s; break;
            case 7: labels << u"SPS"_s; break;
            case 8: labels << u"PPS"_s; break;
            case 5: labels << u"I"_s; break;
            case 1: labels << u"P"_s; break;  // baseline, IDR-only intra
            default: labels << QString(); break;
            }
        }
    }
    return labels;
}

TEST(AnalyzerWithRealTool, MapsRemovesAndDescribesNalUnitsOfAnEncodedStream)
{
    // ctest's environment does not always reach the tests; the build's own
    // workbench folder is the fallback.
    QString workbench = qEnvironmentVariable("KESTRUNE_WORKBENCH");
    if (workbench.isEmpty()) workbench = QStringLiteral(KESTRUNE_WORKBENCH_DIR);
    const QString analyzer = workbench + u"/h264_analyze.exe"_s;
    if (!QFile::exists(analyzer)) GTEST_SKIP() << "no analyzer in the workbench folder";

    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    ASSERT_TRUE(QFile::copy(analyzer, u"h264_analyze.exe"_s));
    QStringList expected = encodeStream(u"clip.264"_s, 12);
    ASSERT_GT(expected.size(), 12);

    kestrune::testing::RecordingPrompts prompts;
    {
        TForm1 form(prompts);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        auto labels = [&] {
            QStringList texts;
            for (int c = 0; c < ui(form).StringGrid1->columnCount(); ++c) texts << ui(form).StringGrid1->cellText(c);
            return texts;
        };

        ui(form).LabeledEdit2->setText(u"clip.264"_s);
        ui(form).ComboBox2->setCurrentIndex(0);
        emit ui(form).ComboBox2->activated(0);
        EXPECT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();
        EXPECT_EQ(labels(), expected);
        EXPECT_EQ(ui(form).TotalNalUnitsValue->text(), QString::number(expected.size()));
        EXPECT_EQ(ui(form).ISlicesValue->text(), QString::number(expected.count(u"I"_s)));
        EXPECT_EQ(ui(form).PSlicesValue->text(), QString::number(expected.count(u"P"_s)));
        EXPECT_EQ(ui(form).BSlicesValue->text(), u"0"_s);

        // Describe and then remove the first P slice.
        const int firstP = int(expected.indexOf(u"P"_s));
        QTest::mouseClick(ui(form).StringGrid1->viewport(), Qt::LeftButton, {},
                          ui(form).StringGrid1->cellRect(firstP).center());
        EXPECT_EQ(ui(form).CurrentNalValue->text(), QString::number(firstP + 1));
        ui(form).Memo1->clear();
        ui(form).Properties1->trigger();
        const QStringList log = ui(form).Memo1->toPlainText().split(u'\n');
        ASSERT_GE(log.size(), 2);
        EXPECT_EQ(log[0], QString(203, u'-'));
        EXPECT_FALSE(log[1].trimmed().isEmpty());

        prompts.answers = {true};
        ui(form).Delete1->trigger();
        expected.removeAt(firstP);
        EXPECT_EQ(prompts.messages(), QStringList());
        EXPECT_EQ(labels(), expected);
        EXPECT_EQ(ui(form).TotalNalUnitsValue->text(), QString::number(expected.size()));
    }
    QDir::setCurrent(previous);
}

} // namespace
