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
#include <memory>

using kestrune::testing::ui;

using namespace Qt::StringLiterals;
using kestrune::NalLabel;
using Event = kestrune::testing::RecordingPrompts::Event;

namespace {

// A start directory holding the stand-in analyzer as h264_analyze.exe, and a
// window started there.
class AnalyzerWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        installAnalyzer();
        form = std::make_unique<TForm1>(prompts);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override
    {
        form.reset();
        QDir::setCurrent(previous);
    }

    void installAnalyzer()
    {
        ASSERT_TRUE(QFile::copy(QStringLiteral(KESTRUNE_ANALYZER_STAND_IN), u"h264_analyze.exe"_s));
        QFile::setPermissions(u"h264_analyze.exe"_s, QFile::permissions(u"h264_analyze.exe"_s) | QFile::ExeOwner);
    }
    static void write(const QString& name, const QByteArray& content)
    {
        QFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    static QByteArray read(const QString& name)
    {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The user picks an item of the source box.
    void chooseSource(int item)
    {
        ui(form).ComboBox2->setCurrentIndex(item);
        emit ui(form).ComboBox2->activated(item);
    }
    void analyzeEncoderOutput(const QByteArray& stream)
    {
        write(u"enc.264"_s, stream);
        ui(form).LabeledEdit2->setText(u"enc.264"_s);
        chooseSource(0);
    }
    void clickCell(int column)
    {
        QTest::mouseClick(ui(form).StringGrid1->viewport(), Qt::LeftButton, {},
                          ui(form).StringGrid1->cellRect(column).center());
    }
    QStringList labels() const
    {
        QStringList texts;
        for (int c = 0; c < ui(form).StringGrid1->columnCount(); ++c) texts << ui(form).StringGrid1->cellText(c);
        return texts;
    }
    QString log() const { return ui(form).Memo1->toPlainText(); }
    QStringList counters() const
    {
        return {ui(form).ISlicesValue->text(),  ui(form).PSlicesValue->text(), ui(form).BSlicesValue->text(),
                ui(form).SeisValue->text(),     ui(form).SpssValue->text(),    ui(form).PpssValue->text(),
                ui(form).TotalNalUnitsValue->text()};
    }

    QTemporaryDir dir;
    QString previous;
    kestrune::testing::RecordingPrompts prompts;
    std::unique_ptr<TForm1> form;
};

TEST_F(AnalyzerWindow, ThreeNalUnitStreamFillsCountersAndMap)
{
    EXPECT_EQ(counters(), QStringList(7, u"-"_s));
    analyzeEncoderOutput("SPS PPS I\n");

    EXPECT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_EQ(counters(), (QStringList{u"1"_s, u"0"_s, u"0"_s, u"0"_s, u"1"_s, u"1"_s, u"3"_s}));
    EXPECT_EQ(labels(), (QStringList{u"SPS"_s, u"PPS"_s, u"I"_s}));
    EXPECT_TRUE(log().contains(u"stand-in analyzed enc.264: 3 NAL units"_s));
    EXPECT_EQ(ui(form).state.analysisMode, 0);
    EXPECT_FALSE(QFile::exists(u"analyze.bat"_s));
    EXPECT_FALSE(QFile::exists(u"analyze.txt"_s));
    EXPECT_TRUE(QFile::exists(u"general.txt"_s));
}

TEST_F(AnalyzerWindow, BSlicesAreCountedButLeftWhite)
{
    analyzeEncoderOutput("SPS PPS SEI I B B P\n");
    EXPECT_EQ(counters(), (QStringList{u"1"_s, u"1"_s, u"2"_s, u"1"_s, u"1"_s, u"1"_s, u"7"_s}));
    EXPECT_EQ(labels(), (QStringList{u"SPS"_s, u"PPS"_s, u"SEI"_s, u"I"_s, {}, {}, u"P"_s}));
}

TEST_F(AnalyzerWindow, MissingReportStillRefreshesTheMap)
{
    analyzeEncoderOutput("#no-report\nSPS PPS I P\n");
    EXPECT_EQ(prompts.messages(), QStringList{u"Error: analyze.txt not found!"_s});
    EXPECT_EQ(labels(), (QStringList{u"SPS"_s, u"PPS"_s, u"I"_s, u"P"_s}));
}

TEST_F(AnalyzerWindow, MissingSummaryIsReportedWithTheModesOwnSpelling)
{
    analyzeEncoderOutput("#no-summary\nSPS PPS I\n");
    EXPECT_EQ(prompts.messages(), QStringList{u"Error: general.txt not found!"_s});
    EXPECT_EQ(ui(form).StringGrid1->columnCount(), 35);
    EXPECT_EQ(ui(form).TotalNalUnitsValue->text(), u"-"_s);

    // Counting for the channel run: capital G, count 0, command file kept.
    prompts.clear();
    ui(form).state.nalUnitCount = 99;
    write(u"analyze.bat"_s, "h264_analyze.exe enc.264 0 >analyze.txt\r\n");
    ui(form).state.analysisMode = 4;
    form->guard([&] { form->AnalyzeRun(); });
    EXPECT_EQ(prompts.messages(), QStringList{u"Error: General.txt not found!"_s});
    EXPECT_EQ(ui(form).state.nalUnitCount, 0);
    EXPECT_TRUE(QFile::exists(u"analyze.bat"_s));
}

TEST_F(AnalyzerWindow, CountingModeReadsOnlyTheTotal)
{
    write(u"enc.264"_s, "#summary\n300 0 1 1 x\n");
    write(u"analyze.bat"_s, "h264_analyze.exe enc.264 0 >analyze.txt\r\n");
    ui(form).state.analysisMode = 4;
    form->guard([&] { form->AnalyzeRun(); });
    EXPECT_TRUE(prompts.events.empty());
    EXPECT_EQ(ui(form).state.nalUnitCount, 300);
    EXPECT_FALSE(QFile::exists(u"analyze.bat"_s));
    EXPECT_EQ(ui(form).TotalNalUnitsValue->text(), u"-"_s);  // the map is not touched
}

TEST_F(AnalyzerWindow, NonNumericValueEndsTheCommandInTheErrorBox)
{
    analyzeEncoderOutput("#summary\n3 0 1 1 1 0 0\n1\nPPS\n3\n");
    EXPECT_EQ(prompts.errors(), QStringList{u"Invalid numeric input."_s});
    // What was read before the bad value stays shown.
    EXPECT_EQ(ui(form).TotalNalUnitsValue->text(), u"3"_s);
    EXPECT_EQ(labels(), (QStringList{u"SPS"_s, {}, {}}));
    EXPECT_TRUE(QFile::exists(u"analyze.bat"_s));  // the remaining steps did not run
    EXPECT_TRUE(QFile::remove(u"general.txt"_s));
}

TEST_F(AnalyzerWindow, ReanalysisClearsTheMapAndSkipsNumbersOutsideTheStream)
{
    analyzeEncoderOutput("SPS PPS I P P\n");
    ASSERT_EQ(labels(), (QStringList{u"SPS"_s, u"PPS"_s, u"I"_s, u"P"_s, u"P"_s}));
    // Five NAL units but only 1 and 2 named, plus numbers 0, -1 and 6.
    analyzeEncoderOutput("#summary\n5 1 1 0 1 1 0\n0\n1\n2\n-1 6\n");
    EXPECT_TRUE(prompts.events.empty()) << prompts.errors().join(u'|').toStdString();
    EXPECT_EQ(labels(), (QStringList{u"SPS"_s, u"I"_s, {}, {}, {}}));
}

TEST_F(AnalyzerWindow, SelectionBeforeAndAfterAnalysis)
{
    clickCell(4);
    EXPECT_EQ(ui(form).state.selectedColumn, 4);
    EXPECT_EQ(ui(form).CurrentNalValue->text(), u"-"_s);

    analyzeEncoderOutput("SPS PPS I P P P P P\n");
    EXPECT_EQ(ui(form).state.selectedColumn, 4);
    EXPECT_EQ(ui(form).CurrentNalValue->text(), u"-"_s);

    clickCell(4);
    EXPECT_EQ(ui(form).CurrentNalValue->text(), u"5"_s);
    ui(form).StringGrid1->setFocus();
    QTest::keyClick(ui(form).StringGrid1, Qt::Key_Right);
    EXPECT_EQ(ui(form).CurrentNalValue->text(), u"6"_s);
    EXPECT_EQ(ui(form).state.selectedColumn, 5);
}

TEST_F(AnalyzerWindow, ReanalysisKeepsTheSelectionUnlessTheMapGotShorter)
{
    analyzeEncoderOutput("SPS PPS I P P P P P\n");
    clickCell(6);
    analyzeEncoderOutput("SPS PPS I P P P P P P P\n");
    EXPECT_EQ(ui(form).CurrentNalValue->text(), u"7"_s);
    EXPECT_EQ(ui(form).state.selectedColumn, 6);

    analyzeEncoderOutput("SPS PPS I\n");
    EXPECT_EQ(ui(form).StringGrid1->currentColumn(), 2);
    EXPECT_EQ(ui(form).state.selectedColumn, 2);
    EXPECT_EQ(ui(form).CurrentNalValue->text(), u"3"_s);
}

TEST_F(AnalyzerWindow, SourceChecksOfTheSourceBox)
{
    chooseSource(0);
    chooseSource(1);
    EXPECT_EQ(prompts.messages(),
              (QStringList{u"Error: There is no encoder output!"_s, u"Error: There is no channel output!"_s}));
    EXPECT_EQ(ui(form).ComboBox2->currentIndex(), -1);
    EXPECT_EQ(ui(form).ComboBox2->currentText(), u"Select one source..."_s);

    // Typed text names no stream and runs nothing.
    prompts.clear();
    QTest::keyClicks(ui(form).ComboBox2->lineEdit(), u"x.264"_s);
    QTest::keyClick(ui(form).ComboBox2->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(prompts.events.empty());
    EXPECT_FALSE(QFile::exists(u"analyze.bat"_s));
    EXPECT_EQ(ui(form).ComboBox2->count(), 2);
    // Typing over a chosen item leaves no item chosen for the popup commands.
    write(u"enc.264"_s, "SPS\n");
    ui(form).LabeledEdit2->setText(u"enc.264"_s);
    chooseSource(0);
    ASSERT_TRUE(prompts.events.empty());
    QTest::keyClicks(ui(form).ComboBox2->lineEdit(), u"x"_s);
    ui(form).Properties1->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{u"Stream Analyzer Error: Please choose an input source!"_s});
    prompts.clear();

    QFile::remove(u"h264_analyze.exe"_s);
    chooseSource(0);
    EXPECT_EQ(prompts.messages(), QStringList{u"Error: h264_analyze.exe not found!"_s});
}

TEST_F(AnalyzerWindow, PopupCommandsRunInTheStartDirectoryAfterADirectoryChange)
{
    analyzeEncoderOutput("SPS PPS I\n");
    QTemporaryDir elsewhere;
    QDir::setCurrent(elsewhere.path());  // as a file dialog may do
    prompts.clear();
    ui(form).Properties1->trigger();
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
}

TEST_F(AnalyzerWindow, PopupSourceChecksLeaveTheBoxAlone)
{
    ui(form).Properties1->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{u"Stream Analyzer Error: Please choose an input source!"_s});

    analyzeEncoderOutput("SPS PPS I\n");
    QFile::remove(u"enc.264"_s);
    prompts.clear();
    ui(form).Delete1->trigger();
    ui(form).Properties1->trigger();
    EXPECT_EQ(prompts.messages(), (QStringList{u"Stream Analyzer Error: Input file (enc.264) not found!"_s,
                                               u"Stream Analyzer Error: Input file (enc.264) not found!"_s}));
    EXPECT_EQ(ui(form).ComboBox2->currentIndex(), 0);
    EXPECT_FALSE(QFile::exists(u"analyze.bat"_s));

    QFile::remove(u"h264_analyze.exe"_s);
    prompts.clear();
    ui(form).Properties1->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{u"Error: h264_analyze.exe not found!"_s});
}

