#include "main_window/radio_group.h"
#include "main_window/up_down.h"
#include "tests/main_window/shell_fixture.h"
#include "tests/main_window/window_parts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <vector>

using kestrune::testing::ui;

using namespace Qt::StringLiterals;

namespace {

std::string str(const QString& s) { return s.toStdString(); }

// The window shown offscreen in its scratch start directory, driven through
// its widgets.
class EncoderPanel : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        window().show();
    }

    void showPage(int index) { ui(form).PageControl1->setCurrentIndex(index); }
    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // Picks an item of the encoding-mode box the way a user does.
    void chooseMode(int index)
    {
        QComboBox* box = ui(form).ComboBox1;
        box->setFocus();
        while (box->currentIndex() < index) QTest::keyClick(box, Qt::Key_Down);
        while (box->currentIndex() > index) QTest::keyClick(box, Qt::Key_Up);
    }
    void typeInto(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    static bool allEnabled(const std::vector<QWidget*>& widgets, bool enabled)
    {
        for (QWidget* w : widgets)
            if (w->isEnabled() != enabled) return false;
        return true;
    }
    // Slice-control states in the order fixed, variable, FMO, radio buttons.
    std::string sliceStates() const
    {
        auto on = [](const std::vector<QWidget*>& ws) {
            return allEnabled(ws, true) ? '1' : allEnabled(ws, false) ? '0' : '?';
        };
        const TForm1& f = *form;
        return {on({ui(f).Edit8, ui(f).Label12}), on({ui(f).Edit9, ui(f).Label13, ui(f).Label14}), on({ui(f).Edit10, ui(f).Label15}),
                on({ui(f).RadioButton1, ui(f).RadioButton2})};
    }
    QByteArray contents(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void fillInputAndOutput(const QString& input, const QString& output)
    {
        ui(form).LabeledEdit1->setText(input);
        ui(form).LabeledEdit2->setText(output);
        ui(form).LabeledEdit5->setText(u"176"_s);
        ui(form).LabeledEdit7->setText(u"144"_s);
    }
    void installStandInEncoder() const
    {
        write(u"x264.exe"_s, "#!/bin/sh\ncp xbatch.bat seen.bat\nfor a in \"$@\"; do echo \"[$a]\"; done\n", true);
    }
    QStringList logLines() const { return ui(form).Memo1->toPlainText().split(u'\n'); }
};

TEST_F(EncoderPanel, EncodingModeSwitchesBitrateAndQuantizerControls)
{
    TForm1& f = *form;
    const std::vector<QWidget*> bitrate{ui(f).Edit1, ui(f).Label2, ui(f).Label3};
    const std::vector<QWidget*> quantizer{ui(f).TrackBar1, ui(f).UpDown1, ui(f).Edit2, ui(f).Label4, ui(f).Label5};
    EXPECT_TRUE(allEnabled(bitrate, true));
    EXPECT_TRUE(allEnabled(quantizer, false));
    EXPECT_EQ(ui(f).state.rateControlMode, 1);

    chooseMode(1);
    EXPECT_TRUE(allEnabled(bitrate, false));
    EXPECT_TRUE(allEnabled(quantizer, true));
    EXPECT_EQ(ui(f).state.rateControlMode, 2);
    chooseMode(2);
    EXPECT_TRUE(allEnabled(quantizer, true));
    EXPECT_EQ(ui(f).state.rateControlMode, 3);
    chooseMode(0);
    EXPECT_TRUE(allEnabled(bitrate, true));
    EXPECT_TRUE(allEnabled(quantizer, false));
    EXPECT_EQ(ui(f).state.rateControlMode, 1);

    // Typed text counts only when it matches an item exactly.
    typeInto(ui(f).ComboBox1->lineEdit(), u"constant quantizer (qp mode)"_s);
    EXPECT_EQ(ui(f).state.rateControlMode, 1);
    EXPECT_TRUE(allEnabled(bitrate, true));
    typeInto(ui(f).ComboBox1->lineEdit(), u"Constant Rate Factor (CRF)"_s);
    EXPECT_EQ(ui(f).state.rateControlMode, 3);
    EXPECT_TRUE(allEnabled(bitrate, false));
    typeInto(ui(f).ComboBox1->lineEdit(), u"Average"_s);
    EXPECT_EQ(ui(f).state.rateControlMode, 3);
    // Enter adds no item and picks none by a case-blind match.
    for (const QString& typed : {u"Lossless"_s, u"constant quantizer (qp mode)"_s}) {
        typeInto(ui(f).ComboBox1->lineEdit(), typed);
        QTest::keyClick(ui(f).ComboBox1->lineEdit(), Qt::Key_Return);
    }
    EXPECT_EQ(ui(f).ComboBox1->count(), 3);
    EXPECT_EQ(ui(f).state.rateControlMode, 3);
    EXPECT_TRUE(allEnabled(bitrate, false));
    EXPECT_TRUE(prompts.events.empty());
}

TEST_F(EncoderPanel, TrackBarSpinnerAndEditMirrorEachOther)
{
    TForm1& f = *form;
    chooseMode(1);

    ui(f).TrackBar1->setValue(40);
    EXPECT_EQ(str(ui(f).Edit2->text()), "40");
    EXPECT_EQ(ui(f).UpDown1->position(), 40);

    typeInto(ui(f).Edit2, u"12"_s);
    EXPECT_EQ(ui(f).TrackBar1->value(), 12);
    EXPECT_EQ(ui(f).UpDown1->position(), 12);

    QTest::mouseClick(ui(f).UpDown1->upButton(), Qt::LeftButton);
    EXPECT_EQ(ui(f).UpDown1->position(), 13);
    EXPECT_EQ(str(ui(f).Edit2->text()), "13");
    EXPECT_EQ(ui(f).TrackBar1->value(), 13);
    QTest::mouseClick(ui(f).UpDown1->downButton(), Qt::LeftButton);
    QTest::mouseClick(ui(f).UpDown1->downButton(), Qt::LeftButton);
    EXPECT_EQ(ui(f).TrackBar1->value(), 11);
    EXPECT_EQ(str(ui(f).Edit2->text()), "11");

    typeInto(ui(f).Edit2, u"99"_s); // "9" moves the bar to 9, "99" clamps to 51
    EXPECT_EQ(ui(f).TrackBar1->value(), 51);
    EXPECT_EQ(str(ui(f).Edit2->text()), "51");
    EXPECT_EQ(ui(f).UpDown1->position(), 51);
    QTest::mouseClick(ui(f).UpDown1->upButton(), Qt::LeftButton);
    EXPECT_EQ(ui(f).TrackBar1->value(), 51);
    EXPECT_TRUE(prompts.events.empty());
}

TEST_F(EncoderPanel, QuantizerTextThatIsNoIntegerIsReportedAndKept)
{
    TForm1& f = *form;
    chooseMode(1);
    ui(f).TrackBar1->setValue(30);
    typeInto(ui(f).Edit2, u"1x"_s);  // "1" moves the bar; "1x" does not convert
    EXPECT_EQ(ui(f).TrackBar1->value(), 1);
    EXPECT_EQ(str(ui(f).Edit2->text()), "1x");
    ASSERT_EQ(prompts.errors().size(), 1);
    EXPECT_EQ(str(prompts.errors()[0]), "'1x' is not a valid integer value.");
    ui(f).Edit2->clear();  // empty text changes nothing
    EXPECT_EQ(ui(f).TrackBar1->value(), 1);
    EXPECT_EQ(prompts.events.size(), 1u);
}

TEST_F(EncoderPanel, SliceRadioButtonsAndFmoDriveTheSliceControls)
{
    TForm1& f = *form;
    showPage(3);
    EXPECT_EQ(sliceStates(), "1001");
    click(ui(f).RadioButton2);
    EXPECT_EQ(sliceStates(), "0101");
    click(ui(f).RadioButton1);
    EXPECT_EQ(sliceStates(), "1001");

    click(ui(f).CheckBox6);
    EXPECT_EQ(sliceStates(), "0010");
    click(ui(f).CheckBox6);
    EXPECT_EQ(sliceStates(), "1001");

    click(ui(f).RadioButton2);
    click(ui(f).CheckBox6);
    EXPECT_EQ(sliceStates(), "0010");
    click(ui(f).CheckBox6);
    EXPECT_EQ(sliceStates(), "0101"); // back to the checked radio button's controls
    EXPECT_TRUE(ui(f).RadioButton2->isChecked());
}

TEST_F(EncoderPanel, TypingChecksWarnWithoutTouchingTheText)
{
    TForm1& f = *form;
    showPage(3);
    typeInto(ui(f).Edit5, u"0"_s);
    EXPECT_EQ(str(ui(f).Edit5->text()), "0");
    typeInto(ui(f).Edit5, u"-3"_s); // "-" alone does not convert, "-3" is below 1
    EXPECT_EQ(str(ui(f).Edit5->text()), "-3");
    typeInto(ui(f).Edit5, u"12"_s);

    click(ui(f).CheckBox6);
    typeInto(ui(f).Edit10, u"1"_s);
    typeInto(ui(f).Edit10, u"35"_s); // 3 and 35 are accepted here
    EXPECT_EQ(str(ui(f).Edit10->text()), "35");

    const QString gop = u"Encoder Error: Min GOP size is 1"_s;
    const QString groups = u"Encoder Error: The number of slice groups must be in set {2,4,6,8}"_s;
    EXPECT_EQ(prompts.messages(), (QStringList{gop, gop, groups}));
    EXPECT_EQ(prompts.errors(), (QStringList{u"'-' is not a valid integer value."_s}));
    // The conversion error comes between the two Min GOP warnings.
    ASSERT_EQ(prompts.events.size(), 4u);
    EXPECT_EQ(prompts.events[1].kind, kestrune::testing::RecordingPrompts::Event::ErrorBox);
}

TEST_F(EncoderPanel, BrowseButtonsFillTheirFieldsOnlyWhenConfirmed)
{
    TForm1& f = *form;
    prompts.files = {u"/videos/foreman.yuv"_s, std::nullopt, u"/videos/out.264"_s, std::nullopt};
    click(ui(f).Button1);
    click(ui(f).Button1);
    click(ui(f).Button2);
    click(ui(f).Button2);
    EXPECT_EQ(str(ui(f).LabeledEdit1->text()), "/videos/foreman.yuv");
    EXPECT_EQ(str(ui(f).LabeledEdit2->text()), "/videos/out.264");
    using Event = kestrune::testing::RecordingPrompts::Event;
    ASSERT_EQ(prompts.events.size(), 4u);
    EXPECT_EQ(prompts.events[0].kind, Event::OpenDialog);
    EXPECT_EQ(str(prompts.events[0].text), "YUV File (*.yuv)|*.yuv");
    EXPECT_EQ(prompts.events[2].kind, Event::SaveDialog);
    EXPECT_EQ(str(prompts.events[2].text), "H.264 File (*.264)|*.264");
}

TEST_F(EncoderPanel, EncodeStopsAtTheFirstFailingCheckBeforeWritingAnything)
{
    TForm1& f = *form;
    click(ui(f).Button3);
    write(u"x264.exe"_s, {});
    ui(f).LabeledEdit1->setText(u"foreman.yuv"_s);
    click(ui(f).Button3);
    write(u"foreman.yuv"_s, {});
    click(ui(f).Button3);
    ui(f).LabeledEdit2->setText(u"out.264"_s);
    ui(f).Edit14->setText(u"all"_s);
    click(ui(f).Button3);
    ui(f).Edit14->setText(u"All"_s);
    click(ui(f).Button3); // width and height still empty

    EXPECT_EQ(prompts.messages(),
              (QStringList{u"Error: x264.exe not found!"_s, u"Encoder Error! Input YUV File (foreman.yuv) not found!"_s,
                           u"Encoder Error! Please specify an (H.264) output file!"_s,
                           u"Encoder Error: Please enter the number of frames to be encoded (default is All)!"_s,
                           u"Encoder Error: Input Width/Height is incorrect!"_s}));
    EXPECT_FALSE(exists(u"xbatch.bat"_s));
    EXPECT_TRUE(ui(f).Memo1->toPlainText().isEmpty());
}

// A stand-in encoder keeps the command file it was started from and prints
// its arguments, so the test sees what the real encoder would receive.
TEST_F(EncoderPanel, EncodeWritesTheCommandFileAndRunsTheEncoderFromTheStartDirectory)
{
    TForm1& f = *form;
    installStandInEncoder();
    write(u"foreman.yuv"_s, {});
    write(u"my clip.yuv"_s, {});
    fillInputAndOutput(u"foreman.yuv"_s, u"out.264"_s);
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path())); // e.g. a file dialog moved it

    click(ui(f).Button3);
    EXPECT_TRUE(prompts.events.empty()) << str(prompts.messages().join(u'\n') + prompts.errors().join(u'\n'));
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
    EXPECT_EQ(contents(u"seen.bat"_s).toStdString(),
              "x264 --bitrate 500 --min-keyint 25 --keyint 250 --scenecut 40 --fps 25 --slices 1"
              " --me \"hex\" --ref 1 --mixed-refs --merange 16 --partitions \"i8x8\"\"i4x4\"\"p8x8\""
              " foreman.yuv -o out.264 176x144 >xbatch.txt 2>&1\r\n");
    QStringList log = logLines();
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(str(log.first()), "Please wait...");
    EXPECT_EQ(log.mid(log.indexOf(u"[foreman.yuv]"_s), 4),
              (QStringList{u"[foreman.yuv]"_s, u"[-o]"_s, u"[out.264]"_s, u"[176x144]"_s}));
    EXPECT_FALSE(exists(u"xbatch.bat"_s));
    EXPECT_FALSE(exists(u"xbatch.txt"_s));

    // A path with a blank reaches the encoder as one argument.
    ui(f).BitBtn1->click();
    fillInputAndOutput(u"my clip.yuv"_s, u"out file.264"_s);
    click(ui(f).Button3);
    log = logLines();
    const qsizetype input = log.indexOf(u"[my clip.yuv]"_s);
    ASSERT_GE(input, 0) << str(log.join(u'\n'));
    EXPECT_EQ(log.mid(input, 4), (QStringList{u"[my clip.yuv]"_s, u"[-o]"_s, u"[out file.264]"_s, u"[176x144]"_s}));
    EXPECT_TRUE(prompts.events.empty());
}

