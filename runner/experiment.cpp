#include "runner/experiment.h"

#include "runner/conventions.h"
#include "tools/gilbert/gilbert_model.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <numeric>
#include <string>

using namespace Qt::StringLiterals;

namespace kestrune::experiment {
namespace {

QString csvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r')) return text;
    QString quoted = text;
    quoted.replace(u'\r', u' ').replace(u'\n', u' ');
    return u'"' + quoted.replace(u"\""_s, u"\"\""_s) + u'"';
}

QStringList splitCsvLine(const QString& line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == u'"' && i + 1 < line.size() && line[i + 1] == u'"') field += c, ++i;
            else if (c == u'"') quoted = false;
            else field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

QString fixed(double value, int decimals) { return QString::number(value, 'f', decimals); }

QString settingKey(const QString& channel, const QString& lossRate, const QString& burst, ConcealmentPair pair)
{
    return channel + u'|' + lossRate + u'|' + burst + u'|' + concealmentPairText(pair);
}

// The columns of runs.csv: the first ones, those of the packet channels
// after them, the alignment, and the opinion scores (older files end before
// each of these).
constexpr int kFirstColumns = 20;
constexpr int kChannelColumns = 25;
constexpr int kAlignedColumns = 26;
constexpr int kColumns = 28;

std::optional<double> realNumber(const QString& text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

// Why a channel of the plan cannot run, or the empty text.
QString channelProblem(const QString& channel)
{
    if (channel == u"gilbert"_s) return {};
    if (channel.startsWith(u"trace:"_s) && channel.size() > 6)
        return channel.contains(u';') ? u"a trace file name may not hold ';'"_s : QString();
    if (channel.startsWith(u"ge:"_s)) {
        const QStringList values = channel.mid(3).split(u',');
        if (values.size() != 4) return u"'"_s + channel + u"' is not ge:P,R,K,H"_s;
        for (const QString& v : values)
            if (const auto x = realNumber(v); !x || *x < 0 || *x > 1)
                return u"Gilbert-Elliott parameter '"_s + v + u"' is not a number in [0,1]"_s;
        return {};
    }
    return u"channel '"_s + channel + u"' is not gilbert, ge:P,R,K,H or trace:FILE"_s;
}

QString packetsProblem(const QString& packets)
{
    if (packets == u"nal"_s) return {};
    bool ok = false;
    if (packets.startsWith(u"rtp:"_s) && packets.mid(4).toInt(&ok) >= 15 && ok) return {};
    return u"packets '"_s + packets + u"' is neither nal nor rtp:MTU with an MTU of at least 15"_s;
}

// The first value given twice, or the empty text.
QString repeated(const QStringList& values)
{
    QSet<QString> seen;
    for (const QString& v : values)
        if (seen.contains(v)) return v;
        else seen.insert(v);
    return {};
}

// The first number given twice, however written ("5" and "5.0"), or the empty text.
QString repeatedNumber(const QStringList& values)
{
    QSet<double> seen;
    for (const QString& v : values) {
        const auto x = realNumber(v);
        if (!x) continue;
        if (seen.contains(*x)) return v;
        seen.insert(*x);
    }
    return {};
}

} // namespace

QString validate(const Settings& s)
{
    if (s.stream.isEmpty()) return u"no encoded stream given"_s;
    if (s.original.isEmpty()) return u"no original YUV file given"_s;
    if (s.width <= 0 || s.height <= 0) return u"the picture size of the original is missing"_s;
    if (s.width % 2 || s.height % 2) return u"the picture size %1x%2 is not even (4:2:0 needs it)"_s.arg(s.width).arg(s.height);
    if (s.channels.isEmpty()) return u"no channel given"_s;
    for (const QString& c : s.channels)
        if (const QString problem = channelProblem(c); !problem.isEmpty()) return problem;
    // A value given twice would pool its runs with the other's under one setting.
    if (const QString c = repeated(s.channels); !c.isEmpty()) return u"channel "_s + c + u" is given twice"_s;
    if (const QString problem = packetsProblem(s.packets); !problem.isEmpty()) return problem;
    if (s.parameterSets != u"in-band"_s && s.parameterSets != u"out-of-band"_s)
        return u"parameter sets '"_s + s.parameterSets + u"' are neither in-band nor out-of-band"_s;
    if (s.channels.contains(u"gilbert"_s)) {
        if (s.lossRates.isEmpty()) return u"no loss rate given"_s;
        if (s.burstLengths.isEmpty()) return u"no burst length given"_s;
        for (const QString& r : s.lossRates)
            if (const auto x = realNumber(r); !x || *x < 0 || *x > 100) return u"loss rate '"_s + r + u"' is not 0..100"_s;
        for (const QString& b : s.burstLengths)
            if (const auto x = realNumber(b); !x || *x < 1) return u"burst length '"_s + b + u"' is not a number of at least 1"_s;
        if (const QString r = repeatedNumber(s.lossRates); !r.isEmpty()) return u"loss rate "_s + r + u" is given twice"_s;
        if (const QString b = repeatedNumber(s.burstLengths); !b.isEmpty()) return u"burst length "_s + b + u" is given twice"_s;
        for (const QString& r : s.lossRates)
            for (const QString& b : s.burstLengths) {
                std::string why;
                // In integers the message names a whole percentage, as gilbert.exe's does.
                const bool integers = IsInteger(r) && IsInteger(b);
                if (integers ? !gilbert::makeModel(StrToInt(r), StrToInt(b), why)
                             : !gilbert::makeRealModel(r.toDouble(), b.toDouble(), why))
                    return QString::fromStdString(why);
            }
    }
    QStringList pairs;
    for (const ConcealmentPair& p : s.pairs) pairs << concealmentPairText(p);
    if (const QString p = repeated(pairs); !p.isEmpty()) return u"concealment pair "_s + p + u" is given twice"_s;
    if (s.pairs.isEmpty()) return u"no concealment pair given"_s;
    if (s.runs < 1) return u"runs per setting must be at least 1"_s;
    const qint64 settings = s.channels.contains(u"gilbert"_s) ? qint64(s.lossRates.size()) * s.burstLengths.size() : 0;
    if ((settings + s.channels.size()) * s.pairs.size() * s.runs > 10'000'000) return u"too many runs"_s;
    if (quint64(s.firstSeed) + quint64(s.runs) - 1 >= kSeedLimit)
        return u"the seeds %1..%2 reach %3: gilbert.exe takes seeds below %3"_s.arg(s.firstSeed)
            .arg(quint64(s.firstSeed) + quint64(s.runs) - 1)
            .arg(kSeedLimit);
    if (s.nalUnits < 0) return u"bad NAL unit count"_s;
    for (const QChar c : s.losslessScores)
        if (c < u'1' || c > u'5') return u"lossless scores are not digits 1 to 5"_s;
    return {};
}

bool sameExperiment(Settings a, Settings b)
{
    a.nalUnits = b.nalUnits = 0;
    a.losslessScores = b.losslessScores = QString();
    return a == b;
}

QString settingsText(const Settings& s)
{
    QStringList pairs;
    for (const ConcealmentPair& p : s.pairs) pairs << concealmentPairText(p);
    return u"stream="_s + s.stream + u"\noriginal="_s + s.original + u"\nwidth="_s + QString::number(s.width)
        + u"\nheight="_s + QString::number(s.height) + u"\nloss_rates="_s + s.lossRates.join(u',')
        + u"\nburst_lengths="_s + s.burstLengths.join(u',') + u"\npairs="_s + pairs.join(u',') + u"\nruns="_s
        + QString::number(s.runs) + u"\nfirst_seed="_s + QString::number(s.firstSeed) + u'\n'
        + (s.nalUnits > 0 ? u"nal_units="_s + QString::number(s.nalUnits) + u'\n' : QString()) + u"channels="_s
        + s.channels.join(u';') + u"\npackets="_s + s.packets + u"\nparameter_sets="_s + s.parameterSets + u'\n'
        + (s.losslessScores.isEmpty() ? QString() : u"lossless_scores="_s + s.losslessScores + u'\n');
}

std::optional<Settings> parseSettingsText(const QString& text, QString* error)
{
    QMap<QString, QString> values;
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r')) line.chop(1);
        if (line.isEmpty()) continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) {
            *error = u"not a key=value line: "_s + line;
            return std::nullopt;
        }
        values.insert(line.left(eq), line.mid(eq + 1));
    }
    for (const char16_t* key : {u"stream", u"original", u"width", u"height", u"loss_rates", u"burst_lengths", u"pairs",
                                u"runs", u"first_seed"})
        if (!values.contains(QString::fromUtf16(key))) {
            *error = u"missing "_s + QString::fromUtf16(key);
            return std::nullopt;
        }
    Settings s;
    s.stream = values[u"stream"_s];
    s.original = values[u"original"_s];
    s.width = values[u"width"_s].toInt();
    s.height = values[u"height"_s].toInt();
    s.lossRates = values[u"loss_rates"_s].split(u',', Qt::SkipEmptyParts);
    s.burstLengths = values[u"burst_lengths"_s].split(u',', Qt::SkipEmptyParts);
    for (const QString& p : values[u"pairs"_s].split(u',', Qt::SkipEmptyParts)) {
        const auto pair = parseConcealmentPair(p);
        if (!pair) {
            *error = u"bad concealment pair: "_s + p;
            return std::nullopt;
        }
        s.pairs << *pair;
    }
    s.runs = values[u"runs"_s].toInt();
    bool seedOk = false;
    s.firstSeed = values[u"first_seed"_s].toUInt(&seedOk);
    if (!seedOk) {
        *error = u"bad first_seed"_s;
        return std::nullopt;
    }
    if (values.contains(u"nal_units"_s)) {
        bool countOk = false;
        s.nalUnits = values[u"nal_units"_s].toInt(&countOk);
        if (!countOk || s.nalUnits <= 0) {
            *error = u"bad nal_units"_s;
            return std::nullopt;
        }
    }
    // Files of experiments from before the packet channels lack these.
    if (values.contains(u"channels"_s)) s.channels = values[u"channels"_s].split(u';', Qt::SkipEmptyParts);
    if (values.contains(u"packets"_s)) s.packets = values[u"packets"_s];
    if (values.contains(u"parameter_sets"_s)) s.parameterSets = values[u"parameter_sets"_s];
    s.losslessScores = values.value(u"lossless_scores"_s);
    if (const QString reason = validate(s); !reason.isEmpty()) {
        *error = reason;
        return std::nullopt;
    }
    return s;
}

