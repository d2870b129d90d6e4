// The CAN and network support is a module loaded when first needed: found beside the programs, and
// anything else at its place (nothing, a folder, a pipe, a file that is not a library, a library that is
// not the module) gives a reason in plain words, at once.
#include "link/BusModule.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtGlobal>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tarvo;

TEST(BusModule, IsFoundBesideTheProgramsAndAnythingElseAtItsPlaceIsRefusedWithTheReason) {
    QString problem;
    BusModule* module = BusModule::load(&problem);
    ASSERT_NE(module, nullptr) << problem.toStdString();
    EXPECT_TRUE(QFileInfo(BusModule::path()).isFile());
    EXPECT_EQ(BusModule::load(nullptr), module);
    // Through the module: an interface of a plugin Qt does not have.
    std::unique_ptr<CanPluginPort> port = module->canPort({QStringLiteral("no-such-plugin"), "can0"});
    EXPECT_EQ(port->open(125000), CanStatus::kNoDriver);
    EXPECT_TRUE(port->problem().startsWith("The CAN plugin \"no-such-plugin\" cannot be loaded"));
    EXPECT_FALSE(port->isOpen());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pipe = dir.filePath("pipe.so");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QFile text(dir.filePath("text.so"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a library\n");
    text.close();
    Dl_info qtCore{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&qVersion), &qtCore), 0);
    const struct {
        QString path;
        const char* reason;
    } refused[] = {
        {dir.filePath("absent.so"), "there is no such file"},
        {dir.path(), "it is not a regular file"},
        {pipe, "it is not a regular file"},
        {text.fileName(), ""}, // the loader's own words
        {QString::fromLocal8Bit(qtCore.dli_fname), "it has no tarvoBusModule"},
    };
    for (const auto& place : refused) {
        QElapsedTimer took;
        took.start();
        problem.clear();
        EXPECT_EQ(BusModule::loadFrom(place.path, &problem), nullptr) << place.path.toStdString();
        EXPECT_LT(took.elapsed(), 5000) << place.path.toStdString();
        EXPECT_TRUE(problem.startsWith(
            QStringLiteral("The CAN and network support (%1) cannot be loaded: ").arg(place.path)))
            << problem.toStdString();
        EXPECT_TRUE(problem.endsWith(QLatin1String(place.reason))) << problem.toStdString();
        EXPECT_GT(problem.size(), place.path.size() + 48) << problem.toStdString();
    }
}
