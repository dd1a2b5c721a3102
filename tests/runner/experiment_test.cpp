// The experiment's plan, shards, merge and statistics.
#include "runner/experiment.h"
#include "runner/experiment_run.h"

#include <QSet>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune;
using namespace kestrune::experiment;

namespace {

Settings sampleSettings()
{
    Settings s;
    s.stream = u"/x/s.264"_s;
    s.original = u"/x/o_176x144.yuv"_s;
    s.width = 176;
    s.height = 144;
    s.lossRates = {u"1"_s, u"5"_s, u"10"_s};
    s.burstLengths = {u"2"_s, u"4"_s};
    s.pairs = {{3, 1}, {0, 0}, {1, 1}};
    s.runs = 4;
    s.firstSeed = 77;
    return s;
}

RunResult goodResult(double psnr)
{
    RunResult r;
    r.ok = true;
    r.nalUnits = 300;
    r.psnrY = psnr;
    r.ssimY = psnr / 100;
    return r;
}

TEST(ExperimentPlan, EverySettingHasItsRunsWithSharedSeedsAndShardsPartitionThePlan)
{
    const Settings s = sampleSettings();
    ASSERT_EQ(runCount(s), 3 * 2 * 3 * 4);
    QMap<QString, QList<quint32>> seedsBySetting;
    for (int i = 0; i < runCount(s); ++i) {
        const PlannedRun planned = plannedRun(s, i);
        EXPECT_EQ(planned.index, i);
        EXPECT_EQ(planned.seed, s.firstSeed + quint32(planned.repetition));
        seedsBySetting[planned.lossRate + u'|' + planned.burstLength + u'|' + concealmentPairText(planned.pair)] << planned.seed;
    }
    ASSERT_EQ(seedsBySetting.size(), 3 * 2 * 3);
    for (const auto& seeds : seedsBySetting) EXPECT_EQ(seeds, (QList<quint32>{77, 78, 79, 80}));

    for (int n : {1, 2, 3, 4, 7, 72, 100}) {
        QList<int> seen;
        for (int k = 0; k < n; ++k) seen += shardRuns(s, {k, n});
        std::sort(seen.begin(), seen.end());
        QList<int> all;
        for (int i = 0; i < runCount(s); ++i) all << i;
        EXPECT_EQ(seen, all) << n;
    }
    EXPECT_FALSE(parseShard(u"4/4"_s));
    EXPECT_FALSE(parseShard(u"-1/4"_s));
    EXPECT_EQ(parseShard(u"3/4"_s)->index, 3);
}

TEST(ExperimentPlan, SettingsFileRoundTripsAndBadSettingsAreNamed)
{
    const Settings s = sampleSettings();
    QString error;
    EXPECT_EQ(parseSettingsText(settingsText(s), &error), s) << error.toStdString();
    Settings real = s;
    real.lossRates << u"0.5"_s;
    real.burstLengths << u"1.5"_s;
    EXPECT_EQ(validate(real), QString());
    for (const auto& [field, value] : {std::pair{&Settings::lossRates, u"5%"_s}, {&Settings::lossRates, u"100.5"_s},
                                       {&Settings::burstLengths, u"0.9"_s}, {&Settings::channels, u"ge:0.1,0.2,1"_s},
                                       {&Settings::channels, u"ge:0.1,0.2,1,1.5"_s}, {&Settings::channels, u"trace:"_s}}) {
        Settings bad = s;
        (bad.*field) << value;
        EXPECT_TRUE(validate(bad).contains(value.section(u',', -1))) << validate(bad).toStdString();
    }
    Settings packets = s;
    packets.packets = u"rtp:14"_s;
    EXPECT_TRUE(validate(packets).contains(u"rtp:14"_s));
    // Experiments written before the packet channels read as Gilbert over NAL units.
    QString old = settingsText(s);
    old.truncate(old.indexOf(u"channels="_s));
    EXPECT_EQ(parseSettingsText(old, &error), s) << error.toStdString();
    Settings channels = s;
    channels.channels = {u"ge:0.01,0.3,1,0.2"_s, u"trace:/x/a b.txt"_s};
    channels.packets = u"rtp:1400"_s;
    channels.parameterSets = u"out-of-band"_s;
    EXPECT_EQ(parseSettingsText(settingsText(channels), &error), channels) << error.toStdString();
    Settings counted = s;
    counted.nalUnits = 310;
    counted.losslessScores = u"55443"_s;
    EXPECT_EQ(parseSettingsText(settingsText(counted), &error), counted) << error.toStdString();
    EXPECT_TRUE(sameExperiment(counted, s));
    EXPECT_FALSE(parseSettingsText(settingsText(counted).replace(u"55443"_s, u"55403"_s), &error));
    EXPECT_FALSE(parseSettingsText(settingsText(s).replace(u"pairs=3:1"_s, u"pairs=4:1"_s), &error));

    // Each setting that cannot run as asked is refused before any run, by name.
    const QList<std::pair<std::function<void(Settings&)>, QString>> refused = {
        {[](Settings& b) { b.lossRates = {u"66.7"_s}; }, u"the largest is 66.6667%"_s},
        {[](Settings& b) { b.lossRates = {u"5"_s, u"10"_s, u"5"_s}; }, u"loss rate 5 is given twice"_s},
        {[](Settings& b) { b.burstLengths = {u"2"_s, u"2"_s}; }, u"burst length 2 is given twice"_s},
        // The same number written twice over is still one setting pooled under two rows.
        {[](Settings& b) { b.lossRates = {u"5"_s, u"10"_s, u"5.0"_s}; }, u"loss rate 5.0 is given twice"_s},
        {[](Settings& b) { b.burstLengths = {u"2"_s, u"2.00"_s}; }, u"burst length 2.00 is given twice"_s},
        {[](Settings& b) { b.pairs << ConcealmentPair{3, 1}; }, u"pair 3:1 is given twice"_s},
        // 100 B / (B + 1) is the most the channel model reaches: 66 % at burst 2.
        {[](Settings& b) { b.lossRates = {u"67"_s}; }, u"the largest is 66%"_s},
        {[](Settings& b) { b.burstLengths = {u"1"_s}, b.lossRates = {u"51"_s}; }, u"the largest is 50%"_s},
        {[](Settings& b) { b.firstSeed = kSeedLimit - 3; }, u"below 2147483648"_s},
        {[](Settings& b) { b.width = 175; }, u"not even"_s},
    };
    for (const auto& [change, reason] : refused) {
        Settings bad = s;
        change(bad);
        EXPECT_TRUE(validate(bad).contains(reason)) << reason.toStdString() << ": " << validate(bad).toStdString();
    }
    Settings edge = s;
    edge.lossRates = {u"66"_s, u"0"_s, u"100"_s};
    edge.firstSeed = kSeedLimit - 4; // seeds up to 2^31 - 1
    EXPECT_EQ(validate(edge), QString());
}

TEST(ExperimentSlurm, TimeLimitsInSlurmsFormsOnly)
{
    for (const QString& good : {u"90"_s, u"90:30"_s, u"01:00:00"_s, u"100:00:00"_s, u"2-12"_s, u"2-12:30"_s,
                                u"2-12:30:15"_s, u"UNLIMITED"_s})
        EXPECT_EQ(slurmTimeLimitProblem(good), QString()) << good.toStdString();
    for (const QString& bad : {u""_s, u"1h"_s, u"-1"_s, u"1:2:3:4"_s, u"01:60:00"_s, u"1-24"_s, u"1:30:60"_s,
                               u"01:00:00\n#SBATCH --x"_s, u" 10"_s})
        EXPECT_NE(slurmTimeLimitProblem(bad), QString()) << bad.toStdString();
}

TEST(ExperimentRows, RowsParseBackAndFailuresKeepTheirError)
{
    const Settings s = sampleSettings();
    const PlannedRun planned = plannedRun(s, 17);
    const auto good = parseRunRow(runRow(planned, goodResult(31.25)));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->index, 17);
    EXPECT_TRUE(good->ok);
    EXPECT_DOUBLE_EQ(good->psnrY, 31.25);

