// What the window costs while a transmitter streams at 115200 baud's full line rate: CPU seconds of the
// UI thread per wall second, paint passes per second and how late a 50 ms timer runs. The program is the
// real one (controller, windows, QSerialPort) on a pseudo-terminal fed by a scripted transmitter on its own
// thread; each figure is measured with the window shown and, as the baseline, with the window hidden.
#include "app/MainController.h"
#include "link/QtSerialPortDevice.h"
#include "measure/RecordingMemory.h"
#include "ui/ProgramWindows.h"
#include "ui/ScopePanel.h"
#include "ui/ScopeWidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace tarvo;

namespace {

constexpr int kWireRate =
    1280; // lines a second: "N+0123.4\r" is 9 bytes, 115200 baud carries about this many

double threadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A transmitter on a pseudo-terminal: a net value stream whose value changes with every line, and the
// few answers RUN and the device search ask for.
class ScriptedTransmitter {
public:
    explicit ScriptedTransmitter(int linesPerSecond) : linesPerSecond_(linesPerSecond) {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            return;
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        slave_ = slave; // kept open so the line never hangs up while the program reopens it
        path_ = QString::fromLocal8Bit(name);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedTransmitter() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (slave_ >= 0)
            close(slave_);
        if (master_ >= 0)
            close(master_);
    }
    const QString& path() const { return path_; }

private:
    void run() {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> step(-3, 3);
        double value = 1234;
        long sent = 0;
        const auto start = std::chrono::steady_clock::now();
        std::string in;
        while (!stop_) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::string out;
            for (const long due = static_cast<long>(elapsed * linesPerSecond_); sent < due; ++sent) {
                value += step(random);
                char line[32];
                std::snprintf(line, sizeof line, "N%+08.1f\r", value);
                out += line;
            }
            if (!out.empty() && ::write(master_, out.data(), out.size()) < 0)
                return;
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 1) > 0) {
                char buffer[512];
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0)
                    in.append(buffer, static_cast<std::size_t>(n));
            }
            for (std::size_t cr; (cr = in.find('\r')) != std::string::npos; in.erase(0, cr + 1)) {
                const std::string command = in.substr(0, cr);
                const char* reply = command == "DX"   ? "X:001\r"
                                    : command == "ID" ? "D:4110\r"
                                    : command == "IV" ? "V:2.10\r"
                                                      : "OK\r";
                if (!command.empty() && ::write(master_, reply, std::strlen(reply)) < 0)
                    return;
            }
        }
    }

    int linesPerSecond_;
    int master_ = -1;
    int slave_ = -1;
    QString path_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Counts paint passes: every widget, the scope, the readout.
class PaintCounter : public QObject {
public:
    int all = 0, scope = 0, readout = 0;
    std::map<QString, int> byWidget;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++all;
            if (std::getenv("TARVO_PAINT_LOG"))
                ++byWidget[QString::fromLatin1(watched->metaObject()->className()) + " " +
                           watched->objectName() + " " +
                           (qobject_cast<QWidget*>(watched)
                                ? qobject_cast<QWidget*>(watched)->accessibleName()
                                : QString())];
            if (qobject_cast<ui::ScopeWidget*>(watched))
                ++scope;
            else if (watched->objectName() == QLatin1String("Readout"))
                ++readout;
        }
        return false;
    }
};

struct Figures {
    double cpuPerWall = 0;
    double paintsPerSecond = 0, scopePaintsPerSecond = 0, readoutPaintsPerSecond = 0;
    double worstTimerLateMs = 0;
};

enum class Scenario { DisplayPage, RunWithFullSlots, RunWithFullSlotsAndBigDisplay };

