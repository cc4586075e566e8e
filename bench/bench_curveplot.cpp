// The curve viewer's plot over long curves: the time from setCurve() to the
// first picture, and the time of a picture drawn again without a change, at
// 10 000, 100 000 and 1 000 000 points. A program of its own, for it needs a
// QApplication; it draws on the offscreen platform.
#include "analysisresult.h"
#include "curveplot.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <random>

namespace {

// A raw clot curve over 300 s with noise on it, so that no two neighbours are
// alike: the plot gets a raw series and a density series of `points` each.
ClotCurve noisyCurve(int points)
{
    std::mt19937 random(points);
    std::normal_distribution<double> noise(0.0, 4.0);
    const double step = 300.0 / points;
    QVector<double> values(points);
    for (int i = 0; i < points; ++i) {
        const double t = i * step;
        values[i] = 1000.0 - 600.0 / (1.0 + std::exp(-(t - 60.0) * 0.1)) + noise(random);
    }
    ClotCurve curve;
    curve.append(0.0, step, values);
    return curve;
}

// The size of the demo's picture, about that of the viewer's plot.
const QSize plotSize(900, 540);

void draw(CurvePlot *plot, QImage *image)
{
    image->fill(Qt::white);
    QPainter painter(image);
    plot->render(&painter);
}

// Processor time of this thread in ms: drawing takes one thread, and the
// machine's other processes then count less than in the wall-clock time.
double threadMilliseconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Milliseconds an iteration, for report.py's goals.
void countMilliseconds(benchmark::State &state, double total, const char *name)
{
    state.counters[name] = benchmark::Counter(total, benchmark::Counter::kAvgIterations);
}

void BM_curvePlot_show(benchmark::State &state)
{
    const ClotCurve curve = noisyCurve(int(state.range(0)));
    CurvePlot plot;
    plot.resize(plotSize);
    plot.show();
    QImage image(plotSize, QImage::Format_ARGB32_Premultiplied);
    double total = 0;
    for (auto _ : state) {
        const double start = threadMilliseconds();
        plot.setCurve(curve);
        // The chart lays itself out from the event loop, as on the screen.
        QCoreApplication::processEvents();
        draw(&plot, &image);
        total += threadMilliseconds() - start;
    }
    countMilliseconds(state, total, "show_ms");
}
BENCHMARK(BM_curvePlot_show)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_curvePlot_repaint(benchmark::State &state)
{
    CurvePlot plot;
    plot.resize(plotSize);
    plot.show();
    plot.setCurve(noisyCurve(int(state.range(0))));
    QCoreApplication::processEvents();
    QImage image(plotSize, QImage::Format_ARGB32_Premultiplied);
    draw(&plot, &image);
    double total = 0;
    for (auto _ : state) {
        const double start = threadMilliseconds();
        draw(&plot, &image);
        total += threadMilliseconds() - start;
    }
    countMilliseconds(state, total, "repaint_ms");
}
BENCHMARK(BM_curvePlot_repaint)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // No display needed, and the figures do not depend on one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
