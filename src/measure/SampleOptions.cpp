#include "SampleOptions.h"

#include "base/NumberText.h"
#include "base/Operator.h"

#include <iterator>

namespace tarvo {

namespace {
constexpr int kWaitForTriggerMs[] = {10000, 20000, 30000, 40000, 50000, 60000, 0};
constexpr int kUseEvery[] = {1, 10, 100, 1000, 10000, 100000};
} // namespace

const QStringList& SampleOptions::waitForTriggerTexts() {
    static const QStringList texts{"10 sec.", "20 sec.", "30 sec.", "40 sec.",
                                   "50 sec.", "60 sec.", "Infinite"};
    return texts;
}

const QStringList& SampleOptions::useEveryTexts() {
    static const QStringList texts{"1", "10", "100", "1000", "10000", "100000"};
    return texts;
}

void SampleOptions::triggerLevelEdited(const QString& text) {
    triggerLevel_ = text;
    op_.showInfoLine(Page::Options, QString());
    if (!isValidNumber(text, 0, 99999))
        op_.showInfoLine(Page::Options, QString::fromLatin1(kTriggerLevelRange));
}

void SampleOptions::sampleTimeEdited(const QString& text) {
    sampleTimeText_ = text;
    op_.showInfoLine(Page::Options, QString());
    if (isValidNumber(text, 0, 200000))
        sampleTime_ = text.toInt();
    else
        op_.showInfoLine(Page::Options, QString::fromLatin1(kSampleTimeRange));
}

void SampleOptions::restoreSampleOptions(const QString& triggerLevel, const QString& sampleTime) {
    triggerLevel_ = triggerLevel;
    sampleTimeText_ = sampleTime;
    if (isValidNumber(sampleTime, 0, 200000))
        sampleTime_ = sampleTime.toInt();
}

bool SampleOptions::triggerEntriesValid() const {
    return isValidNumber(triggerLevel_, 0, 99999) && isValidNumber(sampleTimeText_, 0, 200000);
}

void SampleOptions::setWaitForTrigger(int index) {
    if (index >= 0 && index < static_cast<int>(std::size(kWaitForTriggerMs)))
        waitForTrigger_ = index;
}

int SampleOptions::waitForTriggerMs() const {
    return kWaitForTriggerMs[waitForTrigger_];
}

void SampleOptions::setUseEvery(int index) {
    if (index >= 0 && index < static_cast<int>(std::size(kUseEvery)))
        useEvery_ = index;
}

int SampleOptions::useEveryValue() const {
    return kUseEvery[useEvery_];
}

bool SampleOptions::takesThinnedPacket() {
    if (useEveryValue() >= thinning_) {
        ++thinning_;
        return false;
    }
    thinning_ = 1;
    return true;
}

} // namespace tarvo