TEST_F(AnalyzerWindow, PropertiesDescribeSelectedColumnPlusOneAfterASeparator)
{
    analyzeEncoderOutput("SPS PPS I P\n");
    ui(form).Memo1->clear();
    const QString separator(203, u'-');

    ui(form).Properties1->trigger();  // nothing selected yet: NAL unit 1
    clickCell(2);
    ui(form).Properties1->trigger();
    EXPECT_TRUE(prompts.events.empty()) << prompts.messages().join(u'|').toStdString();
    const QStringList lines = log().split(u'\n');
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], separator);
    EXPECT_EQ(lines[1], u"NAL unit 1 of enc.264: SPS"_s);
    const qsizetype second = lines.indexOf(separator, 1);
    ASSERT_GT(second, 1);
    EXPECT_EQ(lines.value(second + 1), u"NAL unit 3 of enc.264: I"_s);
    EXPECT_EQ(lines.count(separator), 2);
    EXPECT_EQ(ui(form).state.analysisMode, 2);
    EXPECT_FALSE(QFile::exists(u"debug.txt"_s));
    EXPECT_FALSE(QFile::exists(u"analyze.bat"_s));
}

TEST_F(AnalyzerWindow, PropertiesWithoutDescriptionSaySo)
{
    analyzeEncoderOutput("#no-debug\nSPS PPS I\n");
    ui(form).Properties1->trigger();
    EXPECT_EQ(prompts.messages(), QStringList{u"Error: debug.txt not found!"_s});
}