    RunResult failed;
    failed.error = u"decode: no picture, \"quoted\", and more"_s;
    const QString row = runRow(planned, failed);
    const auto bad = parseRunRow(row);
    ASSERT_TRUE(bad);
    EXPECT_FALSE(bad->ok);
    EXPECT_TRUE(row.contains(u"\"\"quoted\"\""_s));
    EXPECT_EQ(runsHeader().count(u',') , row.count(u',') - 2); // two commas inside the quoted error
}

TEST(ExperimentPlan, OtherChannelsAreOneSettingEachAndPlotAtTheirNominalRate)
{
    Settings s = sampleSettings();
    s.lossRates = {u"1"_s, u"2.5"_s};
    s.burstLengths = {u"2"_s};
    s.pairs = {{3, 1}};
    s.runs = 2;
    s.channels = {u"trace:/t/five.txt"_s, u"gilbert"_s, u"trace:/t/one.txt"_s, u"ge:0.01,0.3,1,0"_s};
    ASSERT_EQ(runCount(s), (2 + 3) * 2);
    QStringList channels;
    for (int i = 0; i < runCount(s); i += s.runs) channels << plannedRun(s, i).channel + plannedRun(s, i).lossRate;
    EXPECT_EQ(channels, (QStringList{u"trace:/t/five.txt"_s, u"gilbert1"_s, u"gilbert2.5"_s, u"trace:/t/one.txt"_s,
                                     u"ge:0.01,0.3,1,0"_s}));
    // Only a default Gilbert setting in integers keeps to gilbert.exe.
    EXPECT_FALSE(needsChannelTool(s, {u"gilbert"_s, u"1"_s, u"2"_s}));
    EXPECT_TRUE(needsChannelTool(s, {u"gilbert"_s, u"2.5"_s, u"2"_s}));
    Settings rtp = s;
    rtp.packets = u"rtp:1400"_s;
    EXPECT_TRUE(needsChannelTool(rtp, {u"gilbert"_s, u"1"_s, u"2"_s}));

    const double nominal[] = {5.2, 1.0, 2.5, 0.8, 3.2};
    QStringList rows;
    for (int i = 0; i < runCount(s); ++i) {
        RunResult r = goodResult(30 + i);
        r.nominalLossRate = nominal[i / s.runs];
        rows << runRow(plannedRun(s, i), r);
    }
    const auto series = plotSeries(s, rows);
    ASSERT_EQ(series.size(), 3);
    EXPECT_TRUE(series[0].label.endsWith(u", traces"_s)) << series[0].label.toStdString();
    ASSERT_EQ(series[0].points.size(), 2);
    EXPECT_DOUBLE_EQ(series[0].points[0].x, 0.8);
    EXPECT_DOUBLE_EQ(series[0].points[0].mean, 36.5);
    EXPECT_DOUBLE_EQ(series[0].points[1].x, 5.2);
    ASSERT_EQ(series[1].points.size(), 2);
    EXPECT_DOUBLE_EQ(series[1].points[1].x, 2.5);
    EXPECT_DOUBLE_EQ(series[2].points[0].x, 3.2);
    const QStringList summary = summaryCsv(s, rows).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(summary.size(), 6);
    EXPECT_TRUE(summary[1].startsWith(u"5.2000,,3,1,"_s)) << summary[1].toStdString();
    EXPECT_TRUE(summary[1].contains(u",trace:/t/five.txt,0,"_s)) << summary[1].toStdString();
    EXPECT_TRUE(summary[5].contains(u",\"ge:0.01,0.3,1,0\",0,"_s)) << summary[5].toStdString();

    // A row of runs.csv from before the packet channels is a Gilbert row.
    const QString row = runRow(plannedRun(sampleSettings(), 3), goodResult(31));
    const auto old = parseRunRow(row.section(u',', 0, 19));
    ASSERT_TRUE(old);
    EXPECT_EQ(old->settingKey, parseRunRow(row)->settingKey);
    EXPECT_DOUBLE_EQ(old->nominalLossRate, 1);
}

