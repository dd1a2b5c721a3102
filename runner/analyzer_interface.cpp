#include "runner/analyzer_interface.h"

#include "runner/command_path.h"

using namespace Qt::StringLiterals;

namespace kestrune {

namespace {
QString analyzerCommand(const QString& streamPath, int toolMode)
{
    return QString::fromUtf16(kAnalyzerProgram) + u' ' + commandLinePath(streamPath) + u' '
        + QString::number(toolMode);
}
} // namespace

QString analyzeCommand(const QString& streamPath)
{
    return analyzerCommand(streamPath, 0) + u" >analyze.txt"_s;
}

QString showNalUnitCommand(const QString& streamPath, int nalUnitNumber)
{
    return analyzerCommand(streamPath, 2) + u' ' + QString::number(nalUnitNumber);
}

QString removeNalUnitCommand(const QString& streamPath, int nalUnitNumber)
{
    return analyzerCommand(streamPath, 3) + u' ' + QString::number(nalUnitNumber) + u" >analyze.txt 2>&1"_s;
}

std::optional<AnalysisModeRule> analysisModeRule(int analysisMode)
{
    switch (analysisMode) {
    case kAnalysisMap:
        return AnalysisModeRule{QString::fromUtf16(kAnalyzerCapture), u"Error: analyze.txt not found!"_s, true, false};
    case kAnalysisInspect:
        return AnalysisModeRule{QString::fromUtf16(kAnalyzerDebugFile), u"Error: debug.txt not found!"_s, false, false};
    case kAnalysisReadTotal:
        return AnalysisModeRule{QString::fromUtf16(kAnalyzerCapture), u"Error: analyze.txt not found!"_s, false, true};
    default:
        return std::nullopt;
    }
}

QString nalLabelText(NalLabel label)
{
    switch (label) {
    case NalLabel::Sei: return u"SEI"_s;
    case NalLabel::Sps: return u"SPS"_s;
    case NalLabel::Pps: return u"PPS"_s;
    case NalLabel::I: return u"I"_s;
    case NalLabel::P: return u"P"_s;
    case NalLabel::None: break;
    }
    return {};
}

NalLabel nalLabelFromText(const QString& text)
{
    for (NalLabel label : {NalLabel::Sei, NalLabel::Sps, NalLabel::Pps, NalLabel::I, NalLabel::P})
        if (text == nalLabelText(label)) return label;
    return NalLabel::None;
}

} // namespace kestrune
