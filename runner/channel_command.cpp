#include "runner/channel_command.h"

#include "runner/command_path.h"
#include "runner/conventions.h"

using namespace Qt::StringLiterals;

namespace kestrune {

GilbertCommandResult gilbertCommand(int nalUnitCount, const QString& streamPath, const QString& lossRate,
                                    const QString& burstLength)
{
    if (nalUnitCount == 0) return {{}, u"Error: There is no NAL units in the input file:"_s + streamPath};
    if (!IsInteger(lossRate)) return {{}, u"Error: Please enter the Loss rate!"_s};
    if (!IsInteger(burstLength)) return {{}, u"Error: Please enter the average burst error length!"_s};
    return {u"Gilbert.exe "_s + lossRate + u' ' + burstLength + u' ' + QString::number(nalUnitCount)
                + u" gilbert.txt >gilout.txt 2>&1"_s,
            {}};
}

GilbertCommandResult seededGilbertCommand(int nalUnitCount, const QString& streamPath, const QString& lossRate,
                                          const QString& burstLength, quint32 seed)
{
    GilbertCommandResult result = gilbertCommand(nalUnitCount, streamPath, lossRate, burstLength);
    if (result.ok())
        result.command.replace(u" gilbert.txt >"_s, u" gilbert.txt "_s + QString::number(seed) + u" >"_s);
    return result;
}

QString applyLossCommand(const QString& streamPath, int nalUnitCount, const QString& outputPath)
{
    return u"h264_analyze.exe "_s + commandLinePath(streamPath) + u" 1 gilbert.txt "_s
        + QString::number(nalUnitCount - 1) + u' ' + commandLinePath(outputPath) + u" >analyze.txt 2>&1"_s;
}

QString droppedNalUnits(int nalUnitCount, const std::function<int()>& nextValue)
{
    // The last two NAL units are never listed: the analyzer never drops them.
    QString list;
    for (int k = 1; k <= nalUnitCount - 2; ++k)
        if (nextValue() == 0) list += QString::number(k) + u',';
    return list;
}

QString channelOutputNotWritten(const QString& outputPath, bool oldOutputExists)
{
    return u"The channel output ("_s + outputPath + u") was not written"_s
        + (oldOutputExists ? u"; the old file is unchanged."_s : u"."_s);
}

} // namespace kestrune
