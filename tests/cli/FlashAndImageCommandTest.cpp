// tarvo-cli flash and tarvo-cli image against the real simulator on a pseudo-terminal: the boot monitor
// with wire time for the flash, a transmitter's settings image for get and put.
#include "firmware/FirmwareFiles.h"
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

#include <QFileInfo>
#include <QSerialPort>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

using namespace tarvo::test;

TEST(FlashCommand, ProgramsThroughTheBootMonitorAndGivesThePassResultAsExitStatus) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.start({"--boot", "--device", "line=1,id=4110,baud=115200"}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    QByteArray kernel(1024, '\0');
    for (int i = 0; i < kernel.size(); ++i)
        kernel[i] = char(255 - (i & 0xFF));
    ASSERT_TRUE(writeFile(rig.filePath("Prog41.a20"), sRecords(kernel, 0xF780)));
    ASSERT_TRUE(writeFile(rig.filePath("new.s19"), sRecords(sampleBinary(128), 0x0400)));

    // Nothing to program, or no kernel: nothing is sent (4).
    CliRun run = rig.cli({"flash", rig.filePath("missing.s19"), "--fixture"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(run.err.contains("nothing was sent")) << run.err.toStdString();
    run = rig.cli({"flash", rig.filePath("new.s19"), "--kernel", rig.filePath("missing.a20"), "--fixture"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(run.err.contains("Kernel error: Unable to open Prog41.a20...Programing NOT possible!"))
        << run.err.toStdString();

    run = rig.cli({"flash", rig.filePath("new.s19"), "--kernel", rig.filePath("Prog41.a20"), "--fixture"},
                  120000);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Do you want to download firmware: 16843009 -> OK"));
    // The progress lines come between the messages as the timer ticks.
    QByteArray messages;
    for (const QByteArray& line : run.err.split('\n'))
        if (!line.startsWith("progress: "))
            messages += line + '\n';
    EXPECT_TRUE(messages.contains("Programing in progress...\nProgramming Done!\n"
                                  "Programing Done.... and defaults loaded!\n"))
        << run.err.toStdString();
    // Progress is records sent of records to send: the firmware's one record, wherever it starts.
    EXPECT_TRUE(run.err.contains("progress: 1/1\n")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("progress: 32768/")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("solder"));
    // The device runs its new firmware at 9600 baud.
    EXPECT_EQ(rig.cli({"send", "ID", "--start", "D:", "--baud", "9600"}).out, "4110\n");

    // The switch back on, and an erase the monitor refuses: status 2.
    ASSERT_EQ(sim.control("boot 1 0 on erase=fail"), "ok");
    run = rig.cli({"flash", rig.filePath("new.s19"), "--kernel", rig.filePath("Prog41.a20"), "--fixture"},
                  120000);
    EXPECT_EQ(run.exitCode, 2) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("MXR Erase error"));

    // A record the monitor refuses: status 3. A monitor that answers nothing: status 1.
    ASSERT_EQ(sim.control("boot 1 0 on refuse=0"), "ok");
    run = rig.cli({"flash", rig.filePath("new.s19"), "--kernel", rig.filePath("Prog41.a20"), "--fixture"},
                  120000);
    EXPECT_EQ(run.exitCode, 3) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("MXR Programming error"));
    ASSERT_EQ(sim.control("boot 1 0 on silent"), "ok");
    run = rig.cli({"flash", rig.filePath("new.s19"), "--kernel", rig.filePath("Prog41.a20"), "--fixture"},
                  120000);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("No response from MXR"));
}

TEST(ImageCommand, GetsTheImageAndPutsItBack) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.start({"--device", "line=1,id=4110,baud=115200"}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    ASSERT_EQ(rig.cli({"send", "CM 4321", "--start", "O"}).exitCode, 0);

    const QString file = rig.filePath("device.qmi");
    CliRun run = rig.cli({"image", "get", file});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "written: " + file.toLocal8Bit() + "\n");
    EXPECT_TRUE(run.err.contains("Hexfile saved successfully!"));
    const QList<QByteArray> lines = readFile(file).split('\n');
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.at(lines.size() - 2), ":00000001FF\r");

    // Changed on the device, then put back from the image's first record (it holds CM) and the end record.
    ASSERT_EQ(rig.cli({"send", "CM 5", "--start", "O"}).exitCode, 0);
    const QString first = rig.filePath("first.qmi");
    ASSERT_TRUE(writeFile(first, lines.first() + "\n:00000001FF\r\n"));
    run = rig.cli({"image", "put", first});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "Adr:0 Done\n");
    EXPECT_EQ(rig.cli({"send", "CM", "--start", "M"}).out, "+04321\n");

    // A file that is no image, and calls that make no sense.
    ASSERT_TRUE(writeFile(rig.filePath("notes.qmi"), "hello\n"));
    run = rig.cli({"image", "put", rig.filePath("notes.qmi")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("is not a settings image: line 1 does not start with \":\""))
        << run.err.toStdString();
    EXPECT_EQ(rig.cli({"image", "get"}).exitCode, 2);
    EXPECT_EQ(rig.cli({"image", "get", file, "--from", "3"}).exitCode, 2);
    EXPECT_EQ(rig.cli({"image", "put", file, "--to", "64"}).exitCode, 2);
    // A range that would send to no address at all is said, not run as a silent failure.
    for (const QStringList& range : {QStringList{"--from", "5"}, QStringList{"--from", "5", "--to", "4"}}) {
        run = rig.cli(QStringList{"image", "put", file} + range);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.startsWith("tarvo-cli image: --")) << run.err.toStdString();
    }
}

