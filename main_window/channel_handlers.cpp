// Channel: Gilbert loss pattern, channel output and the dropped list.
#include "main_window/tform1.h"

#include "runner/analyzer_interface.h"
#include "runner/channel_command.h"
#include "runner/command_file.h"
#include "runner/file_checks.h"
#include "runner/text_file.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace {

QString name(const char16_t* fileName)
{
    return QString::fromUtf16(fileName);
}

} // namespace

// The channel run: count the stream's NAL units, draw a loss pattern for that
// many, then let the analyzer drop the lost ones into the channel output.
void TForm1::Button4Click()
{
    QDir::setCurrent(state.startDirectory);
    if (!kestrune::fileExists(u"gilbert.exe"_s)) return prompts.message(u"Error: Gilbert.exe not found!"_s);
    if (!kestrune::fileExists(name(kestrune::kAnalyzerProgram)))
        return prompts.message(u"Error: h264_analyze.exe not found!"_s);
    const QString stream = LabeledEdit2->text();
    if (!kestrune::fileExists(stream))
        return prompts.message(u"Error! There is not any encoded file or ("_s + stream + u") not found!"_s);

    countNalUnits(stream);

    const auto gilbert = kestrune::gilbertCommand(state.nalUnitCount, stream, Edit11->text(), Edit12->text());
    if (!gilbert.ok()) return prompts.message(gilbert.error);
    kestrune::writeCommandFile(u"gil.bat"_s, gilbert.command);
    QFile::remove(u"gilbert.txt"_s);
    const QString output = LabeledEdit6->text();
    if (output.isEmpty()) return prompts.message(u"Error: Please specify an output file for the Gilbert Model"_s);
    // GilbertRun runs this after the pattern, still in the ReadTotal mode.
    kestrune::writeCommandFile(name(kestrune::kAnalyzerCommandFile),
                               kestrune::applyLossCommand(stream, state.nalUnitCount, output));
    const kestrune::FileStamp before = kestrune::fileStamp(output);
    GilbertRun();
    if (!kestrune::writtenSince(before, kestrune::fileStamp(output)))
        return logSink().appendLines({kestrune::channelOutputNotWritten(output, before.exists)});
    noteChannelRun(output, Edit11->text());

    if (!QFile::exists(u"gilbert.txt"_s)) return;
    kestrune::TextReader pattern(u"gilbert.txt"_s);
    const QString dropped = kestrune::droppedNalUnits(state.nalUnitCount, [&] { return pattern.readInteger(); });
    logSink().appendLines({u"Dropped NAL units:"_s, dropped});
}

void TForm1::countNalUnits(const QString& stream)
{
    state.nalUnitCount = 0;
    kestrune::writeCommandFile(name(kestrune::kAnalyzerCommandFile), kestrune::analyzeCommand(stream));
    state.analysisMode = kestrune::kAnalysisReadTotal;
    AnalyzeRun();
}

void TForm1::Button9Click()
{
    if (const auto path = prompts.saveFile(u"H.264 File (*.264)|*.264"_s)) LabeledEdit6->setText(*path);
}
