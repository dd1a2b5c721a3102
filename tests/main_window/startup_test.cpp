// The window as it opens: layout, captions, defaults and enabled states.
#include "dialogs/tform2.h"
#include "dialogs/tform3.h"
#include "main_window/nal_unit_map.h"
#include "main_window/radio_group.h"
#include "main_window/tform1.h"
#include "main_window/up_down.h"
#include "tests/main_window/window_parts.h"
#include "tests/support/recording_prompts.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <gtest/gtest.h>

using kestrune::testing::ui;

using namespace Qt::StringLiterals;

namespace {

class StartupTest : public ::testing::Test {
protected:
    kestrune::testing::RecordingPrompts prompts;
    TForm1 form{prompts};
};

QStringList tabCaptions(const QTabWidget* tabs)
{
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i) captions << tabs->tabText(i);
    return captions;
}

QStringList actionTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions()) texts << action->text();
    return texts;
}

} // namespace

TEST_F(StartupTest, GroupBoxesHaveTheirCaptionsAndBounds)
{
    const struct {
        QGroupBox* box;
        QString caption;
        QRect bounds;
    } groups[] = {
        {ui(form).GroupBox1, u"Encoder Settings"_s, {8, 8, 361, 361}},
        {ui(form).GroupBox9, u"Channel Settings"_s, {8, 373, 361, 121}},
        {ui(form).GroupBox10, u"Decoder Settings"_s, {8, 495, 361, 217}},
        {ui(form).GroupBox12, u"H.264/AVC Stream Analyzer"_s, {376, 8, 889, 161}},
        {ui(form).GroupBox13, u"Output"_s, {376, 176, 889, 537}},
    };
    for (const auto& group : groups) {
        EXPECT_EQ(group.box->title(), group.caption);
        EXPECT_EQ(group.box->geometry(), group.bounds) << group.caption.toStdString();
    }
    EXPECT_EQ(ui(form).StringGrid1->parentWidget(), ui(form).GroupBox12);
    EXPECT_EQ(ui(form).StringGrid1->geometry(), QRect(8, 104, 873, 46));
    EXPECT_EQ(ui(form).Memo1->size(), QSize(873, 513));
    // Everything inside the output group stays inside it.
    EXPECT_TRUE(ui(form).GroupBox13->rect().contains(ui(form).Memo1->geometry()));
    EXPECT_TRUE(ui(form).GroupBox13->rect().contains(ui(form).BitBtn1->geometry()));
}

TEST_F(StartupTest, ClientAreaIsFixedAndCannotBeMaximized)
{
    form.show();
    EXPECT_EQ(form.windowTitle(), u"KESTRUNE v1.0"_s);
    EXPECT_EQ(form.centralWidget()->size(), QSize(1272, 716));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    form.resize(1600, 900);
    EXPECT_EQ(form.centralWidget()->size(), QSize(1272, 716));
}

