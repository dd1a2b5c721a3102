// The analyzer handlers against the real analyzer of the workbench folder,
// on a stream encoded here with libx264. The NAL unit types libx264 reports
// while encoding are the independent expectation for the map.
#include "main_window/nal_unit_map.h"
#include "main_window/tform1.h"
#include "tests/main_window/window_parts.h"
#include "tests/support/recording_prompts.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <x264.h>

using kestrune::testing::ui;

using namespace Qt::StringLiterals;

namespace {

// Encodes `frames` moving 64x64 frames, baseline profile, an IDR every 5
// frames; returns the map label of each NAL unit in stream order.
QStringList encodeStream(const QString& path, int frames)
{
    x264_param_t param;
    x264_param_default_preset(&param, "ultrafast", nullptr);
    param.i_width = 64;
    param.i_height = 64;
    param.i_csp = X264_CSP_I420;
    param.i_threads = 1;
    param.i_log_level = X264_LOG_NONE;
    param.i_keyint_max = 5;
    param.i_keyint_min = 5;
    param.i_scenecut_threshold = 0;
    param.b_annexb = 1;
    param.b_repeat_headers = 1;
    x264_param_apply_profile(&param, "baseline");
    x264_t* encoder = x264_encoder_open(&param);
    if (!encoder) return {};
    x264_picture_t picture, out;
    x264_picture_alloc(&picture, X264_CSP_I420, 64, 64);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    QStringList labels;
    auto take = [&](x264_nal_t* nals, int count) {
        for (int i = 0; i < count; ++i) {
            file.write(reinterpret_cast<const char*>(nals[i].p_payload), nals[i].i_payload);
            switch (nals[i].i_type) {
            case NAL_SEI: labels << u"SEI"_s; break;
            case NAL_SPS: labels << u"SPS"_s; break;
            case NAL_PPS: labels << u"PPS"_s; break;
            case NAL_SLICE_IDR: labels << u"I"_s; break;
            case NAL_SLICE: labels << u"P"_s; break;  // baseline, IDR-only intra
            default: labels << QString(); break;
            }
        }
    };
    x264_nal_t* nals = nullptr;
    int count = 0;
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) picture.img.plane[0][y * picture.img.i_stride[0] + x] = uint8_t((x + y + 3 * f) * 4);
        for (int p = 1; p < 3; ++p)
            for (int i = 0; i < 32 * 32; ++i) picture.img.plane[p][(i / 32) * picture.img.i_stride[p] + i % 32] = 128;
        picture.i_pts = f;
        if (x264_encoder_encode(encoder, &nals, &count, &picture, &out) > 0) take(nals, count);
    }
    while (x264_encoder_delayed_frames(encoder) > 0)
        if (x264_encoder_encode(encoder, &nals, &count, nullptr, &out) > 0) take(nals, count);
    x264_picture_clean(&picture);
    x264_encoder_close(encoder);
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