QList<ChannelSetting> channelSettings(const Settings& s)
{
    QList<ChannelSetting> settings;
    for (const QString& channel : s.channels) {
        if (channel != u"gilbert"_s) {
            settings << ChannelSetting{channel, {}, {}};
            continue;
        }
        for (const QString& rate : s.lossRates)
            for (const QString& burst : s.burstLengths) settings << ChannelSetting{channel, rate, burst};
    }
    return settings;
}

bool needsChannelTool(const Settings& s, const ChannelSetting& c)
{
    return c.channel != u"gilbert"_s || s.packets != u"nal"_s || s.parameterSets != u"in-band"_s
        || !IsInteger(c.lossRate) || !IsInteger(c.burstLength);
}

int runCount(const Settings& s) { return int(channelSettings(s).size() * s.pairs.size()) * s.runs; }

PlannedRun plannedRun(const Settings& s, int index)
{
    PlannedRun planned;
    planned.index = index;
    planned.repetition = index % s.runs;
    int rest = index / s.runs;
    planned.pair = s.pairs[rest % s.pairs.size()];
    rest /= int(s.pairs.size());
    const ChannelSetting setting = channelSettings(s)[rest];
    planned.channel = setting.channel;
    planned.lossRate = setting.lossRate;
    planned.burstLength = setting.burstLength;
    planned.seed = s.firstSeed + quint32(planned.repetition);
    return planned;
}

