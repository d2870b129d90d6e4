#include "FamilyPages.h"

#include "CheckWeigherParameters.h"
#include "FilterSettings.h"
#include "TrackBarFilter.h"
#include "base/EventWait.h"
#include "base/Operator.h"
#include "base/TimeScale.h"
#include "link/CommandLink.h"
#include "link/SerialPort.h"

#include <algorithm>

namespace tarvo {

namespace {
bool isOneOf(int identity, std::initializer_list<int> list) {
    return std::find(list.begin(), list.end(), identity) != list.end();
}

// The MXR 41xx page by model: which groups it shows and whether it reads the filter back. A model
// not listed leaves the page as it was.
struct Mxr41Model {
    int identity;
    bool readBack;
    FamilyPages::Mxr41Groups groups; // loss weigher, check-weigher, dosing, track bars, mode/level/rate
};
constexpr Mxr41Model kMxr41Models[] = {
    {4115, false, {true, false, false, false, true}}, {5115, false, {true, false, false, false, true}},
    {4113, true, {false, true, false, false, true}},  {5113, true, {false, true, false, false, true}},
    {3010, true, {false, true, false, false, true}},  {4114, true, {false, false, true, false, true}},
    {5114, true, {false, false, true, false, true}},  {4110, false, {false, false, false, true, false}},
};
} // namespace

FamilyPages::FamilyPages(CommandLink& link, PortSelection& ports, Operator& op, FilterSettings& mxr41Filter,
                         FilterSettings& tcw43Filter, TrackBarFilter& trackBar,
                         CheckWeigherParameters& checkWeigher, ConfigHooks hooks, QObject* parent)
    : QObject(parent), link_(link), ports_(ports), op_(op), mxr41Filter_(mxr41Filter),
      tcw43Filter_(tcw43Filter), trackBar_(trackBar), checkWeigher_(checkWeigher), hooks_(std::move(hooks)) {
    tcw43Reshow_.setSingleShot(true);
    connect(&tcw43Reshow_, &QTimer::timeout, this, &FamilyPages::tcw43PageReshown);
}

void FamilyPages::stopStream() {
    PacketMatcher& stream = link_.streamMatcher();
    stream.setEnabled(false);
    stream.disarm();
}

void FamilyPages::startStream() {
    PacketMatcher& stream = link_.streamMatcher();
    stream.arm();
    stream.setEnabled(true);
    stream.setAutoEnable(true);
}

void FamilyPages::beginShow(FamilyPage page) {
    hooks_.pageControl(false);
    stopStream();
    op_.showInfoMessage(QString());
    // The page's set-up rate follows the rate the Options page uses.
    ports_.familyBaudClicked(page, ports_.baudChoice());
}

void FamilyPages::setMxr41Groups(const Mxr41Groups& groups) {
    if (mxr41Groups_ == groups)
        return;
    mxr41Groups_ = groups;
    emit changed();
}

void FamilyPages::pageShown(FamilyPage page) {
    switch (page) {
    case FamilyPage::Mxr21:
    case FamilyPage::Mxr23:
        trackBarPageShown(page);
        break;
    case FamilyPage::Mxr41:
        mxr41Shown();
        break;
    case FamilyPage::Tcw43:
        tcw43Shown();
        break;
    }
}

void FamilyPages::pageHidden(FamilyPage page) {
    if (page == FamilyPage::Mxr41)
        checkWeigher_.mxr41PageHidden();
    else if (page == FamilyPage::Tcw43)
        checkWeigher_.tcw43PageHidden();
}

void FamilyPages::mxr41Shown() {
    beginShow(FamilyPage::Mxr41);
    link_.sendAndReceive(link_.port().portNumber(), "ID\r", 1000, Framing::startingWith("D:"));
    const int identity = hooks_.identity();
    const auto* model = std::find_if(std::begin(kMxr41Models), std::end(kMxr41Models),
                                     [identity](const Mxr41Model& m) { return m.identity == identity; });
    if (model != std::end(kMxr41Models)) {
        if (model->readBack)
            mxr41Filter_.readBack(link_.linkKind() == Link::Can);
        setMxr41Groups(model->groups);
    }
    if (identity == 4110) {
        stopStream();
        startStream();
    }
    waitMs(kShowPauseMs);
    hooks_.pageControl(true);
}

void FamilyPages::tcw43Shown() {
    beginShow(FamilyPage::Tcw43);
    const int identity = hooks_.identity();
    if (identity == 6110) {
        tcw43Filter_.setModeGroupVisible(false);
        tcw43Filter_.showIirCaptions();
    } else {
        tcw43Filter_.setModeGroupVisible(true);
    }
    if (!isOneOf(identity, {4310, 4314, 6110})) {
        hooks_.pageControl(true);
        return;
    }
    tcw43Filter_.readBack(false);
    if (!tcw43FilterVisible_) {
        tcw43FilterVisible_ = true;
        emit changed();
    }
    waitMs(kShowPauseMs);
    hooks_.pageControl(true);
    tcw43Reshow_.start(TimeScale::ms(kTcwReshowMs));
}

void FamilyPages::trackBarPageShown(FamilyPage page) {
    beginShow(page);
    trackBar_.pageShown(page == FamilyPage::Mxr21 ? TrackBarFilter::Family::Mxr21
                                                  : TrackBarFilter::Family::Mxr23);
    startStream();
    waitMs(kShowPauseMs);
    hooks_.pageControl(true);
}

} // namespace tarvo