TEST(ExperimentStatistics, StudentTQuantilesMatchThePublishedTable)
{
    // t(0.975; df) to six decimals, as statistical tables give it.
    const std::pair<int, double> table[] = {{1, 12.706205}, {2, 4.302653},  {3, 3.182446},  {5, 2.570582},
                                            {10, 2.228139}, {30, 2.042272}, {31, 2.039513}, {40, 2.021075},
                                            {60, 2.000298}, {120, 1.979930}, {1000, 1.962339}};
    for (const auto& [df, t] : table) EXPECT_NEAR(studentT975(df), t, 1e-6) << "df " << df;
    EXPECT_TRUE(std::isnan(studentT975(0)));
}

TEST(ExperimentStatistics, ConfidenceIntervalOfAHandComputedSetAndClippedToTheRange)
{
    // 30, 32, 34, 36: mean 33, sd sqrt(20/3), t(3) = 3.182446, half width t * sd / 2.
    const Statistics s = statistics({30, 32, 34, 36});
    EXPECT_DOUBLE_EQ(s.mean, 33);
    ASSERT_TRUE(s.sd && s.low && s.high);
    EXPECT_NEAR(*s.sd, 2.5819889, 1e-6);
    EXPECT_NEAR(*s.low, 33 - 3.182446 * 2.5819889 / 2, 1e-5);
    EXPECT_NEAR(*s.high, 33 + 3.182446 * 2.5819889 / 2, 1e-5);
    const Statistics one = statistics({12});
    EXPECT_FALSE(one.sd || one.low);
    // SSIM close to 1 with a wide spread: the interval stops at 1, the mean is untouched.
    const Statistics ssim = statistics({0.99, 0.999, 0.95}, kSsimLowest, kSsimHighest);
    EXPECT_DOUBLE_EQ(*ssim.high, 1.0);
    EXPECT_LT(*ssim.low, ssim.mean);
    EXPECT_NEAR(ssim.mean, 0.979667, 1e-6);
}

