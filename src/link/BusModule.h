#pragma once

#include "CanAdapter.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

namespace tarvo {

// One interface of a Qt CAN plugin, as the bus module opens it.
class CanPluginPort {
public:
    virtual ~CanPluginPort() = default;
    // Opens the interface; a plugin that sets the bit rate itself is given bitsPerSecond and checked to
    // have taken it (a SocketCAN interface's rate is the system's, and Qt's virtual bus has none). 0 on
    // success, otherwise a status code with problem() saying what went wrong.
    virtual std::uint32_t open(int bitsPerSecond) = 0;
    // As CanAdapter's calls of the same names, on an opened interface.
    virtual std::uint32_t write(const CanMessage& message) = 0;
    virtual std::uint32_t read(CanMessage* message) = 0;
    virtual std::uint32_t close() = 0;
    virtual void waitForFrames(int ms) = 0;
    virtual bool isOpen() const = 0;
    virtual const QString& problem() const = 0;
};

// What the programs do through Qt's CAN bus and network libraries. Those sit in a module of their own,
// loaded when first needed: linked into the programs, they and what they bring (Kerberos, the proxy
// library) would be loaded at every start, CAN or not.
class BusModule {
public:
    virtual ~BusModule() = default;
    // An interface of the place's plugin, not yet opened.
    virtual std::unique_ptr<CanPluginPort> canPort(const CanAdapterPlace& place) = 0;
    // The body of what location (http, https or file) serves; empty on any failure and once
    // timeLimitMs have passed.
    virtual QByteArray fetch(const QString& location, int timeLimitMs) = 0;

    // The module, loaded on first use and kept; nullptr when it cannot be, with the reason in plain
    // words in problem.
    static BusModule* load(QString* problem);
    // Where load() finds it: beside the programs, as installed or as built.
    static QString path();
    // The module at path, each time anew (load() keeps the first); as load() when it cannot be.
    static BusModule* loadFrom(const QString& path, QString* problem);
};

} // namespace tarvo

// The module's one exported function: it returns its BusModule as void*, as every module's entry does.
#define TARVO_BUS_MODULE_ENTRY "tarvoBusModule"
