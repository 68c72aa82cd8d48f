// The window in a real X11 window (Xvfb) while the oscilloscope captures from the simulator at
// wire speed: the mouse, moved by xdotool over the scope window, keeps moving its readout.
#include "ScopePlot.h"
#include "ScopeWindow.h"
#include "SimBench.h"

#include <QApplication>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <QElapsedTimer>
#include <QProcess>

class TestScopeX11 final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"),
                 "run it through ctest (xvfb-run)");
    }

    // Three capture cycles with an alternating motion, the pointer moved over the plot every
    // 250 ms: each move reaches the readout within 100 ms.
    void readoutFollowsTheMouseWhileCapturing()
    {
        SimBench b({ "--stations", "1", "--demo" });
        b.form.move(0, 0);
        b.form.show();
        QVERIFY(b.connect(1));
        QTest::qWait(1300); // the simulated servo comes on a second after the selection
        b.tick();
        QVERIFY(b.form.ServoOn);
        b.form.CheckContinuous->setChecked(true);
        b.form.cmdSetMotion->click();
        b.startScope("200");
        b.messages.texts.clear();
        b.form.openScopeWindow();
        auto *scope = b.form.findChild<ScopeWindow *>();
        scope->move(120, 80);
        b.form.ResumePolling();
        QTRY_VERIFY_WITH_TIMEOUT(!b.form.lastRecordCsv().isEmpty(), 10000);

        auto *plot = scope->findChild<ScopePlot *>();
        const auto *readout = scope->findChild<QLabel *>(QStringLiteral("readout"));
        const QPoint a = plot->mapToGlobal(plot->rect().center() - QPoint(100, 0));
        const QPoint c = plot->mapToGlobal(plot->rect().center() + QPoint(100, 0));

        // The pointer moved from a thread of the test's, so that the window's thread only ever
        // runs its event loop; each move is stamped once the X server has it.
        using Clock = std::chrono::steady_clock;
        constexpr int Moves = 30;
        std::array<std::atomic<qint64>, Moves> movedAt {};
        std::atomic<int> moved { 0 };
        const auto now = [] {
            return std::chrono::duration_cast<std::chrono::microseconds>(
                       Clock::now().time_since_epoch())
                .count();
        };
        std::thread pointer([&] {
            for (int i = 0; i < Moves; ++i) {
                const QPoint at = i % 2 ? c : a;
                QProcess::execute(QStringLiteral("xdotool"),
                                  { "mousemove", QString::number(at.x()), QString::number(at.y()) });
                movedAt[i] = now();
                moved = i + 1;
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
        });
        const QString firstRecord = b.form.lastRecordCsv();
        QString shown = readout->text();
        int seen = 0;
        qint64 worst = 0;
        // A move that changes nothing shows as the next one being late.
        for (QDeadlineTimer end(20000); seen < Moves && !end.hasExpired();) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 2);
            const int latest = moved - 1;
            if (readout->text() == shown || latest < seen)
                continue;
            shown = readout->text();
            worst = std::max(worst, (now() - movedAt[latest]) / 1000);
            seen = latest + 1;
        }
        pointer.join();
        qInfo("%d moves, the slowest readout %lld ms after its move", seen, worst);

        QVERIFY2(b.form.lastRecordCsv() != firstRecord, "no capture while the mouse moved");
        QCOMPARE(b.messages.texts, QStringList());
        QVERIFY2(seen >= Moves - 1, qPrintable(QStringLiteral("%1 of %2 moves").arg(seen).arg(Moves)));
        QVERIFY2(worst <= 100, qPrintable(QStringLiteral("the readout came %1 ms late").arg(worst)));
        b.form.Timer1->stop();
        b.settle();
    }
};

int main(int argc, char **argv)
{
    // A real window, not the offscreen platform the other widget tests use.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestScopeX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scope_x11.moc"