TEST(ExperimentStatistics, SummaryGroupsBySettingAndCountsFailures)
{
    Settings s = sampleSettings();
    s.lossRates = {u"5"_s};
    s.burstLengths = {u"2"_s};
    s.pairs = {{3, 1}, {0, 0}};
    QStringList rows;
    const double values[] = {30, 32, 34, 36, 20, 20, 20, 0};
    for (int i = 0; i < runCount(s); ++i) {
        RunResult r = goodResult(values[i]);
        r.placementGuessed = i == 1;
        r.frameCountDiffers = i == 1 || i == 4;
        if (i == 7) r = RunResult{false, u"boom"_s};
        rows << runRow(plannedRun(s, i), r);
    }
    const QStringList lines = summaryCsv(s, rows).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    const QStringList first = lines[1].split(u','), second = lines[2].split(u',');
    EXPECT_EQ(first[5], u"4"_s);
    EXPECT_EQ(first[6], u"0"_s);
    EXPECT_EQ(first[7], u"33.0000"_s);
    EXPECT_EQ(first[9], QString::number(33 - studentT975(3) * 2.5819889 / 2, 'f', 4));
    EXPECT_EQ(second[5], u"3"_s);
    EXPECT_EQ(second[6], u"1"_s);
    EXPECT_EQ(second[8], u"0.0000"_s);
    // Runs whose frames may not line up with their originals are counted, never averaged silently.
    EXPECT_EQ(first[16], u"1"_s);
    EXPECT_EQ(second[16], u"1"_s);
    EXPECT_TRUE(rows[1].contains(u",guessed+frame-count,"_s)) << rows[1].toStdString();
    EXPECT_TRUE(rows[0].contains(u",exact,"_s)) << rows[0].toStdString();

    const auto series = plotSeries(s, rows);
    ASSERT_EQ(series.size(), 2);
    EXPECT_DOUBLE_EQ(series[0].points[0].mean, 33);
    EXPECT_DOUBLE_EQ(series[1].points[0].low, 20);
    // The point of the pair with a failed run says it stands on fewer runs.
    EXPECT_EQ(series[0].points[0].runs, 4);
    EXPECT_EQ(series[1].points[0].runs, 3);
    EXPECT_EQ(series[1].points[0].asked, 4);
}

