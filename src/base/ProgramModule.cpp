#include "ProgramModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <dlfcn.h>

namespace tarvo::ProgramModule {

namespace {
// Where the programs are, as built or installed.
QString programDirectory() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}
} // namespace

QString path(const char* fromPrograms) {
    return QDir::cleanPath(programDirectory() + QLatin1Char('/') + QString::fromUtf8(fromPrograms));
}

void* open(const QString& path, const char* entry, const QString& what, QString* problem) {
    const auto failed = [&](const QString& why) -> void* {
        if (problem)
            *problem = QStringLiteral("%1 (%2) cannot be loaded: %3").arg(what, path, why);
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
    // Every module's entry takes nothing and returns its one object.
    using Entry = void* (*)();
    auto made = reinterpret_cast<Entry>(dlsym(handle, entry));
    if (!made)
        return failed(QStringLiteral("it has no %1").arg(QLatin1String(entry)));
    void* module = made();
    if (!module)
        return failed(QStringLiteral("it gave nothing"));
    return module;
}

} // namespace tarvo::ProgramModule
