#include "BusModule.h"

#include "base/ProgramModule.h"

namespace tarvo {

namespace {
const QString kWhat = QStringLiteral("The CAN and network support");
} // namespace

QString BusModule::path() {
    return ProgramModule::path(TARVO_BUS_MODULE_FROM_PROGRAMS);
}

BusModule* BusModule::loadFrom(const QString& path, QString* problem) {
    return static_cast<BusModule*>(ProgramModule::open(path, TARVO_BUS_MODULE_ENTRY, kWhat, problem));
}

BusModule* BusModule::load(QString* problem) {
    static const ProgramModule::Once once(path(), TARVO_BUS_MODULE_ENTRY, kWhat);
    return static_cast<BusModule*>(once.module(problem));
}

} // namespace tarvo
