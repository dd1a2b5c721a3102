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

void TForm1::Button4Click()
{
    QDir::setCurrent(state.startDirectory);
    if (!kestrune::fileExists(u"gilbert.exe"_s)) return prompts.message(u"Error: Gilbert.exe not found!"_s);
    if (!kestrune::fileExists(u"h264_analyze.exe"_s)) return prompts.message(u"Error: h264_analyze.exe not found!"_s);
    const QString stream = LabeledEdit2->text();
    if (!kestrune::fileExists(stream))
        return prompts.message(u"Error! There is not any encoded file or ("_s + stream + u") not found!"_s);

    state.nalUnitCount = 0;
    kestrune::writeCommandFile(u"analyze.bat"_s, kestrune::analyzeCommand(stream));
    state.analysisMode = 4;
    AnalyzeRun();

    const auto gilbert = kestrune::gilbertCommand(state.nalUnitCount, stream, Edit11->text(), Edit12->text());
    if (!gilbert.ok()) return prompts.message(gilbert.error);
    kestrune::writeCommandFile(u"gil.bat"_s, gilbert.command);
    QFile::remove(u"gilbert.txt"_s);
    const QString output = LabeledEdit6->text();
    if (output.isEmpty()) return prompts.message(u"Error: Please specify an output file for the Gilbert Model"_s);
    kestrune::writeCommandFile(u"analyze.bat"_s,
                               kestrune::applyLossCommand(stream, state.nalUnitCount, output));
    GilbertRun();
    noteChannelRun(output, Edit11->text());

    if (!QFile::exists(u"gilbert.txt"_s)) return;
    kestrune::TextReader pattern(u"gilbert.txt"_s);
    const QString dropped = kestrune::droppedNalUnits(state.nalUnitCount, [&] { return pattern.readInteger(); });
    logSink().appendLines({u"Dropped NAL units:"_s, dropped});
}

void TForm1::Button9Click()
{
    if (const auto path = prompts.saveFile(u"H.264 File (*.264)|*.264"_s)) LabeledEdit6->setText(*path);
}
