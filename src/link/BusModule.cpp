#include "BusModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <dlfcn.h>

namespace tarvo {

namespace {
// Where the programs are, as built or installed; the module's path is taken from there
// (TARVO_BUS_MODULE_FROM_PROGRAMS is relative to it).
QString programDirectory() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

struct Loaded {
    BusModule* module = nullptr;
    QString problem;
};
} // namespace

QString BusModule::path() {
    return QDir::cleanPath(programDirectory() + QLatin1Char('/') +
                           QStringLiteral(TARVO_BUS_MODULE_FROM_PROGRAMS));
}

BusModule* BusModule::loadFrom(const QString& path, QString* problem) {
    const auto failed = [&](const QString& why) -> BusModule* {
        if (problem)
            *problem = QStringLiteral("The CAN and network support (%1) cannot be loaded: %2").arg(path, why);
        return nullptr;
    };
    // Opening a pipe or a device would wait on it.
    const QFileInfo file(path);
    if (!file.exists())
        return failed(QStringLiteral("there is no such file"));
    if (!file.isFile())
        return failed(QStringLiteral("it is not a regular file"));
    // Kept loaded for the rest of the run: its objects live as long as the program.
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return failed(QString::fromLocal8Bit(dlerror()));
    auto entry = reinterpret_cast<TarvoBusModuleEntry>(dlsym(handle, TARVO_BUS_MODULE_ENTRY));
    if (!entry)
        return failed(QStringLiteral("it has no %1").arg(QLatin1String(TARVO_BUS_MODULE_ENTRY)));
    BusModule* module = entry();
    if (!module)
        return failed(QStringLiteral("it gave nothing"));
    return module;
}

BusModule* BusModule::load(QString* problem) {
    static const Loaded loaded = [] {
        Loaded first;
        first.module = loadFrom(path(), &first.problem);
        return first;
    }();
    if (!loaded.module && problem)
        *problem = loaded.problem;
    return loaded.module;
}

} // namespace tarvo
