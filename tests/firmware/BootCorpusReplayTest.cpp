// Every seed of the kernel and settings-image fuzzers and every input that ever crashed them, run
// through their readers in the sanitizer build, so a regression shows without running a fuzzer.
#include "firmware/ImageCapture.h"
#include "firmware/KernelFile.h"
#include "firmware/SettingsImageFile.h"
#include "link/PacketMatcher.h"
#include "support/TestPaths.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace tarvo;

namespace {

QList<QByteArray> inputs(const QString& folder) {
    QList<QByteArray> all;
    const QDir dir(tarvo::test::sourceDir() + "/fuzz/" + folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (name == ".gitkeep")
            continue;
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        all << file.readAll();
    }
    return all;
}

} // namespace

TEST(BootCorpusReplay, KernelSeedsAndPastCrashesReadSafely) {
    const QList<QByteArray> seeds = inputs("corpus/kernel");
    ASSERT_GE(seeds.size(), 5) << "seed corpus missing";
    KernelFile kernel; // one for all, as the upgrade keeps one
    int usable = 0;
    for (const QByteArray& bytes : seeds + inputs("crashes/kernel")) {
        const KernelFile::State state = kernel.readText(bytes);
        EXPECT_NE(state, KernelFile::State::OpenFailed);
        EXPECT_LE(kernel.dataBytes(), KernelFile::kBufferSize);
        // Usable only as a whole, clean kernel; anything else says why.
        if (kernel.usable()) {
            EXPECT_EQ(state, KernelFile::State::Ok);
            EXPECT_EQ(kernel.dataBytes(), KernelFile::kKernelSize);
        } else {
            EXPECT_FALSE(kernel.problem().isEmpty());
        }
        usable += kernel.usable() ? 1 : 0;
    }
    EXPECT_GE(usable, 1); // good.a20 still reads as a kernel
}

TEST(BootCorpusReplay, SettingsImageSeedsAndPastCrashesAreCapturedAndReadSafely) {
    const QList<QByteArray> seeds = inputs("corpus/settingsimage");
    ASSERT_GE(seeds.size(), 5) << "seed corpus missing";
    int complete = 0;
    int accepted = 0;
    for (const QByteArray& bytes : seeds + inputs("crashes/settingsimage")) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        ImageCapture capture;
        capture.start(&out);
        QByteArray expected;
        bool ended = false;
        PacketMatcher matcher;
        matcher.setStartString(":");
        matcher.setEndString("\r");
        matcher.setEndConditions(PacketMatcher::EndString);
        matcher.setAutoEnable(true);
        matcher.onPacket = [&](QByteArrayView text) {
            if (!capture.active())
                return;
            const ImageCapture::Outcome outcome = capture.line(text);
            if (outcome == ImageCapture::Outcome::Continue || outcome == ImageCapture::Outcome::Complete)
                expected += ':' + text.toByteArray() + "\r\n";
            ended = outcome == ImageCapture::Outcome::Complete;
        };
        matcher.arm();
        matcher.setEnabled(true);
        matcher.feed(bytes);
        EXPECT_EQ(out.buffer(), expected);
        EXPECT_EQ(ended, out.buffer().endsWith(":00000001FF\r\n") && !capture.active());
        complete += ended ? 1 : 0;

        const SettingsImageFile::Text image = SettingsImageFile::join(bytes);
        if (image.problem.isEmpty()) {
            ++accepted;
            EXPECT_TRUE(image.text.startsWith(':') && image.text.endsWith(":00000001FF"));
            EXPECT_FALSE(image.text.contains('\r') || image.text.contains('\n'));
        } else {
            EXPECT_TRUE(image.text.isEmpty());
        }
    }
    EXPECT_GE(complete, 2);
    EXPECT_GE(accepted, 2);
}
