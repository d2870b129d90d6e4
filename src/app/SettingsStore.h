#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarvo {

class CommandLink;
class Discovery;
class LiveReadout;
class PortSelection;

// Page settings whose subsystems keep them as plain values until they take them over: the trigger,
// graph, data-file, long-term and multi-command entries and the scope's vertical range.
struct PageSettings {
    enum class Separator { Comma, Semicolon, Other };

    QString triggerLevel = QStringLiteral("15");
    QString sampleTime = QStringLiteral("1000");
    QString waitForTrigger = QStringLiteral("10 sec.");
    QString graphName = QStringLiteral(">Change this text in Graph Options<");
    QString units = QStringLiteral("n");
    // The separator entry's text; the choice follows it (",", ";" or any other text).
    QString fileSeparator = QStringLiteral(",");
    Separator separatorChoice = Separator::Comma;
    QString customSeparator;
    double worldTop = 9000.0;
    double worldBottom = -100.0;
    bool longTermSampleEnable = false;
    QString useEverySample = QStringLiteral("10");
    bool useStatusInformation = false;
    QString multiCommandString;
    QString loopTime = QStringLiteral("1000");

    void setFileSeparator(const QString& text);
};

// The serial port and CAN choices. Read with the rest and applied on their own: applying them opens the
// port they name, which the window does once it is on screen.
struct PortSettings {
    int baud = 115200;
    int com = 1;
    bool canBus = false;
    // Absent, or not a number: the choice stays as it is.
    std::optional<int> canDeviceAddress;
    std::optional<int> canNodePosition;
    std::optional<int> canSpeedPosition;
};

// "Tarvo.ini": read once at start, written once at the end. Reading applies every value without any
// device traffic and without a box; writing keeps every section and key it does not know and replaces
// the file in one step.
class SettingsStore {
public:
    struct Targets {
        CommandLink& comm;
        PortSelection& ports;
        LiveReadout& readout;
        Discovery& discovery;
        PageSettings& page;
    };

    // Empty when the file was read or is not there; otherwise why a file that is there could not be
    // read (the defaults apply). Such a file is never written: writeSettings and writeKernelPath refuse.
    // Text settings longer than kMaxTextLength are cut to it; cut receives their keys.
    // The port settings go to ports, to be applied with applyPortSettings.
    static QString readSettings(const QString& path, const Targets& targets, PortSettings& ports,
                                QStringList* cut = nullptr);
    static constexpr qsizetype kMaxTextLength = 1024;
    // Opens the port the settings name (or the first of COM1..COM4 that is there) and makes the choices.
    static void applyPortSettings(const PortSettings& settings, const Targets& targets);
    // Empty when the file was written; otherwise the system's reason, and the file on the disk is the
    // old one, untouched. Without withPorts, the port and CAN keys stay as the file has them: settings
    // never applied are not replaced by what the link happens to hold.
    static QString writeSettings(const QString& path, const Targets& targets, bool withPorts = true);

    // The programming kernel's path (section "Programing", key "Prog41FilePath"): only the firmware
    // upgrade reads it, and writes it at once when the operator chose another kernel.
    static QString readKernelPath(const QString& path, const QString& fallback);
    // Empty when written; otherwise the system's reason.
    static QString writeKernelPath(const QString& path, const QString& kernelPath);
};

} // namespace tarvo
