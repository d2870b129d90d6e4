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
    Mxr41Groups groups = mxr41Groups_;
    if (isOneOf(identity, {4113, 5113, 4114, 5114, 3010})) {
        mxr41Filter_.readBack(link_.linkKind() == Link::Can);
        groups = {};
        groups.modeLevelRate = true;
    }
    if (isOneOf(identity, {4115, 5115}))
        groups = {true, false, false, false, true};
    else if (isOneOf(identity, {4113, 5113, 3010}))
        groups = {false, true, false, false, true};
    else if (isOneOf(identity, {4114, 5114}))
        groups = {false, false, true, false, true};
    else if (identity == 4110)
        groups = {false, false, false, true, false};
    setMxr41Groups(groups);
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