std::optional<Shard> parseShard(const QString& text)
{
    const QStringList parts = text.split(u'/');
    if (parts.size() != 2) return std::nullopt;
    bool okK = false, okN = false;
    const Shard shard{parts[0].toInt(&okK), parts[1].toInt(&okN)};
    if (!okK || !okN || shard.count < 1 || shard.index < 0 || shard.index >= shard.count) return std::nullopt;
    return shard;
}

QList<int> shardRuns(const Settings& s, Shard shard)
{
    QList<int> runs;
    for (int i = shard.index; i < runCount(s); i += shard.count) runs << i;
    return runs;
}

QString shardFileName(Shard shard)
{
    return u"runs-shard-%1-of-%2.csv"_s.arg(shard.index).arg(shard.count);
}

QString runsHeader()
{
    return u"run,loss_rate,burst_length,i_concealment,p_concealment,concealment,repetition,seed,status,nal_units,"
           u"nal_units_dropped,realised_loss_rate,realised_burst_length,frames,frames_with_loss,psnr_y,psnr_u,psnr_v,"
           u"ssim_y,error,channel,nominal_loss_rate,packets,realised_packet_loss_rate,realised_packet_burst_length,"
           u"alignment,mos,mos_below_lossless"_s;
}

QString alignmentText(const RunResult& r)
{
    if (!r.ok) return {};
    if (r.placementGuessed && r.frameCountDiffers) return u"guessed+frame-count"_s;
    if (r.placementGuessed) return u"guessed"_s;
    return r.frameCountDiffers ? u"frame-count"_s : u"exact"_s;
}

