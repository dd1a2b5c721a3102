// Harness of bench/map_fill.sh: fills the NAL unit map from a general.txt of
// N NAL units through the window's own StreamAnalyze, then repaints it after
// scrolls and selections. Each time is printed next to its target and next
// to a reference measured in the same run.
#include "main_window/nal_unit_map.h"
#include "main_window/tform1.h"
#include "runner/text_file.h"
#include "tests/main_window/window_parts.h"
#include "tests/support/recording_prompts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using kestrune::testing::ui;

namespace {

// A summary like our encoder's streams: SPS, PPS, SEI, then an I slice every
// 25 NAL units and P slices between them.
QByteArray makeSummary(int total)
{
    std::vector<int> sei{3}, sps{1}, pps{2}, islices, pslices;
    for (int n = 4; n <= total; ++n) ((n - 4) % 25 == 0 ? islices : pslices).push_back(n);
    QByteArray text;
    auto number = [&](qint64 v, char sep) { text += QByteArray::number(v) + sep; };
    for (qint64 v : {qint64(total), qint64(sei.size()), qint64(sps.size()), qint64(pps.size()),
                     qint64(islices.size()), qint64(pslices.size()), qint64(0)})
        number(v, ' ');
    text += "\r\n";
    for (const auto* list : {&sei, &sps, &pps, &islices, &pslices}) {
        for (int n : *list) number(n, ' ');
        text += "\r\n";
    }
    return text;
}

double msSince(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

void report(const char* what, double ms, double targetMs, const char* referenceName, double referenceMs)
{
    std::printf("%-34s %9.3f ms  target %7.1f ms  (%.3f of target)  %s %.3f ms, ratio %.2f\n", what, ms, targetMs,
                ms / targetMs, referenceName, referenceMs, referenceMs > 0 ? ms / referenceMs : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int total = argc > 1 ? std::max(1, atoi(argv[1])) : 1'000'000;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    {
        QFile file(QStringLiteral("general.txt"));
        if (!file.open(QIODevice::WriteOnly)) return 1;
        file.write(makeSummary(total));
    }

    kestrune::testing::RecordingPrompts prompts;
    TForm1 form(prompts);
    form.show();
    app.processEvents();
    NalUnitMap* map = ui(form).StringGrid1;

    // Reference for the fill: reading every integer of the file and nothing else.
    QElapsedTimer timer;
    timer.start();
    kestrune::TextReader reader(QStringLiteral("general.txt"));
    long long sum = 0;
    while (!reader.atEnd()) sum += reader.readInteger();
    const double readOnly = msSince(timer);

    // Repaint reference: the empty start-up map, after a warm-up repaint
    // (fonts and backing store are set up on the first one).
    auto repaintAt = [&](int column) {
        QElapsedTimer t;
        t.start();
        map->horizontalScrollBar()->setValue(column);
        map->viewport()->repaint();
        return msSince(t);
    };
    repaintAt(0);
    double emptyRepaint = 0;
    for (int i = 0; i < 50; ++i) emptyRepaint += repaintAt(i % 10) / 50;

    timer.restart();
    form.StreamAnalyze();
    app.processEvents();
    const double fill = msSince(timer);
    if (!prompts.events.empty() || map->columnCount() != total
        || ui(form).TotalNalUnitsValue->text() != QString::number(total)) {
        std::fprintf(stderr, "map_bench: the map was not filled as expected\n");
        return 1;
    }

    std::mt19937 random(7);
    std::uniform_int_distribution<int> anyColumn(0, map->horizontalScrollBar()->maximum());
    double worstScroll = 0, sumScroll = 0;
    const int scrolls = 200;
    for (int i = 0; i < scrolls; ++i) {
        const double ms = repaintAt(anyColumn(random));
        worstScroll = std::max(worstScroll, ms);
        sumScroll += ms;
    }

    std::uniform_int_distribution<int> anyCell(0, total - 1);
    double worstSelect = 0;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        map->selectColumn(anyCell(random));
        map->viewport()->repaint();
        worstSelect = std::max(worstSelect, msSince(t));
    }

    std::printf("NAL unit map with %d NAL units (general.txt of %lld bytes, checksum %lld)\n", total,
                (long long)QFile(QStringLiteral("general.txt")).size(), sum);
    report("fill from general.txt", fill, 1000, "read-only pass", readOnly);
    report("repaint after scroll (worst)", worstScroll, 16, "empty map mean", emptyRepaint);
    report("repaint after scroll (mean)", sumScroll / scrolls, 16, "empty map mean", emptyRepaint);
    report("select + repaint (worst)", worstSelect, 16, "empty map mean", emptyRepaint);
    return 0;
}
