#pragma once

#include <QPointer>
#include <QString>

namespace devsim {

class Line;
class SimulatedPort;

// Which simulated line sits behind which COM number (1..8) for in-process ports. One registry per
// process, used from the main thread only.
class SimulatedPorts {
public:
    static constexpr int firstCom = 1;
    static constexpr int lastCom = 8;

    static bool attach(int com, Line* line);
    static void detach(int com);
    // Detaches every COM number (tests call it between cases).
    static void clear();
    static Line* line(int com);
    // Pulls the adapter out: the line is detached and a port open on that COM number reports it lost.
    static void unplug(int com);

    // Book-keeping of open ports, so that a COM number opens only once.
    static SimulatedPort* openPort(int com);
    static void setOpenPort(int com, SimulatedPort* port);
};

} // namespace devsim