QString runRow(const PlannedRun& planned, const RunResult& r)
{
    QStringList f;
    f << QString::number(planned.index) << planned.lossRate << planned.burstLength << QString::number(planned.pair.iItem)
      << QString::number(planned.pair.pItem) << concealmentPairLabel(planned.pair) << QString::number(planned.repetition)
      << QString::number(planned.seed) << (r.ok ? u"ok"_s : u"failed"_s);
    if (r.ok) {
        f << QString::number(r.nalUnits) << QString::number(r.dropped) << fixed(r.realisedLossRate, 3)
          << fixed(r.realisedBurstLength, 3) << QString::number(r.frames) << QString::number(r.framesWithLoss)
          << fixed(r.psnrY, 4) << fixed(r.psnrU, 4) << fixed(r.psnrV, 4) << fixed(r.ssimY, 6) << QString()
          << csvField(planned.channel) << fixed(r.nominalLossRate, 4) << QString::number(r.packets)
          << fixed(r.packetLossRate, 3) << fixed(r.packetBurstLength, 3);
    } else {
        for (int i = 0; i < 10; ++i) f << QString();
        f << csvField(r.error) << csvField(planned.channel);
        for (int i = 0; i < 4; ++i) f << QString();
    }
    f << alignmentText(r);
    if (r.ok) f << fixed(r.mos, 4) << (r.mosBelowLossless ? fixed(*r.mosBelowLossless, 4) : QString());
    else f << QString() << QString();
    return f.join(u',');
}

std::optional<ParsedRow> parseRunRow(const QString& line)
{
    const QStringList f = splitCsvLine(line);
    if (f.size() != kColumns && f.size() != kAlignedColumns && f.size() != kChannelColumns && f.size() != kFirstColumns)
        return std::nullopt;
    const bool channelColumns = f.size() >= kChannelColumns;
    const QString channel = channelColumns ? f[20] : u"gilbert"_s;
    ParsedRow row;
    bool ok = false;
    row.index = f[0].toInt(&ok);
    if (!ok || row.index < 0) return std::nullopt;
    const auto pair = parseConcealmentPair(f[3] + u':' + f[4]);
    if (!pair || (f[8] != u"ok"_s && f[8] != u"failed"_s)) return std::nullopt;
    row.settingKey = settingKey(channel, f[1], f[2], *pair);
    row.repetition = f[6].toInt();
    row.ok = f[8] == u"ok"_s;
    row.error = f[19];
    row.nominalLossRate = (channelColumns && !f[21].isEmpty() ? f[21] : f[1]).toDouble();
    row.misaligned = row.ok && f.size() >= kAlignedColumns && f[25] != u"exact"_s;
    if (row.ok) {
        bool okY = false, okS = false;
        row.psnrY = f[15].toDouble(&okY);
        row.ssimY = f[18].toDouble(&okS);
        if (!okY || !okS) return std::nullopt;
        if (f.size() == kColumns) {
            row.mos = realNumber(f[26]);
            if (!row.mos) return std::nullopt;
            if (!f[27].isEmpty() && !(row.mosBelowLossless = realNumber(f[27]))) return std::nullopt;
        }
    }
    return row;
}

double studentT975(int df)
{
    if (df < 1) return std::nan("");
    return boost::math::quantile(boost::math::students_t(double(df)), 0.975);
}

Statistics statistics(const QList<double>& values, double lowest, double highest)
{
    Statistics s;
    s.count = int(values.size());
    if (values.isEmpty()) return s;
    s.mean = std::accumulate(values.begin(), values.end(), 0.0) / s.count;
    if (s.count < 2) return s;
    double squares = 0;
    for (double v : values) squares += (v - s.mean) * (v - s.mean);
    s.sd = std::sqrt(squares / (s.count - 1));
    const double half = studentT975(s.count - 1) * *s.sd / std::sqrt(double(s.count));
    s.low = std::max(lowest, s.mean - half);
    s.high = std::min(highest, s.mean + half);
    return s;
}

namespace {

struct SettingValues {
    QList<double> psnrY, ssimY;
    QList<double> mos, mosBelowLossless;  // of the good runs that have them
    int failed = 0;
    int misaligned = 0;
    std::optional<double> nominalLossRate;  // from the first good run
};

QMap<QString, SettingValues> valuesBySetting(const QStringList& rows)
{
    QMap<QString, SettingValues> values;
    for (const QString& line : rows) {
        const auto row = parseRunRow(line);
        if (!row) continue;
        SettingValues& v = values[row->settingKey];
        if (!row->ok) {
            ++v.failed;
            continue;
        }
        v.psnrY << row->psnrY;
        v.ssimY << row->ssimY;
        if (row->mos) v.mos << *row->mos;
        if (row->mosBelowLossless) v.mosBelowLossless << *row->mosBelowLossless;
        v.misaligned += row->misaligned;
        if (!v.nominalLossRate) v.nominalLossRate = row->nominalLossRate;
    }
    return values;
}

QString optionalFixed(const std::optional<double>& value, int decimals)
{
    return value ? fixed(*value, decimals) : QString();
}

// The loss rate a setting is shown at: a Gilbert channel's as given, another
// channel's nominal one as its runs measured it.
QString settingRate(const ChannelSetting& c, const SettingValues& v)
{
    return c.channel == u"gilbert"_s || !v.nominalLossRate ? c.lossRate : fixed(*v.nominalLossRate, 4);
}

// mean, sd, ci95_low, ci95_high; empty fields where there is no value.
QStringList statisticsFields(const Statistics& st, int decimals)
{
    if (st.count == 0) return {QString(), QString(), QString(), QString()};
    return {fixed(st.mean, decimals), optionalFixed(st.sd, decimals), optionalFixed(st.low, decimals),
            optionalFixed(st.high, decimals)};
}

} // namespace

