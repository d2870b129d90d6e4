// The stream path behind the stream matcher: the dispatcher and its decoders, fed arbitrary lines under
// every start string (value lines, status packets of any length, one-shot replies, settings-image
// lines), on the serial and the CAN link, for every device group, with the run panel in STOP, RUN,
// PAUSE or TRIGGER and the sample options set either way. The recording must stay inside its memory.
#include "FuzzEntry.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "engine/SimulatedPort.h"
#include "link/CanExchange.h"
#include "link/CommandLink.h"
#include "measure/Acquisition.h"
#include "measure/GraphModel.h"
#include "measure/LiveReadout.h"
#include "measure/RecordingMemory.h"
#include "measure/StreamDispatcher.h"

#include <memory>

using namespace tarvo;
using tarvo::fuzz::FuzzInput;

namespace {

constexpr int kIdentities[] = {0, 4110, 4113, 5113, 4313, 3010, 6110, 4114, 5114, 4314, 5115, 9999};
const char* const kStartStrings[] = {"G", "N", "P", "A+", "D+", ":"};

// The device's side of RUN and TRIGGER, answered at once over the CAN link's exchange, so that every
// input can start from a fresh run panel without waiting for a line.
class AnsweringBridge : public CanExchange {
public:
    QByteArray lossDecimals = "00002";
    std::optional<QByteArray> exchange(const QByteArray& line) override {
        if (line == "DX\r")
            return QByteArray("X:001\r");
        if (line == "ID\r")
            return QByteArray("D:4110\r");
        if (line == "PL1\r")
            return "P1:+" + lossDecimals + '\r';
        return QByteArray("OK\r");
    }
};

// The measuring side, kept for every input as the program keeps it.
struct StreamRig {
    StreamRig() {
        TimeScale::setFactor(0.001);
        link = std::make_unique<CommandLink>(std::make_unique<devsim::SimulatedPort>(), op);
        link->setCanExchange(&bridge);
        MeasureHooks hooks;
        hooks.deviceIdentity = [this] { return identity; };
        hooks.anySerialPort = [] { return true; };
        acquisition = std::make_unique<Acquisition>(*link, op, readout, memory, graph, hooks);
        dispatcher = std::make_unique<StreamDispatcher>(*link, op, readout, memory, graph, *acquisition,
                                                        [this] { return identity; });
    }

    SilentOperator op;
    AnsweringBridge bridge;
    std::unique_ptr<CommandLink> link;
    LiveReadout readout;
    RecordingMemory memory;
    GraphModel graph;
    std::unique_ptr<Acquisition> acquisition;
    std::unique_ptr<StreamDispatcher> dispatcher;
    int identity = 4110;
};

} // namespace

TARVO_FUZZ_ENTRY(stream) {
    fuzz::ensureApplication();
    static StreamRig rig;
    Acquisition& acq = *rig.acquisition;
    FuzzInput in(data, size);

    // The run panel first, with the device's answers at hand.
    rig.link->setLinkKind(Link::Can);
    rig.link->streamMatcher().setEnabled(false);
    if (acq.triggerDown())
        acq.triggerClicked(false);
    acq.stopClicked();
    acq.setSelectedSlot(1 + in.pick(kGraphSlots));
    rig.readout.restoreAutotransmit(in.flag() ? QStringLiteral("SG") : QStringLiteral("SN"));
    rig.identity = kIdentities[in.pick(std::size(kIdentities))];
    rig.bridge.lossDecimals = "0000" + QByteArray::number(in.pick(10));
    acq.options().setUseStatusInformation(in.flag());
    acq.options().setLongTermSampleEnable(in.flag());
    acq.options().setUseEvery(in.pick(6));
    const int mode = in.pick(4);
    if (mode == 1 || mode == 2) {
        acq.runClicked();
        if (mode == 2)
            acq.pauseClicked(true);
    } else if (mode == 3) {
        acq.options().setRetrigAfterDraw(in.flag());
        acq.triggerClicked(true);
    }
    rig.link->streamMatcher().setEnabled(false); // only the lines below reach the dispatcher

    rig.link->setLinkKind(in.flag() ? Link::Can : Link::Com);
    const int startChoice = in.pick(std::size(kStartStrings) + 1);
    const QByteArray start = startChoice < int(std::size(kStartStrings))
                                 ? QByteArray(kStartStrings[startChoice])
                                 : in.bytes(in.pick(3));
    rig.link->streamMatcher().setStartString(start);

    // The rest, line by line as the matcher frames them.
    const QByteArray payload = in.rest();
    for (const QByteArray& text : payload.split('\r')) {
        rig.dispatcher->dispatch(text);
        FUZZ_REQUIRE(acq.sampleIndex() >= 0 && acq.sampleIndex() <= kMaxSamples);
        FUZZ_REQUIRE(acq.captureCount() >= 0 && acq.captureCount() <= kMaxSamples);
    }
    const GraphSlot& slot = rig.memory.slot(acq.selectedSlot());
    FUZZ_REQUIRE(slot.count >= 0 && slot.count <= kMaxSamples);
    rig.link->setLinkKind(Link::Com);
    return 0;
}
