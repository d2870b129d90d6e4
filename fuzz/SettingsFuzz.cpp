// "Tarvo.ini" as the program reads it at start and writes it at the end: any bytes in the file go
// through the real controller and settings store. Whatever was read must be usable (a port number that
// names a COM port, a rate, a scope range with its top above its bottom), and the file written at the
// end must come back with the same lines when it is read and written again: settings survive a restart.
#include "FuzzEntry.h"
#include "app/MainController.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "engine/Line.h"
#include "engine/SimulatedPort.h"
#include "engine/SimulatedPorts.h"
#include "link/ComPortMap.h"
#include "link/SerialPort.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>

using namespace tarvo;

namespace {

QByteArray startAndClose(const QString& path) {
    SilentOperator op;
    MainController controller(op, std::make_unique<devsim::SimulatedPort>(), path);
    controller.start();
    SerialPort& port = controller.link().port();
    FUZZ_REQUIRE(port.portNumber() >= 1 && port.portNumber() <= ComPortMap::kCount);
    FUZZ_REQUIRE(port.baudRate() > 0);
    const GraphModel& graph = controller.graph();
    FUZZ_REQUIRE(std::isfinite(graph.top()) && std::isfinite(graph.bottom()) && graph.top() > graph.bottom());
    const QString& autotransmit = controller.readout().autotransmit();
    FUZZ_REQUIRE(autotransmit == QLatin1String("SG") || autotransmit == QLatin1String("SN"));
    const QString& address = controller.discovery().deviceAddress();
    FUZZ_REQUIRE(address == QLatin1String("None") || (address.size() == 2 && address.toInt() <= 63));
    controller.shutdown();
    QFile written(path);
    FUZZ_REQUIRE(written.open(QIODevice::ReadOnly));
    return written.readAll();
}

// The store alone, on the parts of one controller kept for the whole run (a controller reserves its
// recording memory, which costs more than the file): the file read and written once more.
QByteArray readAndWriteAgain(const QString& path) {
    static SilentOperator op;
    static MainController* kept = [] {
        auto* c = new MainController(op, std::make_unique<devsim::SimulatedPort>(), QString());
        c->start();
        return c;
    }();
    const SettingsStore::Targets targets{kept->link(), kept->ports(), kept->readout(), kept->discovery(),
                                         kept->pageSettings()};
    PortSettings ports;
    SettingsStore::readSettings(path, targets, ports);
    SettingsStore::applyPortSettings(ports, targets);
    FUZZ_REQUIRE(SettingsStore::writeSettings(path, targets).isEmpty());
    kept->link().port().close(); // free for the next input's program
    QFile written(path);
    FUZZ_REQUIRE(written.open(QIODevice::ReadOnly));
    return written.readAll();
}

QByteArray withoutBlankLines(const QByteArray& text) {
    QByteArray lines;
    for (const QByteArray& line : text.split('\n'))
        if (!line.trimmed().isEmpty())
            lines += line + '\n';
    return lines;
}

} // namespace

TARVO_FUZZ_ENTRY(settings) {
    fuzz::ensureApplication();
    TimeScale::setFactor(0.001); // the port choices pause as the program does, only shorter
    // In memory where there is such a folder: every close syncs the file to the disk.
    static QTemporaryDir dir(
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/tarvo-fuzz-XXXXXX") : QString());
    static devsim::Line com1;
    static devsim::Line com3;
    static const bool attached =
        devsim::SimulatedPorts::attach(1, &com1) && devsim::SimulatedPorts::attach(3, &com3);
    FUZZ_REQUIRE(attached);

    const QString path = dir.filePath(QStringLiteral("Tarvo/Tarvo.ini"));
    QDir().mkpath(dir.filePath(QStringLiteral("Tarvo")));
    {
        QFile file(path);
        FUZZ_REQUIRE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_REQUIRE(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    // Settings survive a restart: what the program wrote at its close reads back to the same lines (the
    // INI writer may place the blank lines around a leading comment differently once), and from the
    // second save on the file stays byte for byte the same: nothing grows from one save to the next.
    const QByteArray written = startAndClose(path);
    const QByteArray again = readAndWriteAgain(path);
    const QByteArray third = readAndWriteAgain(path);
    if (withoutBlankLines(again) != withoutBlankLines(written) || third != again)
        std::fprintf(stderr, "written at the close:\n%s\nread and written again:\n%s\nand once more:\n%s\n",
                     written.toPercentEncoding(" =[]\n").constData(),
                     again.toPercentEncoding(" =[]\n").constData(),
                     third.toPercentEncoding(" =[]\n").constData());
    FUZZ_REQUIRE(withoutBlankLines(again) == withoutBlankLines(written));
    FUZZ_REQUIRE(third == again);
    return 0;
}
