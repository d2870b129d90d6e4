#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace tarvo {

// SIGINT, SIGTERM and SIGHUP as events of the event loop: the first one is handed to the program, which ends
// the way a normal close would (a recording stopped and written, the settings saved); a second one ends
// the process at once with exitStatus. The default handling comes back when this object goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(int exitStatus, QObject* parent = nullptr);
    ~TerminationSignals() override;

    // A signal came (the event loop may not have delivered it yet).
    static bool pending();

signals:
    void received(int signalNumber);

private:
    void pipeReadable();
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace tarvo