Figures measure(Scenario scenario, int linesPerSecond, bool shown, int seconds) {
    ScriptedTransmitter transmitter(linesPerSecond);
    QTemporaryDir dir;
    QFile ini(dir.filePath("Tarvo.ini"));
    if (ini.open(QIODevice::WriteOnly))
        ini.write(QStringLiteral("[Port]\nBaud=115200\nComNumber=1\n").toUtf8());
    ini.close();
    ComPortMap map;
    map.setPath(1, transmitter.path());
    ui::QtOperator op;
    MainController controller(op, std::make_unique<QtSerialPortDevice>(map), dir.filePath("Tarvo.ini"));
    controller.setComPortMap(map);
    controller.setSettingsWritable(false);
    ui::ProgramWindows windows(controller, op);
    windows.mainWindow().resize(1100, 900);
    if (shown) {
        windows.mainWindow().show();
        if (scenario == Scenario::RunWithFullSlotsAndBigDisplay)
            windows.bigDisplay().show();
    } else
        QTimer::singleShot(0, [&controller] { controller.displayPageShown(); });

    // The event loop runs as the program's does: idle until something arrives.
    auto settle = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    settle(1500);
    const bool running = scenario != Scenario::DisplayPage;
    if (running) {
        // Five full recordings on the scope, graphics at their fastest, then RUN.
        GraphModel& graph = controller.graph();
        for (int slot = 1; slot <= kGraphSlots; ++slot)
            for (int i = 0; i < kMaxSamples; ++i)
                graph.addSeriesPoint(slot, i * 2.0, 5000 + 3000 * std::sin(i / (2000.0 + 300 * slot)));
        controller.scopeControls().setGraphicsPerformance(6);
        controller.link().runWhenIdle([&controller] { controller.acquisition().runClicked(); });
        settle(2500);
    }

    PaintCounter paints;
    qApp->installEventFilter(&paints);
    Figures f;
    QElapsedTimer lateness;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(50);
    lateness.start();
    QObject::connect(&probe, &QTimer::timeout, [&] {
        f.worstTimerLateMs = std::max(f.worstTimerLateMs, lateness.nsecsElapsed() / 1e6 - 50);
        lateness.restart();
    });
    probe.start();
    const double cpu0 = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    settle(seconds * 1000);
    const double wallSeconds = wall.nsecsElapsed() / 1e9;
    f.cpuPerWall = (threadCpuSeconds() - cpu0) / wallSeconds;
    probe.stop();
    qApp->removeEventFilter(&paints);
    for (const auto& [name, n] : paints.byWidget)
        if (n > 20)
            std::fprintf(stderr, "%6d %s\n", n, qPrintable(name));
    f.paintsPerSecond = paints.all / wallSeconds;
    f.scopePaintsPerSecond = paints.scope / wallSeconds;
    f.readoutPaintsPerSecond = paints.readout / wallSeconds;
    if (running)
        controller.acquisition().stopClicked();
    windows.bigDisplay().hide();
    windows.mainWindow().hide();
    return f;
}

void report(benchmark::State& state, Scenario scenario) {
    const int rate = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const Figures shown = measure(scenario, rate, true, 5);
        const Figures hidden = measure(scenario, rate, false, 5);
        state.counters["ui_cpu_shown"] = shown.cpuPerWall;
        state.counters["ui_cpu_hidden"] = hidden.cpuPerWall;
        state.counters["paints_per_s"] = shown.paintsPerSecond;
        state.counters["scope_paints_per_s"] = shown.scopePaintsPerSecond;
        state.counters["readout_paints_per_s"] = shown.readoutPaintsPerSecond;
        state.counters["timer_late_ms"] = shown.worstTimerLateMs;
    }
}

void BM_WindowShowingAStream(benchmark::State& state) {
    report(state, Scenario::DisplayPage);
}
BENCHMARK(BM_WindowShowingAStream)->Arg(10)->Arg(kWireRate)->Iterations(1)->Unit(benchmark::kSecond);

void BM_WindowRunWithFiveFullSlots(benchmark::State& state) {
    report(state, Scenario::RunWithFullSlots);
}
BENCHMARK(BM_WindowRunWithFiveFullSlots)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond);

void BM_WindowRunWithFiveFullSlotsAndTheBigDisplay(benchmark::State& state) {
    report(state, Scenario::RunWithFullSlotsAndBigDisplay);
}
BENCHMARK(BM_WindowRunWithFiveFullSlotsAndTheBigDisplay)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ui::ProgramWindows::nameApplication();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