QList<PairedDifference> pairedDifferences(const Settings& s, const QStringList& rows)
{
    // Good runs by setting and repetition.
    QMap<QString, QMap<int, ParsedRow>> good;
    for (const QString& line : rows)
        if (const auto row = parseRunRow(line); row && row->ok) good[row->settingKey].insert(row->repetition, *row);
    const auto values = valuesBySetting(rows);
    QList<PairedDifference> differences;
    for (const ChannelSetting& c : channelSettings(s))
        for (qsizetype i = 0; i < s.pairs.size(); ++i)
            for (qsizetype j = i + 1; j < s.pairs.size(); ++j) {
                const QString keyA = settingKey(c.channel, c.lossRate, c.burstLength, s.pairs[i]);
                const auto a = good.value(keyA);
                const auto b = good.value(settingKey(c.channel, c.lossRate, c.burstLength, s.pairs[j]));
                QList<double> psnr, ssim;
                for (auto it = a.cbegin(); it != a.cend(); ++it)
                    if (const auto other = b.find(it.key()); other != b.cend()) {
                        psnr << it->psnrY - other->psnrY;
                        ssim << it->ssimY - other->ssimY;
                    }
                differences << PairedDifference{c.channel, settingRate(c, values.value(keyA)), c.burstLength,
                                                s.pairs[i], s.pairs[j],
                                                statistics(psnr, kPsnrLowest - kPsnrHighest, kPsnrHighest - kPsnrLowest),
                                                statistics(ssim, kSsimLowest - kSsimHighest, kSsimHighest - kSsimLowest)};
            }
    return differences;
}

QString differencesCsv(const Settings& s, const QStringList& rows)
{
    QString text = u"loss_rate,burst_length,a_i_concealment,a_p_concealment,a_concealment,b_i_concealment,"
                   u"b_p_concealment,b_concealment,pairs_of_runs,psnr_y_diff_mean,psnr_y_diff_sd,psnr_y_diff_ci95_low,"
                   u"psnr_y_diff_ci95_high,ssim_y_diff_mean,ssim_y_diff_sd,ssim_y_diff_ci95_low,ssim_y_diff_ci95_high,"
                   u"channel\r\n"_s;
    for (const PairedDifference& d : pairedDifferences(s, rows)) {
        const QStringList f{d.lossRate, d.burstLength, QString::number(d.a.iItem), QString::number(d.a.pItem),
                      concealmentPairLabel(d.a), QString::number(d.b.iItem), QString::number(d.b.pItem),
                      concealmentPairLabel(d.b), QString::number(d.psnrY.count)};
        text += (f + statisticsFields(d.psnrY, 4) + statisticsFields(d.ssimY, 6)).join(u',') + u',' + csvField(d.channel)
            + u"\r\n"_s;
    }
    return text;
}

QString summaryCsv(const Settings& s, const QStringList& rows)
{
    const auto values = valuesBySetting(rows);
    QString text = u"loss_rate,burst_length,i_concealment,p_concealment,concealment,runs,failed,psnr_y_mean,psnr_y_sd,"
                   u"psnr_y_ci95_low,psnr_y_ci95_high,ssim_y_mean,ssim_y_sd,ssim_y_ci95_low,ssim_y_ci95_high,channel,"
                   u"runs_not_exactly_aligned,mos_mean,mos_sd,mos_ci95_low,mos_ci95_high,mos_below_lossless_mean,"
                   u"mos_below_lossless_sd,mos_below_lossless_ci95_low,mos_below_lossless_ci95_high\r\n"_s;
    for (const ChannelSetting& c : channelSettings(s))
        for (const ConcealmentPair& pair : s.pairs) {
            const SettingValues v = values.value(settingKey(c.channel, c.lossRate, c.burstLength, pair));
            const Statistics p = statistics(v.psnrY, kPsnrLowest, kPsnrHighest);
            const Statistics q = statistics(v.ssimY, kSsimLowest, kSsimHighest);
            const QStringList f{settingRate(c, v), c.burstLength, QString::number(pair.iItem), QString::number(pair.pItem),
                                concealmentPairLabel(pair), QString::number(p.count), QString::number(v.failed)};
            const QStringList scores = statisticsFields(statistics(v.mos, kMosLowest, kMosHighest), 4)
                + statisticsFields(statistics(v.mosBelowLossless, kShareLowest, kShareHighest), 4);
            text += (f + statisticsFields(p, 4) + statisticsFields(q, 6)).join(u',') + u',' + csvField(c.channel)
                + u',' + QString::number(v.misaligned) + u',' + scores.join(u',') + u"\r\n"_s;
        }
    return text;
}

