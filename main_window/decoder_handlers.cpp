// Decode command and the placing of its output.
#include "main_window/tform1.h"

#include "main_window/radio_group.h"
#include "runner/command_file.h"
#include "runner/decode_command.h"
#include "runner/file_checks.h"
#include "tools/quality/frame_loss_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

using namespace Qt::StringLiterals;

void TForm1::Button5Click()
{
    if (const auto path = prompts.openFile(u"H.264 File (*.264)|*.264"_s)) LabeledEdit3->setText(*path);
}

void TForm1::Button6Click()
{
    if (const auto path = prompts.saveFile(u"YUV File (*.yuv)|*.yuv"_s)) LabeledEdit4->setText(*path);
}

void TForm1::Button10Click()
{
    QDir::setCurrent(state.startDirectory);
    if (!kestrune::fileExists(u"ffmpeg.exe"_s)) return prompts.message(u"Error: ffmpeg.exe not found!"_s);
    const QString input = LabeledEdit3->text();
    if (!kestrune::fileExists(input))
        return prompts.message(u"Decoder Error: Input file ("_s + input + u") not found!"_s);
    const QString command = kestrune::decodeCommand(RadioGroup2->itemIndex(), RadioGroup3->itemIndex(), input);
    const QString output = LabeledEdit4->text();
    if (output.isEmpty())
        return prompts.message(u"Decoder Error: Output file ("_s + output + u") not specified!"_s);

    logSink().appendLines({u"Please wait until decoding is completed....."_s});
    // A scratch file left by an earlier failed run must not pass for this
    // run's result when the decoder writes nothing.
    const QString scratch = QDir(state.startDirectory).filePath(QString::fromUtf16(kestrune::kDecoderScratchFile));
    const bool outputIsScratch = QFileInfo(scratch) == QFileInfo(QDir(state.startDirectory), output);
    if (!outputIsScratch) QFile::remove(scratch);
    kestrune::writeCommandFile(u"fbatch.bat"_s, command);
    FbatchRun();
    // The loss file now lies beside the output; one left at the scratch path belongs to no output.
    if (!outputIsScratch) QFile::remove(QString::fromStdString(kestrune::quality::frameLossPath(scratch.toStdString())));
}

void TForm1::moveDecodedOutput()
{
    // The output field is read again: an edit made while the decoder ran counts.
    const QString output = LabeledEdit4->text();
    const QDir start(state.startDirectory);
    const auto result = kestrune::placeDecodedOutput(
        start.filePath(QString::fromUtf16(kestrune::kDecoderScratchFile)), start.absoluteFilePath(output));
    if (result.kind != kestrune::DecodedOutputResult::Placed)
        return prompts.message(kestrune::decodedOutputMessage(result, output));
    reportDecodeQuality(output);
}