TEST_F(AnalyzerWindow, AnsweringNoChangesNothing)
{
    analyzeEncoderOutput("SPS PPS I P\n");
    clickCell(3);
    const QString logBefore = log();
    prompts.answers = {false};
    ui(form).Delete1->trigger();

    ASSERT_EQ(prompts.events.size(), 1u);
    EXPECT_EQ(prompts.events[0].kind, Event::Question);
    EXPECT_EQ(prompts.events[0].caption, u"Deleting a NAL unit..."_s);
    EXPECT_EQ(prompts.events[0].text, u"Are you sure to delete NAL unit #"_s);
    EXPECT_EQ(read(u"enc.264"_s), QByteArray("SPS PPS I P\n"));
    EXPECT_EQ(log(), logBefore);
    EXPECT_EQ(labels(), (QStringList{u"SPS"_s, u"PPS"_s, u"I"_s, u"P"_s}));
    EXPECT_FALSE(QFile::exists(u"analyze.bat"_s));
}

TEST_F(AnalyzerWindow, RemovalActsOnNalUnitOneWhenNothingWasSelected)
{
    analyzeEncoderOutput("SEI SPS PPS I\n");
    prompts.answers = {true};
    ui(form).Delete1->trigger();
    EXPECT_EQ(read(u"enc.264"_s), QByteArray("SPS PPS I \n"));
    EXPECT_EQ(labels(), (QStringList{u"SPS"_s, u"PPS"_s, u"I"_s}));
    EXPECT_TRUE(log().contains(u"stand-in removed NAL unit 1 from enc.264"_s));
}