std::optional<QMap<int, QString>> completeRows(const Settings& s, const QStringList& texts, QString* error,
                                               int* skipped)
{
    const int count = runCount(s);
    QMap<int, QString> rows;
    QList<int> outside, conflicting;
    if (skipped) *skipped = 0;
    for (const QString& text : texts) {
        for (QString line : text.split(u'\n')) {
            if (line.endsWith(u'\r')) line.chop(1);
            if (line.isEmpty() || line == runsHeader()) continue;
            const auto row = parseRunRow(line);
            if (!row) {
                if (skipped) ++*skipped;
                continue;
            }
            if (row->index >= count) outside << row->index;
            else if (!rows.contains(row->index)) rows.insert(row->index, line);
            else if (rows[row->index] != line) conflicting << row->index;
        }
    }
    QStringList problems;
    if (!conflicting.isEmpty()) problems << u"runs given twice with different results: "_s + runList(conflicting);
    if (!outside.isEmpty()) problems << u"runs outside this experiment: "_s + runList(outside);
    if (!problems.isEmpty()) {
        *error = problems.join(u"; "_s);
        return std::nullopt;
    }
    return rows;
}

std::optional<QStringList> mergeRows(const Settings& s, const QStringList& shardTexts, QString* error,
                                     QList<int>* missing)
{
    const auto rows = completeRows(s, shardTexts, error);
    if (!rows) return std::nullopt;
    if (missing) {
        missing->clear();
        for (int i = 0; i < runCount(s); ++i)
            if (!rows->contains(i)) *missing << i;
    }
    return rows->values();
}

QString runList(const QList<int>& runs, int shown)
{
    QStringList numbers;
    for (qsizetype i = 0; i < runs.size() && i < shown; ++i) numbers << QString::number(runs[i]);
    if (runs.size() > shown) numbers << u"and %1 more"_s.arg(runs.size() - shown);
    return numbers.join(u' ');
}

Failures failures(const QStringList& rows, int reasons)
{
    QMap<QString, int> byReason;
    int failed = 0;
    for (const QString& line : rows)
        if (const auto row = parseRunRow(line); row && !row->ok) {
            ++failed;
            ++byReason[row->error.isEmpty() ? u"no reason given"_s : row->error];
        }
    if (failed == 0) return {0, u"0 failed"_s};
    QList<std::pair<int, QString>> ranked;
    for (auto it = byReason.cbegin(); it != byReason.cend(); ++it) ranked.append({-it.value(), it.key()});
    std::sort(ranked.begin(), ranked.end());
    QStringList parts;
    for (qsizetype i = 0; i < ranked.size() && i < reasons; ++i)
        parts << ranked[i].second + u" x"_s + QString::number(-ranked[i].first);
    if (ranked.size() > reasons) parts << u"%1 other reasons"_s.arg(ranked.size() - reasons);
    return {failed, u"%1 failed ("_s.arg(failed) + parts.join(u"; "_s) + u')'};
}

QString outcomeText(const QStringList& rows, int total)
{
    int good = 0;
    for (const QString& line : rows)
        if (const auto row = parseRunRow(line); row && row->ok) ++good;
    const Failures failed = failures(rows);
    QString text = u"%1 of %2 runs complete, "_s.arg(good).arg(total) + failed.text;
    if (const int notRun = total - good - failed.count; notRun > 0) text += u", %1 not run"_s.arg(notRun);
    return text;
}

QString runsCsv(const QStringList& rows)
{
    QString text = runsHeader() + u"\r\n"_s;
    for (const QString& row : rows) text += row + u"\r\n"_s;
    return text;
}

namespace {

PlotPoint plotPoint(double x, const QList<double>& psnr, int asked)
{
    const Statistics st = statistics(psnr, kPsnrLowest, kPsnrHighest);
    return {x, st.mean, st.low.value_or(st.mean), st.high.value_or(st.mean), st.count, asked};
}

} // namespace

