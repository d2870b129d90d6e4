#pragma once

// Whole-program tests: the real tarvo-devsim on pseudo-terminals, a private configuration folder whose
// "Tarvo.ini" maps COM1 to a simulated line (COM2..COM8 without a port, so the machine's own ports are
// never touched), and runs of tarvo-cli with that folder.
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace tarvo::test {

class SimulatorProcess {
public:
    ~SimulatorProcess() { stop(); }

    // Starts the simulator and waits for its "line N: PATH" lines; false when it did not come up.
    // Each line is reached through a link of this simulator's own, not the terminal's name: terminal
    // numbers are reused at once, and tests run side by side. A program still looking for a stopped
    // simulator then finds nothing rather than another test's device, and the serial port's lock file,
    // named after the path, is never another test's.
    bool start(const QStringList& arguments, int lineCount = 1) {
        QStringList withLinks = arguments;
        for (int line = 1; line <= lineCount; ++line)
            withLinks << "--link" << QStringLiteral("%1=%2").arg(line).arg(privateLink(line));
        process_.start(programPath("tarvo-devsim"), withLinks);
        if (!process_.waitForStarted(5000))
            return false;
        static const QRegularExpression pattern("^line (\\d+): (\\S+)$");
        while (lines_.size() < lineCount && process_.waitForReadyRead(5000)) {
            while (process_.canReadLine()) {
                const QRegularExpressionMatch m =
                    pattern.match(QString::fromLocal8Bit(process_.readLine()).trimmed());
                if (m.hasMatch() && m.captured(1).toInt() >= 1 && m.captured(1).toInt() <= lineCount)
                    lines_[m.captured(1).toInt()] = privateLink(m.captured(1).toInt());
            }
        }
        return lines_.size() == lineCount;
    }
    QString linePath(int line) const { return lines_.value(line); }
    // A control command on the simulator's standard input; returns its answer ("ok" or "error: ..."), so
    // that the command is in effect before the test goes on.
    QString control(const QByteArray& command) {
        process_.write(command + '\n');
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.write("quit\n");
            if (!process_.waitForFinished(3000)) {
                process_.kill();
                process_.waitForFinished(3000);
            }
        }
        // A killed simulator leaves its links behind, pointing at terminal numbers others may take.
        for (const QString& link : std::as_const(lines_))
            QFile::remove(link);
    }

private:
    QString privateLink(int line) const { return linkDir_.filePath(QStringLiteral("line%1").arg(line)); }

    QTemporaryDir linkDir_;
    QProcess process_;
    QMap<int, QString> lines_;
};

struct CliRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

class ProgramRig {
public:
    QString configDir() const { return dir_.filePath("config"); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    QString settingsPath() const { return configDir() + "/Tarvo/Tarvo.ini"; }

    // "Tarvo.ini" with COM1 on the given path, COM2..COM8 without a port, then the extra text.
    bool writeSettings(const QString& com1, const QByteArray& extra = "[Port]\nBaud=115200\nComNumber=1\n") {
        QDir().mkpath(configDir() + "/Tarvo");
        QFile ini(settingsPath());
        if (!ini.open(QIODevice::WriteOnly))
            return false;
        QByteArray text = "[ComPorts]\nCOM1=" + com1.toLocal8Bit() + "\n";
        for (int com = 2; com <= 8; ++com)
            text += "COM" + QByteArray::number(com) + "=\n";
        return ini.write(text + extra) > 0;
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", configDir());
        return env;
    }

    // The environment may add variables of its own (a locale, say) to the rig's.
    CliRun cli(const QStringList& arguments, int timeLimitMs = 60000,
               const QMap<QString, QString>& extraEnvironment = {}) const {
        QProcess process;
        QProcessEnvironment env = environment();
        for (auto it = extraEnvironment.begin(); it != extraEnvironment.end(); ++it)
            env.insert(it.key(), it.value());
        process.setProcessEnvironment(env);
        process.start(programPath("tarvo-cli"), arguments);
        CliRun run;
        if (!process.waitForFinished(timeLimitMs)) {
            process.kill();
            process.waitForFinished(3000);
            return run;
        }
        run.exitCode = process.exitCode();
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

private:
    QTemporaryDir dir_;
};

} // namespace tarvo::test