TEST(ExperimentStatistics, PairedDifferencesOfAHandSetStandOnTheRepetitionsBothCompleted)
{
    Settings s = sampleSettings();
    s.lossRates = {u"10"_s};
    s.burstLengths = {u"2"_s};
    s.pairs = {{3, 1}, {0, 0}, {1, 1}};
    // Pair 3:1 30, 32, 34, 36; pair 0:0 28, 31, 30 and a failure; pair 1:1 only failures.
    const double values[] = {30, 32, 34, 36, 28, 31, 30, 0};
    QStringList rows;
    for (int i = 0; i < runCount(s); ++i)
        rows << runRow(plannedRun(s, i), i < 7 ? goodResult(values[i]) : RunResult{false, u"boom"_s});
    std::reverse(rows.begin(), rows.end()); // the order rows arrive in does not matter
    const QStringList lines = differencesCsv(s, rows).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1 + 3);
    EXPECT_TRUE(lines[0].startsWith(u"loss_rate,burst_length,a_i_concealment,"_s));
    // Differences 2, 1, 4: mean 7/3, sd sqrt(7/3), t(2) = 4.302653.
    EXPECT_EQ(lines[1], u"10,2,3,1,Bilinear + BMA,0,0,None + None,3,2.3333,1.5275,-1.4612,6.1279,"
                        u"0.023333,0.015275,-0.014612,0.061279,gilbert"_s);
    EXPECT_EQ(lines[2], u"10,2,3,1,Bilinear + BMA,1,1,"_s + concealmentPairLabel({1, 1}) + u",0,,,,,,,,,gilbert"_s);
    EXPECT_TRUE(lines[3].startsWith(u"10,2,0,0,None + None,1,1,"_s));
    const auto d = pairedDifferences(s, rows);
    ASSERT_EQ(d.size(), 3);
    EXPECT_EQ(d[0].psnrY.count, 3);
    EXPECT_NEAR(d[0].psnrY.mean, 7.0 / 3, 1e-12);
}

TEST(ExperimentMerge, MergeRestoresPlanOrderAndNamesMissingAndDuplicatedRuns)
{
    Settings s = sampleSettings();
    s.runs = 2;
    const int count = runCount(s);
    QStringList local;
    for (int i = 0; i < count; ++i) local << runRow(plannedRun(s, i), goodResult(20 + i * 0.1));
    QStringList shards;
    for (int k = 0; k < 5; ++k) {
        QStringList rows;
        for (int i : shardRuns(s, {k, 5})) rows << local[i];
        shards << runsCsv(rows);
    }
    QString error;
    const auto merged = mergeRows(s, shards, &error);
    ASSERT_TRUE(merged) << error.toStdString();
    EXPECT_EQ(runsCsv(*merged), runsCsv(local));

    // Shard 2 lost, run 3 given twice, a row cut short by a kill: what there
    // is is merged, the missing runs are named.
    QStringList broken = shards;
    broken[2] = runsCsv({});
    broken[0] += local[3] + u"\r\n"_s + local[7].left(30);
    QList<int> missing;
    const auto partial = mergeRows(s, broken, &error, &missing);
    ASSERT_TRUE(partial) << error.toStdString();
    EXPECT_EQ(missing, (QList<int>{2, 7, 12, 17, 22, 27, 32}));
    EXPECT_EQ(partial->size(), count - 7);
    EXPECT_EQ(runList(missing, 3), u"2 7 12 and 4 more"_s);
    int skipped = 0;
    EXPECT_TRUE(completeRows(s, broken, &error, &skipped));
    EXPECT_EQ(skipped, 1);

    // The same run with two different results cannot be merged.
    broken[1] += runRow(plannedRun(s, 3), goodResult(99)) + u"\r\n"_s;
    EXPECT_FALSE(mergeRows(s, broken, &error));
    EXPECT_TRUE(error.contains(u"runs given twice with different results: 3"_s)) << error.toStdString();
}

