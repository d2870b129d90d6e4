#pragma once

#include "WeightProfile.h"

#include <QString>
#include <optional>

namespace devsim {

// Everything that makes one simulated transmitter what it is when the simulator starts.
struct DeviceConfig {
    int identity = 4110;
    QString firmware = QStringLiteral("1.00");
    // 0..63: the device shares its line and answers only once "OP" + this address has opened it.
    // None: it answers whatever it hears at its rate, as a transmitter alone on its line does.
    std::optional<int> address;
    int baud = 115200;  // the rate it listens at now
    int storedBaud = 0; // the rate it comes back at after a reset; 0 = the same as baud
    bool fullDuplex = true;
    int decimals = 1;
    double weight = 0.0; // gross, in display units
    double tare = 0.0;
    int updateMs = 100;      // one value line per this many ms; 0: as fast as the line carries them
    int packetUpdateMs = 20; // one status packet per this many ms
    int resetMs = 1500;      // how long a reset keeps the device silent
    int settleMs = 300;      // how long after a weight change the no-motion bit comes back; -1: never
    // What the device sends from power-on without being asked, as a transmitter with autotransmit on:
    // "SG", "SN", "SA" or "GP" (status packets); empty for a quiet line.
    QByteArray autotransmit;
    // From 0: value lines sent without being asked carry this count, then one more each line (wrapping
    // after 99999), instead of the weight, so that a reader can tell a lost or repeated line from the
    // values alone. -1: they carry the weight.
    int counterStart = -1;
    WeightProfile::Settings profile;
    // The profile read through the device's own filter: its setting ("FM", "FL", "UR") decides the
    // settling time and how much of the profile's noise (its amplitude, unfiltered) gets through.
    bool filterModel = false;

    static bool isValidBaud(int baud);
    static bool isValidWeight(double weight);
    // Parses "line=1,id=4114,fw=2.10,addr=5,baud=38400,duplex=1,decimals=1,weight=123.4,update=100" and
    // the weight profile's keys ("profile=step,load=50", WeightProfile), every key optional. lineNumber
    // receives the line key (1 when absent).
    static bool fromText(const QString& text, DeviceConfig* config, int* lineNumber, QString* error);
};

} // namespace devsim