TEST_F(EncoderPanel, EncodeTakesModeSliceAndFmoSettingsFromThePanel)
{
    TForm1& f = *form;
    installStandInEncoder();
    write(u"in.yuv"_s, {});
    fillInputAndOutput(u"in.yuv"_s, u"out.264"_s);
    ui(f).Edit1->setText(u"not checked in QP mode"_s);
    chooseMode(1);
    showPage(3);
    click(ui(f).RadioButton2);
    click(ui(f).Button3);
    const QString variable = QString::fromLatin1(contents(u"seen.bat"_s));
    EXPECT_TRUE(variable.startsWith(u"x264 --qp 26 --min-keyint 25"_s)) << str(variable);
    EXPECT_TRUE(variable.contains(u" --fps 25 --max-slicesize 1500 --me "_s)) << str(variable);

    click(ui(f).CheckBox6);
    click(ui(f).Button3);
    const QString fmo = QString::fromLatin1(contents(u"seen.bat"_s));
    EXPECT_TRUE(fmo.contains(u" --fps 25 --slice-groups 2 --me "_s)) << str(fmo);
    EXPECT_TRUE(prompts.events.empty());
}

// With the workbench folder built, the real encoder runs from the window and
// its report lands in the log.
TEST_F(EncoderPanel, EncodeWithTheRealEncoderReportsInTheLog)
{
    // The build's own workbench folder when ctest's environment does not arrive.
    const QDir workbench(qEnvironmentVariable("KESTRUNE_WORKBENCH", QStringLiteral(KESTRUNE_WORKBENCH_DIR)));
    const QString encoder = workbench.filePath(u"x264.exe"_s);
    const QString sample = workbench.filePath(u"sample_176x144.yuv"_s);
    if (!QFile::exists(encoder) || !QFile::exists(sample))
        GTEST_SKIP() << "the workbench folder has no encoder or sample";
    ASSERT_TRUE(QFile::copy(encoder, path(u"x264.exe"_s)));
    ASSERT_TRUE(QFile::link(sample, path(u"sample_176x144.yuv"_s)));

    TForm1& f = *form;
    fillInputAndOutput(u"sample_176x144.yuv"_s, u"out.264"_s);
    ui(f).Edit14->setText(u"20"_s);
    chooseMode(1);
    click(ui(f).Button3);

    EXPECT_TRUE(prompts.events.empty()) << str(prompts.messages().join(u'\n') + prompts.errors().join(u'\n'));
    const QString log = ui(f).Memo1->toPlainText();
    EXPECT_TRUE(log.startsWith(u"Please wait...\n"_s));
    EXPECT_TRUE(log.contains(u"encoded 20 frames"_s)) << str(log);
    EXPECT_TRUE(contents(u"out.264"_s).startsWith(QByteArray("\0\0\0\1", 4)));
}

} // namespace
