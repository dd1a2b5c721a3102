// The frame viewer window on files of its own: a long CIF file opens at once
// and the keys read only the frames they show; bad sizes are refused by name.
#include "main_window/frame_viewer_window.h"
#include "tests/main_window/window_fixture.h"
#include "tests/main_window/window_parts.h"
#include "tests/support/recording_prompts.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
namespace fv = kestrune::frameview;

namespace {

QString sparseFile(const QTemporaryDir& dir, const QString& name, qint64 bytes)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.resize(bytes);
    return file.fileName();
}

} // namespace

TEST(FrameViewer, ALongCifFileOpensAtOnceAndTheKeysReadOnlyTheFramesShown)
{
    QTemporaryDir dir;
    const fv::FrameSize cif{352, 288};
    const QString original = sparseFile(dir, u"orig_352x288.yuv"_s, 3000 * cif.frameBytes());
    const QString decoded = sparseFile(dir, u"dec_352x288.yuv"_s, 3000 * cif.frameBytes());
    kestrune::testing::RecordingPrompts prompts;
    FrameViewerWindow viewer(prompts);
    viewer.show();
    viewer.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&viewer));
    ASSERT_TRUE(viewer.openDecode({original, cif, decoded}, 0));
    EXPECT_EQ(viewer.frameCount(), 3000);
    EXPECT_EQ(viewer.decode()->frames().reads(), 1);
    EXPECT_TRUE(viewer.notesText().contains(u"No loss map beside dec_352x288.yuv"_s)) << viewer.notesText().toStdString();

    const std::pair<Qt::Key, qint64> steps[] = {{Qt::Key_Right, 1},    {Qt::Key_Right, 2}, {Qt::Key_PageDown, 12},
                                                {Qt::Key_End, 2999},   {Qt::Key_Right, 2999}, {Qt::Key_PageUp, 2989},
                                                {Qt::Key_Home, 0},     {Qt::Key_Left, 0}};
    qint64 shown = 1;
    qint64 previous = 0;
    for (const auto& [key, frame] : steps) {
        QTest::keyClick(&viewer, key);
        EXPECT_EQ(viewer.currentFrame(), frame) << key;
        shown += frame != previous;
        previous = frame;
    }
    EXPECT_EQ(viewer.decode()->frames().reads(), shown) << "one read per frame shown, none for a key at the end";
    EXPECT_EQ(viewer.originalReads(), shown);
    EXPECT_TRUE(viewer.readoutText().startsWith(u"Frame 0 of 3000"_s)) << viewer.readoutText().toStdString();
    // Comparing reads the second decode's frame once; zoom and overlays re-read nothing.
    ASSERT_TRUE(viewer.compareWith(original));
    viewer.setZoom(FrameViewerWindow::Zoom4);
    viewer.setOverlays(fv::LostOverlay);
    EXPECT_EQ(viewer.comparison()->frames().reads(), 1);
    EXPECT_EQ(viewer.decode()->frames().reads() + viewer.originalReads(), 2 * shown + 2);
    EXPECT_TRUE(prompts.events.empty());
}

TEST(FrameViewer, ADecodeOfAnotherSizeThanTheOriginalIsRefusedByName)
{
    QTemporaryDir dir;
    const fv::FrameSize qcif{176, 144};
    const QString original = sparseFile(dir, u"orig_176x144.yuv"_s, 4 * qcif.frameBytes());
    const QString decoded = sparseFile(dir, u"dec.yuv"_s, 4 * 352 * 288 * 3 / 2);
    QFile loss(decoded + u".mbloss"_s);
    ASSERT_TRUE(loss.open(QIODevice::WriteOnly));
    loss.write("352x288 4\n0 0\n0 0\n0 0\n0 0\n");
    loss.close();
    kestrune::testing::RecordingPrompts prompts;
    FrameViewerWindow viewer(prompts);
    EXPECT_FALSE(viewer.openDecode({original, qcif, decoded}));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(u"dec.yuv holds 352x288 pictures"_s)) << prompts.messages()[0].toStdString();
    EXPECT_EQ(viewer.decode(), nullptr);

    // Without an original size and without a loss map nothing says how big the pictures are.
    QFile::remove(decoded + u".mbloss"_s);
    EXPECT_FALSE(viewer.openDecode({QString(), {}, decoded}));
    EXPECT_TRUE(prompts.messages().last().contains(u"picture size of"_s)) << prompts.messages().last().toStdString();
}

// Before any decode, View > Frame Viewer... opens an empty viewer that
// compares what "Open Decode..." picks with the encoder's input file.
using MenuViewer = kestrune::testing::WindowInStartDirectory;

TEST_F(MenuViewer, WithoutADecodeItOpensOneAgainstTheOriginal)
{
    const qint64 frame = fv::FrameSize{176, 144}.frameBytes();
    sparseFile(dir, u"orig_176x144.yuv"_s, 3 * frame);
    sparseFile(dir, u"picked.yuv"_s, 3 * frame);
    kestrune::testing::ui(form).LabeledEdit1->setText(u"orig_176x144.yuv"_s);
    kestrune::testing::ui(form).FrameViewer1->trigger();
    auto* viewer = form->findChild<FrameViewerWindow*>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->decode(), nullptr);
    prompts.files = {at(u"picked.yuv"_s)};
    for (QPushButton* button : viewer->findChildren<QPushButton*>())
        if (button->text() == u"Open Decode..."_s) button->click();
    ASSERT_NE(viewer->decode(), nullptr) << prompts.messages().join(u'|').toStdString();
    EXPECT_EQ(viewer->frameCount(), 3);
    EXPECT_EQ(viewer->originalReads(), 1) << "the original is shown beside it";
}