TEST_F(StartupTest, PagesInOrderWithTheFirstActive)
{
    EXPECT_EQ(tabCaptions(ui(form).PageControl1),
              QStringList({u"General"_s, u"Motion Estimation"_s, u"Partition"_s, u"Analysis"_s}));
    EXPECT_EQ(tabCaptions(ui(form).PageControl2), QStringList({u"Gilbert Model"_s, u"Output"_s}));
    EXPECT_EQ(tabCaptions(ui(form).PageControl3), QStringList({u"General"_s, u"Error Concealment"_s}));
    for (const QTabWidget* tabs : {ui(form).PageControl1, ui(form).PageControl2, ui(form).PageControl3})
        EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(StartupTest, FieldsHoldTheirDefaults)
{
    const struct {
        QLineEdit* edit;
        QString text;
    } fields[] = {
        {ui(form).LabeledEdit1, {}}, {ui(form).LabeledEdit2, {}}, {ui(form).LabeledEdit3, {}}, {ui(form).LabeledEdit4, {}},
        {ui(form).LabeledEdit5, {}}, {ui(form).LabeledEdit6, {}}, {ui(form).LabeledEdit7, {}},
        {ui(form).Edit1, u"500"_s}, {ui(form).Edit2, u"26"_s}, {ui(form).Edit3, u"1"_s}, {ui(form).Edit4, u"16"_s},
        {ui(form).Edit5, u"25"_s}, {ui(form).Edit6, u"250"_s}, {ui(form).Edit7, u"40"_s}, {ui(form).Edit8, u"1"_s},
        {ui(form).Edit9, u"1500"_s}, {ui(form).Edit10, u"2"_s}, {ui(form).Edit11, u"5"_s}, {ui(form).Edit12, u"2"_s},
        {ui(form).Edit13, u"25"_s}, {ui(form).Edit14, u"All"_s},
    };
    for (const auto& field : fields) EXPECT_EQ(field.edit->text(), field.text) << field.edit->objectName().toStdString();

    EXPECT_EQ(ui(form).ComboBox1->currentText(), u"Average Bitrate (VBR)"_s);
    EXPECT_EQ(ui(form).ComboBox1->count(), 3);
    EXPECT_EQ(ui(form).ComboBox1->itemText(2), u"Constant Rate Factor (CRF)"_s);
    EXPECT_TRUE(ui(form).ComboBox1->isEditable());
    EXPECT_EQ(ui(form).ComboBox2->currentIndex(), -1);
    EXPECT_EQ(ui(form).ComboBox2->currentText(), u"Select one source..."_s);
    EXPECT_EQ(ui(form).ComboBox2->itemText(0), u"Encoder Output"_s);
    EXPECT_EQ(ui(form).ComboBox2->itemText(1), u"Channel Output"_s);
    EXPECT_TRUE(ui(form).ComboBox2->isEditable());

    EXPECT_EQ(ui(form).TrackBar1->minimum(), 0);
    EXPECT_EQ(ui(form).TrackBar1->maximum(), 51);
    EXPECT_EQ(ui(form).TrackBar1->value(), 26);
    EXPECT_NE(ui(form).TrackBar1->tickPosition(), QSlider::NoTicks);
    EXPECT_EQ(ui(form).UpDown1->position(), 26);
    EXPECT_EQ(ui(form).UpDown1->maximum(), 51);

    EXPECT_EQ(ui(form).RadioGroup1->itemIndex(), 1);
    EXPECT_EQ(ui(form).RadioGroup1->button(0)->text(), u"Diamond Searc (DIA)"_s);
    EXPECT_EQ(ui(form).RadioGroup2->itemIndex(), 0);
    EXPECT_EQ(ui(form).RadioGroup2->count(), 4);
    EXPECT_EQ(ui(form).RadioGroup3->itemIndex(), 0);
    EXPECT_EQ(ui(form).RadioGroup3->button(1)->text(), u"Boundary Matching Algorithm"_s);

    const bool checks[] = {ui(form).CheckBox1->isChecked(), ui(form).CheckBox2->isChecked(), ui(form).CheckBox3->isChecked(),
                           ui(form).CheckBox4->isChecked(), ui(form).CheckBox5->isChecked(), ui(form).CheckBox6->isChecked(),
                           ui(form).CheckBox7->isChecked()};
    const bool expected[] = {true, true, true, true, false, false, true};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(checks[i], expected[i]) << "CheckBox" << i + 1;
    EXPECT_TRUE(ui(form).RadioButton1->isChecked());
    EXPECT_FALSE(ui(form).RadioButton2->isChecked());

    EXPECT_EQ(ui(form).Edit14->toolTip(), u"To encode all frames write \"All\""_s);
    EXPECT_EQ(ui(form).Edit10->toolTip(), u"The number of slice groups must be in set {2,4,6,8}"_s);
    EXPECT_TRUE(ui(form).Memo1->isReadOnly());
    EXPECT_EQ(ui(form).Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(ui(form).Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(ui(form).Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(ui(form).Memo2->isHidden());
}

TEST_F(StartupTest, QuantizerSliceAndFmoControlsStartDisabled)
{
    QWidget* disabled[] = {ui(form).TrackBar1, ui(form).UpDown1, ui(form).Edit2, ui(form).Label4, ui(form).Label5,
                           ui(form).Edit9, ui(form).Label13, ui(form).Label14, ui(form).Edit10, ui(form).Label15};
    for (QWidget* w : disabled) EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    QWidget* enabled[] = {ui(form).Edit1, ui(form).Label2, ui(form).Label3, ui(form).Edit8, ui(form).Label12,
                          ui(form).RadioButton1, ui(form).RadioButton2, ui(form).CheckBox6, ui(form).ComboBox1};
    for (QWidget* w : enabled) EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();
}

TEST_F(StartupTest, LabelsAndButtonsCarryTheirCaptions)
{
    const struct {
        QLabel* label;
        QString text;
    } labels[] = {
        {ui(form).LabeledEdit1Label, u"Input YUV File:"_s}, {ui(form).LabeledEdit2Label, u"Output File:"_s},
        {ui(form).LabeledEdit3Label, u"Input H.264 File:"_s}, {ui(form).LabeledEdit4Label, u"Output YUV File:"_s},
        {ui(form).LabeledEdit5Label, u"Input Width:"_s}, {ui(form).LabeledEdit6Label, u"Output File:"_s},
        {ui(form).LabeledEdit7Label, u"Input Height:"_s}, {ui(form).Label2, u"Target Video Size:"_s},
        {ui(form).Label3, u"kbit/sec"_s}, {ui(form).Label4, u"0 (High Quality)"_s}, {ui(form).Label5, u"51 (Low Quality)"_s},
        {ui(form).Label12, u"Number of Slices:"_s}, {ui(form).Label13, u"Maximum Slice Size:"_s},
        {ui(form).Label14, u"Bytes"_s}, {ui(form).Label15, u"Number of Slice Groups:"_s},
        {ui(form).Label17, u"Frames to ecnode:"_s}, {ui(form).Label20, u"Average Burst Error Length:"_s},
        {ui(form).Label21, u"Input File:"_s}, {ui(form).TotalNalUnitsCaption, u"Total Number of NAL units:"_s},
        {ui(form).CurrentNalCaption, u"Current NAL#:"_s},
    };
    for (const auto& l : labels) EXPECT_EQ(l.label->text(), l.text);
    for (QLabel* value : {ui(form).ISlicesValue, ui(form).PSlicesValue, ui(form).BSlicesValue, ui(form).SeisValue, ui(form).SpssValue,
                          ui(form).PpssValue, ui(form).TotalNalUnitsValue, ui(form).CurrentNalValue})
        EXPECT_EQ(value->text(), u"-"_s);

    const struct {
        QPushButton* button;
        QString text;
    } buttons[] = {
        {ui(form).Button1, u"Browse..."_s}, {ui(form).Button2, u"Browse..."_s}, {ui(form).Button3, u"Encode"_s},
        {ui(form).Button4, u"Apply"_s}, {ui(form).Button5, u"Browse..."_s}, {ui(form).Button6, u"Browse..."_s},
        {ui(form).Button7, u"Play"_s}, {ui(form).Button8, u"Play YUV File"_s}, {ui(form).Button9, u"Browse..."_s},
        {ui(form).Button10, u"Decode"_s}, {ui(form).BitBtn1, u"Clear"_s},
    };
    for (const auto& b : buttons) EXPECT_EQ(b.button->text(), b.text);
}

TEST_F(StartupTest, MenusAndThePopupMenu)
{
    QStringList titles;
    for (const QAction* action : form.menuBar()->actions()) titles << action->text();
    EXPECT_EQ(titles, QStringList({u"File"_s, u"Options"_s, u"&View"_s, u"Help"_s})); // Alt+V opens View
    EXPECT_EQ(actionTexts(ui(form).File1), QStringList({u"Exit"_s}));
    EXPECT_EQ(actionTexts(ui(form).Options1), QStringList({u"H.264 Video Player..."_s, u"YUV Sequence Player..."_s}));
    EXPECT_EQ(actionTexts(ui(form).View1),
              QStringList({u"&Quality Plot..."_s, u"&Experiment..."_s, u"&Frame Viewer..."_s}));
    EXPECT_EQ(actionTexts(ui(form).Help1), QStringList({u"About..."_s}));
    EXPECT_EQ(actionTexts(ui(form).PopupMenu1), QStringList({u"Properties..."_s, u"Remove this NALU..."_s}));
    EXPECT_EQ(ui(form).StringGrid1->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(StartupTest, DialogsAreCreatedOnceAndHidden)
{
    ASSERT_NE(ui(form).Form2, nullptr);
    ASSERT_NE(ui(form).Form3, nullptr);
    EXPECT_FALSE(ui(form).Form2->isVisible());
    EXPECT_FALSE(ui(form).Form3->isVisible());
    EXPECT_TRUE(prompts.events.empty());
}

// Every caption on every page gets at least the width its text needs and
// lies inside its parent: nothing is clipped.
TEST_F(StartupTest, NoCaptionIsClippedOnAnyPage)
{
    form.show();
    auto checkAll = [&](QWidget* area, const QString& where) {
        for (QWidget* w : area->findChildren<QWidget*>()) {
            if (!w->isVisible()) continue;
            const bool captioned = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w);
            if (!captioned) continue;
            const QString text = w->property("text").toString();
            if (text.isEmpty()) continue;  // the spinner's arrows
            const QString what = where + u": "_s + text;
            EXPECT_GE(w->width(), w->sizeHint().width()) << what.toStdString();
            EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << what.toStdString();
        }
    };
    for (QTabWidget* tabs : {ui(form).PageControl1, ui(form).PageControl2, ui(form).PageControl3}) {
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QCoreApplication::sendPostedEvents();
            checkAll(tabs->widget(i), tabs->tabText(i));
        }
    }
    checkAll(ui(form).GroupBox12, u"analyzer"_s);
    checkAll(ui(form).GroupBox13, u"output"_s);
}
