// Encoder settings panel and the Encode command.
#include "main_window/tform1.h"

#include "runner/encode_command.h"
#include "main_window/radio_group.h"
#include "main_window/up_down.h"
#include "runner/command_file.h"
#include "runner/conventions.h"
#include "runner/file_checks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <initializer_list>

using namespace Qt::StringLiterals;

namespace {

void enableAll(std::initializer_list<QWidget*> widgets, bool enabled)
{
    for (QWidget* w : widgets) w->setEnabled(enabled);
}

kestrune::EncodeSettings encodeSettings(const TForm1Parts& f)
{
    kestrune::EncodeSettings s;
    s.rateControlMode = f.state.rateControlMode;
    s.bitrate = f.Edit1->text();
    s.quantizer = f.TrackBar1->value();
    s.minGopSize = f.Edit5->text();
    s.maxGopSize = f.Edit6->text();
    s.scenecut = f.Edit7->text();
    s.frameRate = f.Edit13->text();
    s.frames = f.Edit14->text();
    s.computePsnr = f.CheckBox7->isChecked();
    // The edits' own enabled state, whatever their group box inherits.
    s.sliceCountEnabled = f.Edit8->isEnabledTo(f.GroupBox6);
    s.sliceCount = f.Edit8->text();
    s.maxSliceSizeEnabled = f.Edit9->isEnabledTo(f.GroupBox6);
    s.maxSliceSize = f.Edit9->text();
    s.useFmo = f.CheckBox6->isChecked();
    s.sliceGroups = f.Edit10->text();
    s.motionSearch = f.RadioGroup1->itemIndex();
    s.chromaMotionEstimation = f.CheckBox1->isChecked();
    s.referenceFrames = f.Edit3->text();
    s.searchRange = f.Edit4->text();
    s.i8x8 = f.CheckBox2->isChecked();
    s.i4x4 = f.CheckBox3->isChecked();
    s.p8x8 = f.CheckBox4->isChecked();
    s.p4x4 = f.CheckBox5->isChecked();
    s.inputPath = f.LabeledEdit1->text();
    s.outputPath = f.LabeledEdit2->text();
    s.width = f.LabeledEdit5->text();
    s.height = f.LabeledEdit7->text();
    return s;
}

} // namespace

void TForm1::ComboBox1Change()
{
    const int mode = kestrune::rateControlModeOf(ComboBox1->currentText());
    if (mode == 0) return;
    enableAll({Edit1, Label2, Label3}, mode == 1);
    enableAll({TrackBar1, UpDown1, Edit2, Label4, Label5}, mode != 1);
    state.rateControlMode = mode;
}

void TForm1::TrackBar1Change()
{
    Edit2->setText(QString::number(TrackBar1->value()));
    UpDown1->setPosition(TrackBar1->value());
}

void TForm1::UpDown1Changing()
{
    TrackBar1->setValue(UpDown1->position());
}

void TForm1::Edit2Change()
{
    if (Edit2->text().isEmpty()) return;
    // The slider clamps to 0..51; when that moves it, TrackBar1Change
    // writes the clamped value back into this edit.
    TrackBar1->setValue(kestrune::StrToInt(Edit2->text()));
}

void TForm1::RadioButton1Enter()
{
    enableAll({Edit8, Label12}, true);
    enableAll({Edit9, Label13, Label14}, false);
}

void TForm1::RadioButton2Enter()
{
    enableAll({Edit8, Label12}, false);
    enableAll({Edit9, Label13, Label14}, true);
}

void TForm1::CheckBox6Click()
{
    const bool fmo = CheckBox6->isChecked();
    enableAll({Edit10, Label15}, fmo);
    enableAll({RadioButton1, RadioButton2}, !fmo);
    const bool variable = RadioButton2->isChecked();
    enableAll({Edit8, Label12}, !fmo && !variable);
    enableAll({Edit9, Label13, Label14}, !fmo && variable);
}

void TForm1::Edit5Change()
{
    if (!Edit5->text().isEmpty() && kestrune::StrToInt(Edit5->text()) < 1)
        prompts.message(u"Encoder Error: Min GOP size is 1"_s);
}

void TForm1::Edit10Change()
{
    if (!Edit10->text().isEmpty() && kestrune::StrToInt(Edit10->text()) < 2)
        prompts.message(u"Encoder Error: The number of slice groups must be in set {2,4,6,8}"_s);
}

void TForm1::Button1Click()
{
    if (auto path = prompts.openFile(u"YUV File (*.yuv)|*.yuv"_s)) LabeledEdit1->setText(*path);
}

void TForm1::Button2Click()
{
    if (auto path = prompts.saveFile(u"H.264 File (*.264)|*.264"_s)) LabeledEdit2->setText(*path);
}

void TForm1::Button3Click()
{
    QDir::setCurrent(state.startDirectory);
    const auto command = kestrune::buildEncodeCommand(encodeSettings(*this), kestrune::fileExists);
    if (!command.ok()) {
        prompts.message(command.message);
        return;
    }
    kestrune::writeCommandFile(u"xbatch.bat"_s, command.commandLine);
    logSink().appendLines({u"Please wait..."_s});
    XbatchRun();
}
