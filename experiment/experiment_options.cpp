#include "experiment/experiment_options.h"

#include "runner/conventions.h"
#include "runner/quality_report.h"

#include <QDir>
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
           "       kestrune-experiment --resume DIR [--jobs N] [--tools DIR] [--shard K/N | --slurm N ...]\n"
           "       kestrune-experiment --slurm N [--submit] [--time T] [--partition P] ... --output DIR\n"
           "       kestrune-experiment merge DIR\n"
           "\n"
           "Repeated channel runs: for every loss rate (percent), mean burst length and\n"
           "concealment pair, N runs of loss pattern, apply loss, decode and quality\n"
           "against the original, through the workbench's tools and their command files.\n"
           "Repetition r of every setting uses seed S + r. Runs go in parallel (--jobs,\n"
           "default the number of cores), each in a folder of its own under DIR/work.\n"
           "Before any run the inputs are checked once (the stream is H.264 and decodes\n"
           "to pictures of the original's size, the original holds all its frames) and\n"
           "the stream's NAL units are counted for every run.\n"
           "\n"
           "  --size WxH        picture size of the original (default: WIDTHxHEIGHT in its name)\n"
           "  --loss-rates      Gilbert loss rates in percent, real numbers 0..100 (0.5 is half a\n"
           "                    percent), each once; a rate must be reachable with every burst\n"
           "                    length B: at most 100*B/(B+1) (or 100)\n"
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
           "  --seed S          first seed (default 1); S + N - 1 must stay below 2147483648\n"
           "  --tools DIR       the folder of the four tools (default: this program's folder)\n"
           "  --shard K/N       run only the runs whose index is K modulo N, into\n"
           "                    DIR/runs-shard-K-of-N.csv; join the shards with merge\n"
           "  --resume DIR      continue the experiment of DIR: run only the runs without a\n"
           "                    complete row in DIR/runs.csv or its shard files\n"
           "  --slurm N         write DIR/experiment.sbatch: a job array of N shards and a\n"
           "                    merge job that runs after them however they end; --submit\n"
           "                    also submits it with sbatch. --time takes Slurm's forms\n"
           "                    (MM, MM:SS, HH:MM:SS, D-HH, D-HH:MM, D-HH:MM:SS)\n"
           "  merge DIR         join the shard files of DIR and write what a local run\n"
           "                    writes, from the rows there are; names the missing runs\n"
           "\n"
           "Writes DIR/experiment.txt (the settings and nal_units, the stream's NAL unit\n"
           "count), DIR/runs.csv (a row per run, appended as each run ends, in plan order\n"
           "at the end), DIR/summary.csv, DIR/differences.csv, DIR/plot.png and\n"
           "DIR/plot.svg. A failed run is a row with its error; SIGINT or SIGTERM stops\n"
           "and keeps the rows of the runs that ended.\n"
           "\n"
           "runs.csv columns (a row per run; failed runs leave the measured ones empty):\n"
           "  run                  index in plan order (setting, pair, repetition)\n"
           "  loss_rate            the Gilbert loss rate (%); empty for other channels\n"
           "  burst_length         the Gilbert mean burst length (packets); empty likewise\n"
           "  i_concealment, p_concealment, concealment\n"
           "                       the pair: I 0..3, P 0..1 and their names\n"
           "  repetition, seed     repetition r (0..N-1) and its seed S + r\n"
           "  status               ok or failed\n"
           "  nal_units            NAL units in the stream\n"
           "  nal_units_dropped    NAL units the channel lost\n"
           "  realised_loss_rate   % of the stream's NAL units lost\n"
           "  realised_burst_length  mean run of consecutive lost NAL units\n"
           "  frames               decoded frames compared with the original\n"
           "  frames_with_loss     frames the decoder reported a lost macroblock in\n"
           "  psnr_y, psnr_u, psnr_v  dB, mean over the frames; a plane identical to the\n"
           "                       original's counts 100 dB\n"
           "  ssim_y               mean over the frames of the luma SSIM (8x8 windows every\n"
           "                       4 samples), -1..1\n"
           "  error                why the run failed (step: reason)\n"
           "  channel              gilbert, ge:P,R,K,H or trace:FILE\n"
           "  nominal_loss_rate    % the channel loses in the long run: the Gilbert rate,\n"
           "                       Gilbert-Elliott's stationary loss, a trace's share of 0s\n"
           "  packets              packets sent (NAL units, or RTP packets with --packets rtp)\n"
           "  realised_packet_loss_rate     % of the packets lost\n"
           "  realised_packet_burst_length  mean run of consecutive lost packets\n"
           "  alignment            exact (each decoded frame compared with its own original\n"
           "                       frame), guessed (the decoder guessed where a picture\n"
           "                       belongs), frame-count (the decoded frame count differs from\n"
           "                       the original's), guessed+frame-count\n"
           "  mos                  mean opinion score, 1..5, mean over the frames; a frame\n"
           "                       scores by its Y-PSNR: above 37 dB 5, 31 to 37 dB 4, 25 to\n"
           "                       31 dB 3, 20 to 25 dB 2, below 20 dB 1; a boundary takes the\n"
           "                       higher score, except 37 dB exactly, which scores 4\n"
           "  mos_below_lossless   share (0..1) of the frames scoring below the same frame of\n"
           "                       the stream decoded without loss (scored once, before the\n"
           "                       runs, into experiment.txt's lossless_scores)\n"
           "Files of older versions end after error, after the packet columns or after\n"
           "alignment; they are still read (resume, merge), their rows without a score.\n"
           "\n"
           "summary.csv columns (a row per setting and pair): loss_rate (%; another\n"
           "channel's nominal one), burst_length, i_concealment, p_concealment,\n"
           "concealment, runs (ok runs), failed (failed runs), then mean, sd, ci95_low,\n"
           "ci95_high of psnr_y (dB) and ssim_y, channel, runs_not_exactly_aligned (ok runs\n"
           "whose alignment is not exact), then mean, sd, ci95_low, ci95_high of mos and of\n"
           "mos_below_lossless (over the ok runs that have them). Intervals: Student t\n"
           "with n - 1 degrees of freedom, 95 %, clipped to 0..100 dB, -1..1, 1..5 and 0..1.\n"
           "differences.csv: per setting and two pairs A and B, the paired difference\n"
           "A - B of psnr_y and ssim_y over the repetitions both completed: pairs_of_runs,\n"
           "mean, sd and 95 % interval.\n"
           "\n"
           "The last line: \"done: C of T runs complete, F failed (commonest reasons)\";\n"
           "complete runs are those with a result, and T counts every run of the\n"
           "experiment (or shard), the rows of a resumed one included, as do the lines\n"
           "\"progress ENDED/T\".\n"
           "\n"
           "Exit status: 0 every run ok; 1 nothing run (bad arguments or inputs, or the\n"
           "results could not be written); 3 cancelled (rows of ended runs kept); 4 every run\n"
           "ended, some failed; 5 merge with runs missing (results from the others).\n";
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
        else if (a == u"--resume"_s) o.resume = true, o.output = v;
        else if (a == u"--tools"_s) o.toolsDirectory = v;
        else if (a == u"--jobs"_s) ok = (o.jobs = v.toInt(&ok)) > 0 && ok;
        else if (a == u"--index"_s) ok = (o.index = v.toInt(&ok)) >= 0 && ok;
        else if (a == u"--shard"_s) ok = (o.shard = parseShard(v)).has_value();
        else if (a == u"--slurm"_s) ok = (o.slurmShards = v.toInt(&ok)) > 0 && ok;
        else if (a == u"--time"_s) {
            if (const QString problem = slurmTimeLimitProblem(o.timeLimit = v); !problem.isEmpty())
                return u"--time: "_s + problem;
        }
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
    if (o.resume) {
        if (!o.settingsFile.isEmpty()) return u"--resume DIR takes the settings from DIR/experiment.txt"_s;
        o.settingsFile = QDir(o.output).filePath(u"experiment.txt"_s);
        return {};
    }
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