QList<PlotSeries> plotSeries(const Settings& s, const QStringList& rows)
{
    const auto values = valuesBySetting(rows);
    const bool onlyGilbert = s.channels == QStringList{u"gilbert"_s};
    // One series per pair and Gilbert burst length, and per pair and kind of
    // the other channels; each point at its channel's nominal loss rate.
    QList<PlotSeries> series;
    for (qsizetype p = 0; p < s.pairs.size(); ++p) {
        const ConcealmentPair& pair = s.pairs[p];
        QMap<QString, PlotSeries> lines;
        QStringList order;
        for (const ChannelSetting& c : channelSettings(s)) {
            const QString kind = c.channel.section(u':', 0, 0);
            QString label = concealmentPairLabel(pair);
            if (!onlyGilbert) label += kind == u"ge"_s ? u", Gilbert-Elliott"_s : kind == u"trace"_s ? u", traces"_s : u", Gilbert"_s;
            if (kind == u"gilbert"_s && s.burstLengths.size() > 1) label += u", burst "_s + c.burstLength;
            if (!lines.contains(label)) order << label;
            PlotSeries& line = lines[label];
            line.label = label;
            line.colour = int(p);
            line.dash = int(order.indexOf(label));
            const SettingValues v = values.value(settingKey(c.channel, c.lossRate, c.burstLength, pair));
            if (v.psnrY.isEmpty()) continue;
            const double x = kind == u"gilbert"_s ? c.lossRate.toDouble() : v.nominalLossRate.value_or(0);
            line.points << plotPoint(x, v.psnrY, s.runs);
        }
        for (const QString& label : order) {
            PlotSeries line = lines[label];
            std::sort(line.points.begin(), line.points.end(),
                      [](const PlotPoint& x, const PlotPoint& y) { return x.x < y.x; });
            series << line;
        }
    }
    return series;
}

QList<PlotSeries> burstPlotSeries(const Settings& s, const QStringList& rows)
{
    if (s.burstLengths.size() < 2 || !s.channels.contains(u"gilbert"_s)) return {};
    const auto values = valuesBySetting(rows);
    QList<PlotSeries> series;
    for (qsizetype p = 0; p < s.pairs.size(); ++p)
        for (qsizetype r = 0; r < s.lossRates.size(); ++r) {
            PlotSeries line{concealmentPairLabel(s.pairs[p]), int(p), int(r), {}};
            if (s.lossRates.size() > 1) line.label += u", "_s + s.lossRates[r] + u" %"_s;
            for (const QString& burst : s.burstLengths)
                if (const auto& v = values.value(settingKey(u"gilbert"_s, s.lossRates[r], burst, s.pairs[p]));
                    !v.psnrY.isEmpty())
                    line.points << plotPoint(burst.toDouble(), v.psnrY, s.runs);
            std::sort(line.points.begin(), line.points.end(),
                      [](const PlotPoint& x, const PlotPoint& y) { return x.x < y.x; });
            series << line;
        }
    return series;
}

} // namespace kestrune::experiment

