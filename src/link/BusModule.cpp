#include "BusModule.h"

#include "base/ProgramModule.h"

namespace tarvo {

namespace {
struct Loaded {
    BusModule* module = nullptr;
    QString problem;
};
} // namespace

QString BusModule::path() {
    return ProgramModule::path(TARVO_BUS_MODULE_FROM_PROGRAMS);
}

BusModule* BusModule::loadFrom(const QString& path, QString* problem) {
    return static_cast<BusModule*>(ProgramModule::open(
        path, TARVO_BUS_MODULE_ENTRY, QStringLiteral("The CAN and network support"), problem));
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