TEST(ExperimentRows, FailuresAreCountedWithTheirCommonestReasonsFirst)
{
    const Settings s = sampleSettings();
    QStringList rows;
    const QString reasons[] = {u"decode: x"_s, u"quality: y"_s, u"decode: x"_s, {}, u"loss pattern: z"_s, u"w"_s};
    for (int i = 0; i < 6; ++i) rows << runRow(plannedRun(s, i), RunResult{false, reasons[i]});
    rows << runRow(plannedRun(s, 6), goodResult(30));
    const Failures f = failures(rows, 2);
    EXPECT_EQ(f.count, 6);
    EXPECT_EQ(f.text, u"6 failed (decode: x x2; loss pattern: z x1; 3 other reasons)"_s);
    EXPECT_EQ(failures({rows.last()}).count, 0);
    // The last line says how many runs gave a result, how many failed and why, and how many never ran.
    EXPECT_EQ(outcomeText(rows, 10), u"1 of 10 runs complete, 6 failed (decode: x x2; loss pattern: z x1; no reason "
                                     u"given x1; 2 other reasons), 3 not run"_s);
    EXPECT_EQ(outcomeText(rows.mid(0, 2), 2), u"0 of 2 runs complete, 2 failed (decode: x x1; quality: y x1)"_s);
}

// The opinion score columns: a run's own, rows from before them read without
// a score, and summary.csv's means with intervals clipped to 1..5 and 0..1.
TEST(ExperimentStatistics, OpinionScoresInRowsAndSummary)
{
    Settings s = sampleSettings();
    s.lossRates = {u"5"_s};
    s.burstLengths = {u"2"_s};
    s.pairs = {{3, 1}, {0, 0}};
    s.runs = 5;
    const double mos[] = {4.9, 5.0, 4.95};
    const double below[] = {0, 0, 0.02};
    QStringList rows;
    for (int i = 0; i < runCount(s); ++i) {
        RunResult r = goodResult(40);
        r.mos = i < 3 ? mos[i] : 2;
        if (i < 3) r.mosBelowLossless = below[i];
        rows << runRow(plannedRun(s, i), r);
    }
    rows[3] = rows[3].section(u',', 0, 25);  // a row written before the scores
    rows[4] = runRow(plannedRun(s, 4), RunResult{false, u"boom"_s});
    const auto parsed = parseRunRow(rows[2]), old = parseRunRow(rows[3]), other = parseRunRow(rows[5]);
    ASSERT_TRUE(parsed && old && other);
    EXPECT_DOUBLE_EQ(*parsed->mos, 4.95);
    EXPECT_DOUBLE_EQ(*parsed->mosBelowLossless, 0.02);
    EXPECT_TRUE(old->ok);
    EXPECT_FALSE(old->mos || old->mosBelowLossless);
    EXPECT_FALSE(other->mosBelowLossless);
    EXPECT_EQ(runsHeader().section(u',', -3), u"alignment,mos,mos_below_lossless"_s);

    const QStringList lines = summaryCsv(s, rows).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    const QStringList header = lines[0].split(u',');
    auto cell = [&](int line, const QString& name) { return lines[line].split(u',').value(header.indexOf(name)); };
    EXPECT_EQ(cell(1, u"runs"_s), u"4"_s);
    EXPECT_EQ(cell(1, u"failed"_s), u"1"_s);
    // 4.9, 5.0, 4.95: mean 4.95, sd 0.05, half width t(2) 0.05 / sqrt 3 = 0.1242; the top stops at 5.
    EXPECT_EQ(cell(1, u"mos_mean"_s), u"4.9500"_s);
    EXPECT_EQ(cell(1, u"mos_sd"_s), u"0.0500"_s);
    EXPECT_EQ(cell(1, u"mos_ci95_low"_s), QString::number(4.95 - 4.302653 * 0.05 / std::sqrt(3.0), 'f', 4));
    EXPECT_EQ(cell(1, u"mos_ci95_high"_s), u"5.0000"_s);
    // 0, 0, 0.02: mean 0.0067, sd 0.011547; the bottom stops at 0.
    EXPECT_EQ(cell(1, u"mos_below_lossless_mean"_s), u"0.0067"_s);
    EXPECT_EQ(cell(1, u"mos_below_lossless_ci95_low"_s), u"0.0000"_s);
    EXPECT_EQ(cell(1, u"mos_below_lossless_ci95_high"_s),
              QString::number(0.02 / 3 + 4.302653 * std::sqrt(0.0004 / 3) / std::sqrt(3.0), 'f', 4));
    // Scores without a lossless reference: the mean only.
    EXPECT_EQ(cell(2, u"mos_mean"_s), u"2.0000"_s);
    EXPECT_EQ(cell(2, u"mos_ci95_high"_s), u"2.0000"_s);
    EXPECT_EQ(cell(2, u"mos_below_lossless_mean"_s), QString());
}

