// tarvo-cli flash and tarvo-cli image against the real simulator on a pseudo-terminal: the boot monitor
// with wire time for the flash, a transmitter's settings image for get and put.
#include "firmware/FirmwareFiles.h"
#include "support/ProgramRig.h"
#include "support/QtPrinters.h"

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
    EXPECT_TRUE(run.err.contains("progress: 32768/128\n")) << run.err.toStdString();
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
}