namespace kestrune::experiment {
namespace {

// Single quotes for the shell; a quote inside becomes '\''.
QString shellQuoted(QString text) { return u'\'' + text.replace(u"'"_s, u"'\\''"_s) + u'\''; }

// The value of an #SBATCH option: sbatch splits a directive at blanks unless
// it is in double quotes, a quote inside escaped with a backslash.
QString directiveValue(QString text) { return u'"' + text.replace(u"\""_s, u"\\\""_s) + u'"'; }

// In an output file name Slurm replaces %a and the like; "%%" stands for "%".
QString outputFileName(QString folder, const QString& pattern)
{
    return directiveValue(folder.replace(u"%"_s, u"%%"_s) + u'/' + pattern);
}

QString slurmHeader(const SlurmJob& job, const QString& name, int cpus, const QString& outputPattern)
{
    QString text = u"#!/bin/sh\n#SBATCH --job-name="_s + name + u"\n#SBATCH --cpus-per-task="_s
        + QString::number(cpus) + u"\n#SBATCH --time="_s + directiveValue(job.timeLimit) + u'\n';
    if (!job.partition.isEmpty()) text += u"#SBATCH --partition="_s + directiveValue(job.partition) + u'\n';
    return text + u"#SBATCH --output="_s + outputFileName(job.output, outputPattern) + u'\n';
}

} // namespace

QString slurmTimeLimitProblem(const QString& t)
{
    // sbatch's forms: M, M:S, H:M:S, D-H, D-H:M, D-H:M:S; minutes and seconds
    // after the first field below 60, hours after days below 24.
    static const QRegularExpression form(u"^(?:(\\d+)-)?(\\d+)(?::(\\d+))?(?::(\\d+))?$"_s);
    const auto m = form.match(t);
    const QString forms = u" is not a Slurm time limit (MM, MM:SS, HH:MM:SS, D-HH, D-HH:MM or D-HH:MM:SS)"_s;
    if (t == u"UNLIMITED"_s || t == u"INFINITE"_s) return {};
    if (!m.hasMatch() || t.size() > 16) return u"'"_s + t + u"'"_s + forms;
    const bool days = m.hasCaptured(1);
    QList<int> fields;
    for (int i = 2; i <= 4; ++i)
        if (m.hasCaptured(i)) fields << m.captured(i).toInt();
    if (days && fields.size() > 0 && fields[0] >= 24) return u"'"_s + t + u"': hours after days must be below 24"_s;
    for (qsizetype i = 1; i < fields.size(); ++i)
        if (fields[i] >= 60) return u"'"_s + t + u"': minutes and seconds must be below 60"_s;
    return {};
}

QString slurmJobProblem(const SlurmJob& job)
{
    // sbatch keeps no backslash of a directive as written, and no directive
    // spans lines.
    for (const QString& text : {job.output, job.timeLimit, job.partition})
        if (text.contains(u'\\') || text.contains(u'\n') || text.contains(u'\r'))
            return u"Slurm cannot take \""_s + text + u"\": a backslash or line break in it"_s;
    return slurmTimeLimitProblem(job.timeLimit);
}

QString slurmArrayScript(const SlurmJob& job)
{
    return slurmHeader(job, u"kestrune-shards"_s, job.cpus, u"slurm-shard-%a.out"_s) + u"#SBATCH --array=0-"_s
        + QString::number(job.shards - 1) + u"\n\n# A shard that is run again (requeued, resubmitted) keeps the rows it has.\nexec "_s
        + shellQuoted(job.program) + u" --resume "_s + shellQuoted(job.output) + u" --tools "_s
        + shellQuoted(job.toolsDirectory) + u" --jobs "_s + QString::number(job.cpus) + u" --shard \"$SLURM_ARRAY_TASK_ID/"_s
        + QString::number(job.shards) + u"\"\n"_s;
}

QString slurmMergeScript(const SlurmJob& job)
{
    return slurmHeader(job, u"kestrune-merge"_s, 1, u"slurm-merge.out"_s) + u"\nexec "_s + shellQuoted(job.program)
        + u" merge "_s + shellQuoted(job.output) + u'\n';
}

QString slurmSubmitScript(const SlurmJob& job)
{
    const QString dir = shellQuoted(job.output);
    return u"#!/bin/sh\n# Submits the shards and, after all of them ended, the merge; shards\n"
           u"# whose merge cannot be submitted are cancelled.\nset -e\n"
           u"shards=$(sbatch --parsable "_s + dir + u"/experiment.sbatch)\nshards=${shards%%;*}\n"
           u"if ! merge=$(sbatch --parsable --dependency=afterany:$shards "_s + dir + u"/merge.sbatch); then\n"
           u"  if scancel \"$shards\"; then\n"
           u"    echo \"the merge job could not be submitted: shards job $shards cancelled\" >&2\n"
           u"  else\n"
           u"    echo \"the merge job could not be submitted, and shards job $shards is still queued: scancel it\" >&2\n"
           u"  fi\n"
           u"  exit 1\nfi\n"
           u"echo \"shards job: $shards\"\necho \"merge job: ${merge%%;*}\"\n"_s;
}

} // namespace kestrune::experiment

namespace kestrune::experiment {

QStringList toolArguments(const Settings& s, const QString& output)
{
    QStringList pairs;
    for (const ConcealmentPair& p : s.pairs) pairs << concealmentPairText(p);
    QStringList arguments{u"--stream"_s, s.stream, u"--original"_s, s.original, u"--size"_s,
                          QString::number(s.width) + u'x' + QString::number(s.height), u"--loss-rates"_s,
                          s.lossRates.join(u','), u"--bursts"_s, s.burstLengths.join(u','), u"--pairs"_s,
                          pairs.join(u','), u"--runs"_s, QString::number(s.runs), u"--seed"_s,
                          QString::number(s.firstSeed), u"--output"_s, output};
    if (s.channels != QStringList{u"gilbert"_s})
        for (const QString& c : s.channels) arguments << u"--channel"_s << c;
    if (s.packets != u"nal"_s) arguments << u"--packets"_s << s.packets;
    if (s.parameterSets != u"in-band"_s) arguments << u"--parameter-sets"_s << s.parameterSets;
    return arguments;
}

} // namespace kestrune::experiment