TEST_F(AnalyzerWindow, RemovalReanalysesTheChannelOutputWhenThatIsTheSource)
{
    write(u"enc.264"_s, "SPS PPS I P P P\n");
    ui(form).LabeledEdit2->setText(u"enc.264"_s);
    write(u"chan out.264"_s, "SPS PPS I P\n");
    ui(form).LabeledEdit6->setText(u"chan out.264"_s);
    chooseSource(1);
    clickCell(2);
    ui(form).Memo1->clear();
    prompts.answers = {true};
    ui(form).Delete1->trigger();

    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'|').toStdString();
    EXPECT_EQ(read(u"chan out.264"_s), QByteArray("SPS PPS P \n"));
    EXPECT_EQ(read(u"enc.264"_s), QByteArray("SPS PPS I P P P\n"));
    EXPECT_EQ(labels(), (QStringList{u"SPS"_s, u"PPS"_s, u"P"_s}));
    EXPECT_EQ(ui(form).TotalNalUnitsValue->text(), u"3"_s);
    // The removal report, then the channel output analysed again.
    const QString text = log();
    const qsizetype removed = text.indexOf(u"stand-in removed NAL unit 3 from chan out.264"_s);
    ASSERT_GE(removed, 0);
    EXPECT_GT(text.indexOf(u"stand-in analyzed chan out.264: 3 NAL units"_s), removed);
    EXPECT_FALSE(text.contains(u"enc.264"_s));
}

} // namespace
