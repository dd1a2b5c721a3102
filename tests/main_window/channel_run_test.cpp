// The channel run through the real window with stand-in tools.
#include "main_window/tform1.h"
#include "runner/channel_command.h"
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

class ChannelRun : public WindowInStartDirectory {
protected:
    void SetUp() override
    {
        WindowInStartDirectory::SetUp();
        ui(form).LabeledEdit2->setText(u"out.264"_s);
        ui(form).LabeledEdit6->setText(u"lossy.264"_s);
        writeFile(at(u"out.264"_s), "stream");
        // Mode 0 copies the prepared summary; mode 1 writes the channel output.
        writeScript(start, u"h264_analyze.exe"_s,
                    logArguments("analyzer.log") +
                        "case \"$2\" in\n"
                        "0) cp summary.src general.txt 2>/dev/null; echo \"analyzed $1\";;\n"
                        "1) echo channel > \"$5\"; echo \"applied loss to $1\";;\n"
                        "esac\n");
        writeScript(start, u"gilbert.exe"_s,
                    logArguments("gilbert.log") + "cp pattern.src \"$4\" 2>/dev/null; echo \"gilbert report\"\n");
    }
    QString log() const { return ui(form).Memo1->toPlainText(); }
    void setSummary(int total) { writeFile(at(u"summary.src"_s), QByteArray::number(total) + " 0 0 0 0 0 0\r\n"); }
};

} // namespace

TEST_F(ChannelRun, MissingToolsAndStreamStopWithTheirMessagesInOrder)
{
    QFile::remove(at(u"gilbert.exe"_s));
    QFile::remove(at(u"h264_analyze.exe"_s));
    ui(form).Button4->click();
    writeScript(start, u"gilbert.exe"_s, "");
    ui(form).Button4->click();
    writeScript(start, u"h264_analyze.exe"_s, logArguments("analyzer.log"));
    ui(form).LabeledEdit2->setText(u"none.264"_s);
    ui(form).Button4->click();
    EXPECT_EQ(prompts.messages(),
              (QStringList{u"Error: Gilbert.exe not found!"_s, u"Error: h264_analyze.exe not found!"_s,
                           u"Error! There is not any encoded file or (none.264) not found!"_s}));
    EXPECT_FALSE(QFile::exists(at(u"analyzer.log"_s)));
}

TEST_F(ChannelRun, NoNalUnitsStopsBeforeTheLossPattern)
{
    setSummary(0);
    ui(form).Button4->click();
    EXPECT_EQ(prompts.messages(), QStringList{u"Error: There is no NAL units in the input file:out.264"_s});
    EXPECT_EQ(ui(form).state.nalUnitCount, 0);
    EXPECT_EQ(ui(form).state.analysisMode, 4);
    EXPECT_FALSE(QFile::exists(at(u"gil.bat"_s)));
    EXPECT_FALSE(QFile::exists(at(u"gilbert.log"_s)));
}

TEST_F(ChannelRun, BadLossRateOrBurstLengthStops)
{
    setSummary(10);
    ui(form).Edit11->setText(u"5.5"_s);
    ui(form).Button4->click();
    ui(form).Edit11->setText(u"5"_s);
    ui(form).Edit12->setText(u""_s);
    ui(form).Button4->click();
    EXPECT_EQ(prompts.messages(), (QStringList{u"Error: Please enter the Loss rate!"_s,
                                              u"Error: Please enter the average burst error length!"_s}));
    EXPECT_FALSE(QFile::exists(at(u"gilbert.log"_s)));
}

TEST_F(ChannelRun, EmptyOutputFieldWritesTheLossCommandButRunsNothing)
{
    setSummary(12);
    writeFile(at(u"gilbert.txt"_s), "1 1 1");
    ui(form).LabeledEdit6->clear();
    ui(form).Button4->click();
    EXPECT_EQ(prompts.messages(), QStringList{u"Error: Please specify an output file for the Gilbert Model"_s});
    EXPECT_EQ(readFile(at(u"gil.bat"_s)), "Gilbert.exe 5 2 12 gilbert.txt >gilout.txt 2>&1\r\n");
    EXPECT_FALSE(QFile::exists(at(u"gilbert.txt"_s))) << "the old loss pattern is deleted before the check";
    EXPECT_FALSE(QFile::exists(at(u"gilbert.log"_s)));
}

