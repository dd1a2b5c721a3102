#include "experiment/experiment_options.h"

#include "runner/conventions.h"
#include "runner/quality_report.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace kestrune::experiment {

const char* toolUsage()
{
    return "usage: kestrune-experiment --stream FILE.264 --original FILE.yuv [--size WxH]\n"
           "           --loss-rates R,... [--bursts B,...] [--pairs I:P,...] [--runs N] [--seed S]\n"
           "           [--channel gilbert|ge:P,R,K,H|trace:FILE ...] [--packets nal|rtp:MTU]\n"
           "           [--parameter-sets in-band|out-of-band]\n"
           "           --output DIR [--jobs N] [--tools DIR] [--shard K/N]\n"
           "       kestrune-experiment --settings DIR/experiment.txt --output DIR ...\n"
           "       kestrune-experiment --slurm N [--submit] [--time HH:MM:SS] [--partition P] ... --output DIR\n"
           "       kestrune-experiment merge DIR\n"
           "\n"
           "Repeated channel runs: for every loss rate (percent), mean burst length and\n"
           "concealment pair, N runs of loss pattern, apply loss, decode and quality\n"
           "against the original, through the workbench's tools and their command files.\n"
           "Repetition r of every setting uses seed S + r. Runs go in parallel (--jobs,\n"
           "default the number of cores), each in a folder of its own under DIR/work.\n"
           "\n"
           "  --size WxH        picture size of the original (default: WIDTHxHEIGHT in its name)\n"
           "  --loss-rates      Gilbert loss rates in percent, real numbers (0.5 is half a percent)\n"
           "  --bursts          mean burst lengths in packets, real numbers of at least 1 (default 2)\n"
           "  --channel C       the loss channel, repeated for several (default gilbert): gilbert\n"
           "                    runs every loss rate x burst length; ge:P,R,K,H is the\n"
           "                    Gilbert-Elliott model (P good->bad, R bad->good, K and H the\n"
           "                    probabilities of delivery in the good and the bad state, as\n"
           "                    netem's letters); trace:FILE a loss trace of 1 (received) and 0\n"
           "                    (lost), each run from an offset drawn from its seed\n"
           "  --packets         nal: one NAL unit per packet (default); rtp:MTU: RTP packets of\n"
           "                    at most MTU bytes, larger NAL units as FU-A fragments\n"
           "  --parameter-sets  in-band (default) or out-of-band: SPS and PPS never lost\n"
           "                    Other channels than gilbert, packets or parameter sets, and real\n"
           "                    rates or bursts run through kestrune-channel; the plot's x axis is\n"
           "                    each channel's nominal loss rate\n"
           "  --pairs I:P       concealment pairs: I 0 none, 1 average DC, 2 average MB,\n"
           "                    3 bilinear; P 0 none, 1 boundary matching (default 3:1)\n"
           "  --runs N          runs per setting (default 10)\n"
           "  --seed S          first seed (default 1)\n"
           "  --tools DIR       the folder of the four tools (default: this program's folder)\n"
           "  --shard K/N       run only the runs whose index is K modulo N, into\n"
           "                    DIR/runs-shard-K-of-N.csv; join the shards with merge\n"
           "  --slurm N         write DIR/experiment.sbatch: a job array of N shards and a\n"
           "                    merge job after them; --submit also submits it with sbatch\n"
           "  merge DIR         join the shard files of DIR and write what a local run writes\n"
           "\n"
           "Writes DIR/experiment.txt (the settings), DIR/runs.csv (one row per run),\n"
           "DIR/summary.csv (mean, standard deviation and 95 % confidence interval of\n"
           "Y-PSNR and SSIM per setting), DIR/plot.png and DIR/plot.svg. A failed run is\n"
           "a row with its error; SIGINT or SIGTERM stops and keeps the complete rows.\n";
}

namespace {

QStringList listValue(const QString& text) { return text.split(u',', Qt::SkipEmptyParts); }

} // namespace