TEST(ExperimentRun, RealisedLossCountsDropsAndBursts)
{
    const RealisedLoss loss = realisedLoss(u"3,4,5,9,20,21,"_s, 100);
    EXPECT_EQ(loss.dropped, 6);
    EXPECT_DOUBLE_EQ(loss.rate, 6.0);
    EXPECT_DOUBLE_EQ(loss.meanBurst, 2.0);
    EXPECT_EQ(realisedLoss({}, 100).dropped, 0);
}

TEST(ExperimentSlurm, ScriptsRunTheShardsAndMergeAfterThem)
{
    // A folder with a blank, a percent sign and quotes: sbatch reads each
    // directive as one value, the shell each argument as one word.
    const QString folder = u"/d/e x 5% \"q\" it's"_s;
    const SlurmJob job{u"/opt/k/kestrune-experiment"_s, folder, u"/opt/k"_s, 4, 2, u"00:30:00"_s, u"debug"_s};
    EXPECT_TRUE(slurmJobProblem(job).isEmpty());
    const QString array = slurmArrayScript(job);
    EXPECT_TRUE(array.contains(u"#SBATCH --array=0-3\n"_s));
    EXPECT_TRUE(array.contains(u"#SBATCH --cpus-per-task=2\n"_s));
    EXPECT_TRUE(array.contains(u"#SBATCH --output=\"/d/e x 5%% \\\"q\\\" it's/slurm-shard-%a.out\"\n"_s)) << qPrintable(array);
    EXPECT_TRUE(array.contains(u"--resume '/d/e x 5% \"q\" it'\\''s' "_s)) << qPrintable(array);
    EXPECT_TRUE(array.contains(u"--shard \"$SLURM_ARRAY_TASK_ID/4\""_s));
    const QString merge = slurmMergeScript(job);
    EXPECT_TRUE(merge.contains(u"#SBATCH --output=\"/d/e x 5%% \\\"q\\\" it's/slurm-merge.out\"\n"_s)) << qPrintable(merge);
    EXPECT_TRUE(merge.contains(u"exec '/opt/k/kestrune-experiment' merge '/d/e x 5% \"q\" it'\\''s'\n"_s)) << qPrintable(merge);
    EXPECT_TRUE(slurmSubmitScript(job).contains(u"--dependency=afterany:"_s));

    // What no directive can carry is refused before anything is written.
    for (const QString& bad : {u"/d/a\\b"_s, u"/d/a\nb"_s}) {
        SlurmJob badJob = job;
        badJob.output = bad;
        EXPECT_FALSE(slurmJobProblem(badJob).isEmpty()) << qPrintable(bad);
    }
}

} // namespace