TEST(FlashCommand, AFirmwareOrKernelThatCannotBeProgrammedSendsNothingAndNeverErases) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.start({"--boot", "--device", "line=1,id=4110,baud=115200"}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    QByteArray kernel(1024, '\0');
    for (int i = 0; i < kernel.size(); ++i)
        kernel[i] = char(i * 5);
    const QByteArray goodKernel = sRecords(kernel, 0xF780);
    ASSERT_TRUE(writeFile(rig.filePath("Prog41.a20"), goodKernel));
    ASSERT_TRUE(writeFile(rig.filePath("short.a20"), sRecords(kernel.left(512), 0xF780)));
    ASSERT_TRUE(writeFile(rig.filePath("high.hex"), ":02C0000011220B\n:00000001FF\n"));
    ASSERT_TRUE(writeFile(rig.filePath("empty.hex"), ":00000001FF\n"));
    ASSERT_TRUE(writeFile(rig.filePath("new.s19"), sRecords(sampleBinary(128), 0x0400)));

    for (const char* name : {"high.hex", "empty.hex"}) {
        const CliRun run =
            rig.cli({"flash", rig.filePath(name), "--kernel", rig.filePath("Prog41.a20"), "--fixture"});
        EXPECT_EQ(run.exitCode, 4) << name;
        EXPECT_TRUE(run.err.contains("nothing was sent")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(name == QLatin1String("high.hex")
                                         ? "data outside the programmable addresses 0000 to 7FFF"
                                         : "file holds no data to program"))
            << run.err.toStdString();
    }
    const CliRun run =
        rig.cli({"flash", rig.filePath("new.s19"), "--kernel", rig.filePath("short.a20"), "--fixture"});
    EXPECT_EQ(run.exitCode, 4) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(rig.filePath("short.a20").toLocal8Bit() +
                                 ": holds 512 of the kernel's 1024 bytes at F780 to FB7F. Nothing was sent."))
        << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("Unable to open Prog41.a20...Programing NOT possible!"));
    // The boot monitor heard nothing: still waiting for its first sync byte, never erased.
    EXPECT_EQ(sim.control("boot 1 0 state"), "erases=0 passes=0 records=0 mode=sync");
}