TEST_F(ChannelRun, FullRunLogsEveryReportAndTheDroppedList)
{
    setSummary(8);
    writeFile(at(u"pattern.src"_s), "1\r\n0\r\n1\r\n0\r\n0\r\n1\r\n0\r\n0\r\n");
    ui(form).Edit11->setText(u"10"_s);
    ui(form).Button4->click();
    EXPECT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();

    const auto analyzerRuns = loggedRuns(at(u"analyzer.log"_s));
    ASSERT_EQ(analyzerRuns.size(), 2);
    EXPECT_EQ(analyzerRuns[0], (QStringList{u"out.264"_s, u"0"_s}));
    EXPECT_EQ(analyzerRuns[1], (QStringList{u"out.264"_s, u"1"_s, u"gilbert.txt"_s, u"7"_s, u"lossy.264"_s}));
    EXPECT_EQ(loggedRuns(at(u"gilbert.log"_s)), (QList<QStringList>{{u"10"_s, u"2"_s, u"8"_s, u"gilbert.txt"_s}}));
    EXPECT_EQ(readFile(at(u"lossy.264"_s)), "channel\n");

    const QString text = log();
    const qsizetype counted = text.indexOf(u"analyzed out.264"_s);
    const qsizetype drawn = text.indexOf(u"gilbert report"_s);
    const qsizetype applied = text.indexOf(u"applied loss to out.264"_s);
    ASSERT_GE(counted, 0);
    EXPECT_LT(counted, drawn);
    EXPECT_LT(drawn, applied);
    // NAL units 7 and 8 are lost in the pattern but never listed.
    EXPECT_TRUE(text.endsWith(u"Dropped NAL units:\n2,4,5,"_s)) << text.toStdString();
    for (const char* scratch : {"gil.bat", "gilout.txt", "analyze.bat", "analyze.txt"})
        EXPECT_FALSE(QFile::exists(at(QString::fromLatin1(scratch)))) << scratch;
}

TEST_F(ChannelRun, PathsWithBlanksReachTheToolsAsOneArgumentEach)
{
    setSummary(4);
    writeFile(at(u"my clip.264"_s), "stream");
    ui(form).LabeledEdit2->setText(u"my clip.264"_s);
    ui(form).LabeledEdit6->setText(u"lossy clip.264"_s);
    ui(form).Button4->click();
    const auto analyzerRuns = loggedRuns(at(u"analyzer.log"_s));
    ASSERT_EQ(analyzerRuns.size(), 2);
    EXPECT_EQ(analyzerRuns[1],
              (QStringList{u"my clip.264"_s, u"1"_s, u"gilbert.txt"_s, u"3"_s, u"lossy clip.264"_s}));
    EXPECT_TRUE(QFile::exists(at(u"lossy clip.264"_s)));
}

TEST_F(ChannelRun, ShortCountsGiveAnEmptyListLine)
{
    setSummary(2);
    writeFile(at(u"pattern.src"_s), "0 0");
    ui(form).Button4->click();
    EXPECT_TRUE(log().endsWith(u"Dropped NAL units:\n"_s)) << log().toStdString();
}

TEST_F(ChannelRun, NonNumericPatternShowsTheReadErrorAndListsNothing)
{
    setSummary(6);
    writeFile(at(u"pattern.src"_s), "1 lost 1 1 1 1");
    ui(form).Button4->click();
    EXPECT_EQ(prompts.errors(), QStringList{u"Invalid numeric input."_s});
    EXPECT_FALSE(log().contains(u"Dropped NAL units:"_s));
}

TEST_F(ChannelRun, NoPatternWrittenMeansNoListAndNoMessage)
{
    setSummary(6);
    ui(form).Button4->click();
    EXPECT_TRUE(prompts.events.empty());
    EXPECT_FALSE(log().contains(u"Dropped NAL units:"_s));
}

// An apply-loss run that writes nothing (the output folder is missing, say)
// lists no dropped NAL units: the list would describe the old channel output.
TEST_F(ChannelRun, UnwrittenChannelOutputListsNothingAndKeepsTheOldOne)
{
    setSummary(6);
    writeFile(at(u"pattern.src"_s), "0 0 0 0 0 0");
    writeScript(start, u"h264_analyze.exe"_s,
                "case \"$2\" in\n"
                "0) cp summary.src general.txt;;\n"
                "1) echo \"h264_analyze: cannot create $5\" >&2;;\n"
                "esac\n");
    writeFile(at(u"lossy.264"_s), "old channel output");
    ui(form).Button4->click();
    EXPECT_TRUE(log().endsWith(kestrune::channelOutputNotWritten(u"lossy.264"_s, true))) << log().toStdString();
    EXPECT_EQ(readFile(at(u"lossy.264"_s)), "old channel output");

    ui(form).Memo1->clear();
    ui(form).LabeledEdit6->setText(u"missing/lossy.264"_s);
    ui(form).Button4->click();
    EXPECT_TRUE(log().endsWith(kestrune::channelOutputNotWritten(u"missing/lossy.264"_s, false)))
        << log().toStdString();
    EXPECT_TRUE(prompts.events.empty());
    EXPECT_FALSE(log().contains(u"Dropped NAL units:"_s));
}

TEST_F(ChannelRun, BrowseFillsTheChannelOutputOnlyWhenConfirmed)
{
    prompts.files = {u"/data/lossy.264"_s, std::nullopt};
    ui(form).Button9->click();
    ui(form).Button9->click();
    EXPECT_EQ(ui(form).LabeledEdit6->text(), u"/data/lossy.264"_s);
    ASSERT_EQ(prompts.events.size(), 2u);
    EXPECT_EQ(prompts.events[0].kind, RecordingPrompts::Event::SaveDialog);
    EXPECT_EQ(prompts.events[0].text, u"H.264 File (*.264)|*.264"_s);
}