QString parseToolOptions(const QStringList& arguments, ToolOptions& o)
{
    o.settings.burstLengths = {u"2"_s};
    o.settings.pairs = {ConcealmentPair{3, 1}};
    QString size;
    bool channelGiven = false;
    qsizetype i = 0;
    if (!arguments.isEmpty() && arguments[0] == u"merge"_s) {
        if (arguments.size() != 2) return u"merge takes one folder"_s;
        o.mode = ToolOptions::Merge;
        o.output = arguments[1];
        return {};
    }
    if (!arguments.isEmpty() && arguments[0] == u"run-one"_s) {
        o.mode = ToolOptions::RunOne;
        i = 1;
    }
    for (; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == u"--help"_s) {
            o.mode = ToolOptions::Help;
            return {};
        }
        if (a == u"--submit"_s) {
            o.submit = true;
            continue;
        }
        if (i + 1 >= arguments.size()) return a + u" needs a value"_s;
        const QString v = arguments[++i];
        bool ok = true;
        if (a == u"--stream"_s) o.settings.stream = v;
        else if (a == u"--original"_s) o.settings.original = v;
        else if (a == u"--size"_s) size = v;
        else if (a == u"--loss-rates"_s) o.settings.lossRates = listValue(v);
        else if (a == u"--bursts"_s) o.settings.burstLengths = listValue(v);
        else if (a == u"--channel"_s) {
            if (!channelGiven) o.settings.channels.clear();
            channelGiven = true;
            // A trace is read by every run, each in a folder of its own.
            o.settings.channels << (v.startsWith(u"trace:"_s) && v.size() > 6
                                        ? u"trace:"_s + QFileInfo(v.mid(6)).absoluteFilePath() : v);
        } else if (a == u"--packets"_s) o.settings.packets = v;
        else if (a == u"--parameter-sets"_s) o.settings.parameterSets = v;
        else if (a == u"--pairs"_s) {
            o.settings.pairs.clear();
            for (const QString& p : listValue(v)) {
                const auto pair = parseConcealmentPair(p);
                if (!pair) return u"--pairs: '"_s + p + u"' is not I:P with I 0..3 and P 0..1"_s;
                o.settings.pairs << *pair;
            }
        } else if (a == u"--runs"_s) o.settings.runs = v.toInt(&ok);
        else if (a == u"--seed"_s) o.settings.firstSeed = v.toUInt(&ok);
        else if (a == u"--output"_s) o.output = v;
        else if (a == u"--settings"_s) o.settingsFile = v;
        else if (a == u"--tools"_s) o.toolsDirectory = v;
        else if (a == u"--jobs"_s) ok = (o.jobs = v.toInt(&ok)) > 0 && ok;
        else if (a == u"--index"_s) ok = (o.index = v.toInt(&ok)) >= 0 && ok;
        else if (a == u"--shard"_s) ok = (o.shard = parseShard(v)).has_value();
        else if (a == u"--slurm"_s) ok = (o.slurmShards = v.toInt(&ok)) > 0 && ok;
        else if (a == u"--time"_s) o.timeLimit = v;
        else if (a == u"--partition"_s) o.partition = v;
        else return u"unknown option "_s + a;
        if (!ok) return a + u": '"_s + v + u"' is not valid"_s;
    }
    if (o.mode == ToolOptions::RunOne) {
        if (o.settingsFile.isEmpty() || o.index < 0) return u"run-one needs --settings and --index"_s;
        return {};
    }
    if (o.output.isEmpty()) return u"no output folder (--output DIR)"_s;
    if (o.shard && o.slurmShards > 0) return u"--shard and --slurm exclude each other"_s;
    if (!o.settingsFile.isEmpty()) return {};
    if (size.isEmpty()) {
        const auto fromName = pictureSizeFromName(o.settings.original);
        if (fromName) o.settings.width = fromName->width, o.settings.height = fromName->height;
    } else if (const auto given = pictureSizeFromName(size); given && size.count(u'x') == 1) {
        o.settings.width = given->width, o.settings.height = given->height;
    } else {
        return u"--size: '"_s + size + u"' is not WxH"_s;
    }
    return validate(o.settings);
}

} // namespace kestrune::experiment
