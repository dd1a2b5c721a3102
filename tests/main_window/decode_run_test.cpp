// The Decode command through the real window with a stand-in decoder.
#include "main_window/radio_group.h"
#include "main_window/tform1.h"
#include "tests/main_window/window_fixture.h"
#include "tests/main_window/window_parts.h"
#include "tests/support/recording_prompts.h"

#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune::testing;

namespace {

class DecodeRun : public WindowInStartDirectory {
protected:
    void SetUp() override
    {
        WindowInStartDirectory::SetUp();
        ui(form).LabeledEdit3->setText(u"lossy.264"_s);
        ui(form).LabeledEdit4->setText(u"out_176x144.yuv"_s);
        writeFile(at(u"lossy.264"_s), "stream");
        // Writes frames.src to its output (the last argument) when there is one.
        writeScript(start, u"ffmpeg.exe"_s,
                    logArguments("decoder.log") +
                        "for last in \"$@\"; do :; done\n"
                        "[ -f frames.src ] && cp frames.src \"$last\"\n"
                        "echo decoder report\n");
    }
};

} // namespace

TEST_F(DecodeRun, ChecksStopInOrderWithTheirMessages)
{
    QFile::remove(at(u"ffmpeg.exe"_s));
    ui(form).Button10->click();
    writeScript(start, u"ffmpeg.exe"_s, logArguments("decoder.log"));
    ui(form).LabeledEdit3->setText(u"missing.264"_s);
    ui(form).Button10->click();
    ui(form).LabeledEdit3->setText(u"lossy.264"_s);
    ui(form).LabeledEdit4->clear();
    ui(form).Button10->click();
    EXPECT_EQ(prompts.messages(), (QStringList{u"Error: ffmpeg.exe not found!"_s,
                                              u"Decoder Error: Input file (missing.264) not found!"_s,
                                              u"Decoder Error: Output file () not specified!"_s}));
    EXPECT_FALSE(QFile::exists(at(u"decoder.log"_s)));
    EXPECT_TRUE(ui(form).Memo1->toPlainText().isEmpty());
}

TEST_F(DecodeRun, DecodesIntoScratchAndReplacesThePreviousOutput)
{
    writeFile(at(u"frames.src"_s), "new frames");
    writeFile(at(u"out_176x144.yuv"_s), "old frames");
    ui(form).RadioGroup2->setItemIndex(2);
    ui(form).RadioGroup3->setItemIndex(1);
    ui(form).Button10->click();

    EXPECT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_EQ(loggedRuns(at(u"decoder.log"_s)),
              (QList<QStringList>{{u"-error_concealment"_s, u"2"_s, u"-i"_s, u"lossy.264"_s, u"-y"_s, u"tmp.yuv"_s}}));
    EXPECT_EQ(readFile(at(u"out_176x144.yuv"_s)), "new frames");
    EXPECT_FALSE(QFile::exists(at(u"tmp.yuv"_s)));
    EXPECT_FALSE(QFile::exists(at(u"fbatch.bat"_s)));
    EXPECT_EQ(ui(form).Memo1->toPlainText(), u"Please wait until decoding is completed.....\ndecoder report\n\n"
                                             u"No quality measured: no Input YUV File is given to compare with."_s);
}

TEST_F(DecodeRun, OutputInAnotherDirectoryReceivesTheDecodedFile)
{
    QTemporaryDir other;
    const QString output = QDir(other.path()).filePath(u"decoded 176x144.yuv"_s);
    writeFile(at(u"frames.src"_s), "frames");
    ui(form).LabeledEdit4->setText(output);
    ui(form).Button10->click();
    EXPECT_EQ(readFile(output), "frames");
    EXPECT_FALSE(QFile::exists(at(u"tmp.yuv"_s)));
}

TEST_F(DecodeRun, NoNewOutputKeepsThePreviousOneEvenWithAStaleScratchFile)
{
    writeFile(at(u"out_176x144.yuv"_s), "previous");
    writeFile(at(u"tmp.yuv"_s), "stale scratch of an earlier run");
    ui(form).Button10->click();
    EXPECT_EQ(readFile(at(u"out_176x144.yuv"_s)), "previous");
    EXPECT_EQ(prompts.messages(),
              QStringList{u"Decoder Error: The decoder wrote no output; (out_176x144.yuv) is unchanged!"_s});
}

TEST_F(DecodeRun, FailedMoveKeepsTheScratchFileAndSaysWhere)
{
    writeFile(at(u"frames.src"_s), "frames");
    ui(form).LabeledEdit4->setText(u"no such dir/out.yuv"_s);
    ui(form).Button10->click();
    EXPECT_EQ(readFile(at(u"tmp.yuv"_s)), "frames");
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].endsWith(u"It is kept as "_s + QFileInfo(at(u"tmp.yuv"_s)).absoluteFilePath()))
        << prompts.messages()[0].toStdString();
}

TEST_F(DecodeRun, MissingCaptureLeavesScratchAndOutputAlone)
{
    // A decoder whose output is not captured: the redirection is to fbatch.txt,
    // so remove it before the runner looks.
    writeScript(start, u"ffmpeg.exe"_s, "echo frames > tmp.yuv; rm -f fbatch.txt\n");
    writeFile(at(u"out_176x144.yuv"_s), "previous");
    ui(form).Button10->click();
    EXPECT_EQ(prompts.messages(), QStringList{u"Error in Decoding: fbatch.txt not found!"_s});
    EXPECT_EQ(readFile(at(u"out_176x144.yuv"_s)), "previous");
    EXPECT_TRUE(QFile::exists(at(u"tmp.yuv"_s)));
}

TEST_F(DecodeRun, BrowseButtonsFillTheirFieldsWithTheirFilters)
{
    prompts.files = {u"/data/in.264"_s, u"/data/out.yuv"_s};
    ui(form).Button5->click();
    ui(form).Button6->click();
    EXPECT_EQ(ui(form).LabeledEdit3->text(), u"/data/in.264"_s);
    EXPECT_EQ(ui(form).LabeledEdit4->text(), u"/data/out.yuv"_s);
    ASSERT_EQ(prompts.events.size(), 2u);
    EXPECT_EQ(prompts.events[0].kind, RecordingPrompts::Event::OpenDialog);
    EXPECT_EQ(prompts.events[0].text, u"H.264 File (*.264)|*.264"_s);
    EXPECT_EQ(prompts.events[1].kind, RecordingPrompts::Event::SaveDialog);
    EXPECT_EQ(prompts.events[1].text, u"YUV File (*.yuv)|*.yuv"_s);
}
