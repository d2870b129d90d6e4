#include "SimulatedPorts.h"

#include "Line.h"
#include "SimulatedPort.h"

#include <array>

namespace devsim {

namespace {

struct Slot {
    QPointer<Line> line;
    QPointer<SimulatedPort> open;
};

std::array<Slot, SimulatedPorts::lastCom + 1>& registry() {
    static std::array<Slot, SimulatedPorts::lastCom + 1> table;
    return table;
}

bool inRange(int com) {
    return com >= SimulatedPorts::firstCom && com <= SimulatedPorts::lastCom;
}

} // namespace

bool SimulatedPorts::attach(int com, Line* line) {
    if (!inRange(com))
        return false;
    registry()[size_t(com)].line = line;
    return true;
}

void SimulatedPorts::detach(int com) {
    if (inRange(com))
        registry()[size_t(com)].line = nullptr;
}

void SimulatedPorts::clear() {
    for (int com = firstCom; com <= lastCom; ++com)
        detach(com);
}

Line* SimulatedPorts::line(int com) {
    return inRange(com) ? registry()[size_t(com)].line.data() : nullptr;
}

void SimulatedPorts::unplug(int com) {
    if (!inRange(com))
        return;
    detach(com);
    if (SimulatedPort* port = openPort(com))
        port->simulateUnplug();
}

SimulatedPort* SimulatedPorts::openPort(int com) {
    return inRange(com) ? registry()[size_t(com)].open.data() : nullptr;
}

void SimulatedPorts::setOpenPort(int com, SimulatedPort* port) {
    if (inRange(com))
        registry()[size_t(com)].open = port;
}

} // namespace devsim
