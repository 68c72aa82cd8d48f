// The scope window's work for one capture at 1920 x 1080: the step-response figures, taking
// the record in, and the repaint, with a reference record held.
// Prints medians; a 60 Hz frame (16.7 ms) is the budget.
#include "Measure.h"
#include "MessageSink.h"
#include "ScopePlot.h"
#include "ScopeView.h"
#include "ScopeWindow.h"
#include "StepResponse.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int Rounds = 301;
const QSize Size(1920, 1080);

// 512 values: PCMD steps by 200 counts at sample 40, PFBK rings into it (damping 0.3),
// with a count of noise.
Record stepRecord(double zeta)
{
    Record r;
    const double wn = 0.1; // rad per sample
    const double wd = wn * std::sqrt(1 - zeta * zeta);
    for (int i = 0; i < 256; ++i) {
        const double t = i - 40;
        const double y = t < 0 ? 0
                               : 1
                - std::exp(-zeta * wn * t)
                    * (std::cos(wd * t) + zeta / std::sqrt(1 - zeta * zeta) * std::sin(wd * t));
        r.raw[i] = i < 40 ? 2000 : 2200;
        r.raw[256 + i] = float(std::round(2000 + 200 * y + (i % 3 - 1)));
    }
    for (int i = 0; i < 512; ++i) {
        r.position[i] = float(i % 256);
        r.plot[i] = r.raw[i] / 4;
    }
    r.count = 512;
    return r;
}

class NoMessages final : public MessageSink {
public:
    void MsgBox(const QString &) override { }
    bool Confirm(const QString &, const QString &) override { return false; }
};

template<typename F> double medianUs(F &&work)
{
    std::vector<double> us;
    for (int i = 0; i < Rounds; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        if (i > 0) // the first round warms caches and fonts
            us.push_back(t.nsecsElapsed() / 1e3);
    }
    return Measure::median(us);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const RecordShape shape { 512, false, 1 };
    const ScopeRecord now(stepRecord(0.6), shape, 200, QStringLiteral("PCMD"),
                          QStringLiteral("PFBK"));
    const ScopeRecord reference(stepRecord(0.3), shape, 200, QStringLiteral("PCMD"),
                                QStringLiteral("PFBK"));

    StepFigures figures;
    const double computeUs
        = medianUs([&] { figures = stepFigures(now.record, now.shape, now.spanMs); });

    // The whole window at 1920 x 1080, the reference held.
    NoMessages messages;
    ScopeWindow window(messages);
    window.resize(Size);
    window.showRecord(reference.record, shape, 200, now.names[0], now.names[1]);
    window.holdReference();
    window.show();
    QCoreApplication::processEvents();
    const double captureUs
        = medianUs([&] { window.showRecord(now.record, shape, 200, now.names[0], now.names[1]); });

    ScopePlot *plot = window.plot();
    const double repaintUs = medianUs([&] { plot->repaint(); });
    QImage image(Size, QImage::Format_ARGB32_Premultiplied);
    const double imageUs = medianUs([&] {
        QPainter painter(&image);
        plot->paintTo(painter, Size);
    });

    const auto row = [](const char *what, double us) {
        std::printf("| %s | %.3f ms | %.3f of a 60 Hz frame |\n", what, us / 1000,
                    us / 1000 / (1000.0 / 60));
    };
    std::printf("scope window, 512-value record (PCMD + PFBK) and a reference, medians of %d "
                "rounds\n\n",
                Rounds - 1);
    std::printf("| measure | median | share of a frame |\n|---|---|---|\n");
    row("Step-response figures of the record (`stepFigures`)", computeUs);
    row("A capture handed to the window (`showRecord`: figures of both, display lists, panel)",
        captureUs);
    char repaint[120];
    std::snprintf(repaint, sizeof repaint,
                  "Repaint the plot, window at 1920 x 1080 (plot %d x %d px, offscreen)",
                  plot->width(), plot->height());
    row(repaint, repaintUs);
    row("Paint the plot into a 1920 x 1080 image (`ScopePlot::paintTo`)", imageUs);
    std::printf("\nstep %.0f, rise %.2f ms, overshoot %.1f %%, settling %.2f ms\n", figures.size(),
                figures.riseMs.value_or(-1), figures.overshootPercent,
                figures.settlingMs.value_or(-1));
    return 0;
}