TEST(FlashCommand, AnInterruptFinishesTheRecordSendsTheEndRecordAndSaysWhatTheDeviceHolds) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.start({"--boot", "--device", "line=1,id=4110,baud=115200"}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    QByteArray kernel(1024, '\0');
    for (int i = 0; i < kernel.size(); ++i)
        kernel[i] = char(i * 11);
    ASSERT_TRUE(writeFile(rig.filePath("Prog41.a20"), sRecords(kernel, 0xF780)));
    ASSERT_TRUE(writeFile(rig.filePath("full.s19"), sRecords(sampleBinary(0x8000, 4), 0x0000)));

    QProcess flash;
    flash.setProcessEnvironment(rig.environment());
    flash.start(programPath("tarvo-cli"),
                {"flash", rig.filePath("full.s19"), "--kernel", rig.filePath("Prog41.a20"), "--fixture"});
    ASSERT_TRUE(flash.waitForStarted(5000));
    // Once the firmware's records go out (records of 256), the operator presses Ctrl+C.
    QByteArray err;
    const QRegularExpression records("progress: ([0-9]+)/256\n");
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000 && flash.state() == QProcess::Running) {
        flash.waitForReadyRead(200);
        err += flash.readAllStandardError();
        int sent = 0;
        for (const QRegularExpressionMatch& m : records.globalMatch(QString::fromLocal8Bit(err)))
            sent = m.captured(1).toInt();
        if (sent >= 2)
            break;
    }
    ASSERT_EQ(flash.state(), QProcess::Running) << err.toStdString();
    ASSERT_EQ(::kill(pid_t(flash.processId()), SIGINT), 0);
    ASSERT_TRUE(flash.waitForFinished(20000));
    err += flash.readAllStandardError();
    EXPECT_EQ(flash.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(flash.exitCode(), 130) << err.toStdString();
    const QRegularExpressionMatch said =
        QRegularExpression("interrupted: the device was erased and ([0-9]+) of 256 records were programmed "
                           "\\(the end record was sent\\): it is partly programmed. Run flash again before "
                           "using the device.\n")
            .match(QString::fromLocal8Bit(err));
    ASSERT_TRUE(said.hasMatch()) << err.toStdString();
    const int done = said.captured(1).toInt();
    EXPECT_GE(done, 2);
    EXPECT_LT(done, 256);
    EXPECT_FALSE(err.contains("Programming Done!"));
    // The monitor took every record it acknowledged and then the end record: it left record mode.
    EXPECT_EQ(sim.control("boot 1 0 state"), QString("erases=2 passes=2 records=%1 mode=ended").arg(done));
}

TEST(ImageCommand, AGetFromADeviceThatNeverEndsSaysWhyAndStartsTheGrossStreamAgain) {
    SimulatorProcess sim;
    ASSERT_TRUE(sim.start({"--device", "line=1,id=4110,baud=115200"}));
    ProgramRig rig;
    ASSERT_TRUE(rig.writeSettings(sim.linePath(1)));
    ASSERT_EQ(sim.control("image 1 0 endless"), "ok");

    const QString file = rig.filePath("device.qmi");
    const CliRun run = rig.cli({"image", "get", file}, 60000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.contains("Get Image: the device kept sending records for 15 s without the end "
                                 "record; " +
                                 file.toLocal8Bit() + " was not written."))
        << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(file));

    // "SG" reached the device: it sends its gross weight again, not records.
    QSerialPort port(sim.linePath(1));
    port.setBaudRate(115200);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite));
    QTest::qWait(300);
    port.readAll();
    QByteArray heard;
    QElapsedTimer clock;
    clock.start();
    while (heard.count('\r') < 5 && clock.elapsed() < 5000) {
        port.waitForReadyRead(100);
        heard += port.readAll();
    }
    const QList<QByteArray> lines = heard.split('\r');
    ASSERT_GE(lines.size(), 5) << heard.toStdString();
    for (int i = 1; i < 4; ++i) // the first may be cut by the opening
        EXPECT_TRUE(lines[i].startsWith('G')) << heard.toStdString();
}
