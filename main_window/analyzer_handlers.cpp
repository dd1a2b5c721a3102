// Stream analyzer: analyzer runs, the NAL unit map, inspection and removal.
#include "main_window/tform1.h"

#include "main_window/nal_unit_map.h"
#include "main_window/source_box.h"
#include "runner/analyzer_interface.h"
#include "runner/command_file.h"
#include "runner/file_checks.h"
#include "runner/text_file.h"
#include "runner/tool_runner.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <optional>

using namespace Qt::StringLiterals;
using kestrune::fileExists;

namespace {

const QString kSelectSource = u"Select one source..."_s;

QString name(const char16_t* fileName)
{
    return QString::fromUtf16(fileName);
}

} // namespace

void TForm1::AnalyzeRun()
{
    kestrune::ToolRunner runner(prompts, logSink());
    const kestrune::WaitResult wait = runner.launchCommandFile(name(kestrune::kAnalyzerCommandFile));
    if (!wait.launched) {
        prompts.message(u"Error in running analyze.bat"_s);
        return;
    }
    if (const auto rule = kestrune::analysisModeRule(state.analysisMode)) {
        if (!runner.appendFileToLog(rule->captureFile, wait)) prompts.message(rule->missingCaptureMessage);
        if (rule->fillsMap) StreamAnalyze();
        if (rule->readsNalUnitCount) {
            if (!fileExists(name(kestrune::kSummaryFile))) {
                prompts.message(u"Error: General.txt not found!"_s);
                state.nalUnitCount = 0;
                return;  // the command file stays for a look at what ran
            }
            kestrune::TextReader summary(name(kestrune::kSummaryFile));
            state.nalUnitCount = summary.readInteger();
        }
    }
    QFile::remove(name(kestrune::kAnalyzerCommandFile));
}

void TForm1::ComboBox2Change()
{
    const int item = kestrune::chosenSource(ComboBox2);
    if (item < 0) return;  // typed text names no stream: nothing to run
    QDir::setCurrent(state.startDirectory);
    if (!fileExists(name(kestrune::kAnalyzerProgram))) {
        prompts.message(u"Error: h264_analyze.exe not found!"_s);
        return;
    }
    const QString stream = (item == 0 ? LabeledEdit2 : LabeledEdit6)->text();
    if (!fileExists(stream)) {
        prompts.message(item == 0 ? u"Error: There is no encoder output!"_s : u"Error: There is no channel output!"_s);
        ComboBox2->setCurrentIndex(-1);
        ComboBox2->setEditText(kSelectSource);
        return;
    }
    kestrune::writeCommandFile(name(kestrune::kAnalyzerCommandFile), kestrune::analyzeCommand(stream));
    state.analysisMode = kestrune::kAnalysisMap;
    AnalyzeRun();
}

void TForm1::StreamAnalyze()
{
    const QString summaryFile = name(kestrune::kSummaryFile);
    if (!fileExists(summaryFile)) {
        prompts.message(u"Error: general.txt not found!"_s);
        return;
    }
    // The reader holds the file's bytes; the file itself is already closed.
    kestrune::TextReader summary(summaryFile);
    const kestrune::SummaryCounts counts = kestrune::readSummaryCounts(summary);
    ISlicesValue->setText(QString::number(counts.iSlices));
    PSlicesValue->setText(QString::number(counts.pSlices));
    BSlicesValue->setText(QString::number(counts.bSlices));
    TotalNalUnitsValue->setText(QString::number(counts.total));
    SpssValue->setText(QString::number(counts.sps));
    PpssValue->setText(QString::number(counts.pps));
    SeisValue->setText(QString::number(counts.sei));

    StringGrid1->startAnalysis(counts.total);
    kestrune::readSummaryLabels(summary, counts,
                                [this](int column, kestrune::NalLabel label) { StringGrid1->setLabel(column, label); });
}

void TForm1::StringGrid1SelectCell(int column, int /*row*/)
{
    state.selectedColumn = column;
    if (StringGrid1->analysed()) CurrentNalValue->setText(QString::number(column + 1));
}

namespace {

// The stream the popup commands act on, after the checks they share; nothing
// (and the message shown) when a check fails.
std::optional<QString> popupSource(TForm1Parts& form)
{
    QDir::setCurrent(form.state.startDirectory);
    if (!fileExists(name(kestrune::kAnalyzerProgram))) {
        form.prompts.message(u"Error: h264_analyze.exe not found!"_s);
        return std::nullopt;
    }
    const int item = kestrune::chosenSource(form.ComboBox2);
    if (item < 0) {
        form.prompts.message(u"Stream Analyzer Error: Please choose an input source!"_s);
        return std::nullopt;
    }
    const QString stream = (item == 0 ? form.LabeledEdit2 : form.LabeledEdit6)->text();
    if (!fileExists(stream)) {
        form.prompts.message(u"Stream Analyzer Error: Input file ("_s + stream + u") not found!"_s);
        return std::nullopt;
    }
    return stream;
}

} // namespace

void TForm1::Properties1Click()
{
    const std::optional<QString> stream = popupSource(*this);
    if (!stream) return;
    kestrune::writeCommandFile(name(kestrune::kAnalyzerCommandFile),
                               kestrune::showNalUnitCommand(*stream, state.selectedColumn + 1));
    logSink().appendLines({QString(203, u'-')});
    state.analysisMode = kestrune::kAnalysisInspect;
    AnalyzeRun();
}

void TForm1::Delete1Click()
{
    const std::optional<QString> stream = popupSource(*this);
    if (!stream) return;
    if (!prompts.askYesNoWarning(u"Deleting a NAL unit..."_s, u"Are you sure to delete NAL unit #"_s)) return;
    kestrune::writeCommandFile(name(kestrune::kAnalyzerCommandFile),
                               kestrune::removeNalUnitCommand(*stream, state.selectedColumn + 1));
    state.analysisMode = kestrune::kAnalysisMap;
    AnalyzeRun();
    ComboBox2Change();
}
