// The filter advisor when things go wrong: an adapter pulled out ends the search at once with a clear
// message, and a device that refuses a setting, or the original, ends it as a failure that says so.
#include "app/MainController.h"
#include "base/TimeScale.h"
#include "engine/Device.h"
#include "engine/FilterModel.h"
#include "measure/FilterAdvisor.h"
#include "measure/LiveReadout.h"
#include "support/ControllerRig.h"
#include "support/FakeOperator.h"
#include "support/PtyControllerRig.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;

namespace {

devsim::DeviceConfig filteredDevice() {
    devsim::DeviceConfig config;
    config.identity = 6110;
    config.baud = 115200;
    config.updateMs = 20;
    config.autotransmit = "SN";
    config.filterModel = true;
    bool known = false;
    QString error;
    EXPECT_TRUE(config.profile.setKey("profile", "step", &known, &error));
    EXPECT_TRUE(config.profile.setKey("load", "1000", &known, &error));
    return config;
}

FilterAdvisor::Options shortRun() {
    FilterAdvisor::Options options;
    options.windowMs = 1000;
    options.takeMs = 100;
    return options;
}

} // namespace

TEST(FilterAdvisorTrouble, APulledAdapterEndsTheSearchAtOnceAndSaysSo) {
    TimeScale::setFactor(0.2);
    // Pulled while the second setting is recorded, the device is left with it; while its own (the
    // fourth) is recorded, it holds its own.
    const struct {
        const char* during;
        const char* says;
        const char* holds;
    } pulls[] = {
        {"2 of 9",
         "The device was left with filter 1 instead of its own filter 3: set it again once the device "
         "is back.",
         "filter 1"},
        {"4 of 9", "The device holds its own filter 3.", "filter 3"},
    };
    for (const auto& pulled : pulls) {
        SCOPED_TRACE(pulled.during);
        PtyControllerRig rig(filteredDevice());
        ASSERT_TRUE(rig.start());
        MainController& c = *rig.controller;
        FakeOperator& op = rig.op;
        c.discovery().findDeviceClicked();
        ASSERT_TRUE(c.discovery().found());

        FilterAdvisor advisor(c.link(), op, 6110, c.readout().streamStart(), c.readout().streamCommand());
        QTimer pull;
        pull.setSingleShot(true);
        QElapsedTimer sincePulled;
        QObject::connect(&pull, &QTimer::timeout, [&] {
            rig.pull();
            sincePulled.start();
        });
        QObject::connect(&advisor, &FilterAdvisor::progress, [&](const QString& text) {
            if (text.startsWith(pulled.during) && text.endsWith("recording"))
                pull.start(100);
        });
        FilterAdvisor::Options options = shortRun();
        options.windowMs = 5000; // a second of real time
        const FilterAdvisor::Outcome outcome = advisor.run({1.0, 500}, options);
        ASSERT_TRUE(sincePulled.isValid());
        // At once: not at the end of the recording under way, nor after the other settings' recordings.
        EXPECT_LT(sincePulled.elapsed(), 500);
        EXPECT_EQ(outcome, FilterAdvisor::Outcome::Failed);
        EXPECT_TRUE(advisor.error().startsWith("The port was lost")) << advisor.error().toStdString();
        EXPECT_FALSE(advisor.restoreConfirmed());
        EXPECT_FALSE(advisor.recommended());
        EXPECT_LT(advisor.trials().size(), 9);
        // Nothing could be put back: the operator learns what the device was left with.
        ASSERT_TRUE(advisor.original());
        EXPECT_EQ(advisor.original()->name(), "filter 3");
        EXPECT_TRUE(advisor.error().endsWith(pulled.says)) << advisor.error().toStdString();
        EXPECT_TRUE(advisor.reportText().contains(
            QString("Device holds;%1 (the port was lost)\n").arg(pulled.holds).toUtf8()))
            << advisor.reportText().toStdString();
        c.shutdown();
    }
    TimeScale::setFactor(1.0);
}

TEST(FilterAdvisorTrouble, ARefusedSettingOrOriginalIsAFailureThatSaysSo) {
    ControllerRig rig(filteredDevice(), 0.2);
    ASSERT_TRUE(rig.find());
    MainController& c = *rig.controller;
    FilterAdvisor advisor(c.link(), rig.op, 6110, c.readout().streamStart(), c.readout().streamCommand());
    // From the second setting on, the device refuses every filter command, the original's too.
    QObject::connect(&advisor, &FilterAdvisor::trialFinished, [&](int index) {
        if (index == 0)
            rig.device->setRefused({"FL"});
    });
    const FilterAdvisor::Outcome outcome = advisor.run({1.0, 500}, shortRun());
    EXPECT_EQ(outcome, FilterAdvisor::Outcome::Failed);
    EXPECT_EQ(advisor.trials().size(), 1);
    EXPECT_FALSE(advisor.restoreConfirmed());
    EXPECT_TRUE(advisor.error().contains("The device answered \"ERR\" to \"FL 1\""))
        << advisor.error().toStdString();
    EXPECT_TRUE(advisor.error().contains("The original setting (filter 3) could not be restored"))
        << advisor.error().toStdString();
    EXPECT_FALSE(advisor.applyRecommendation());
}

TEST(FilterAdvisorSettings, EveryModeAndLevelOrFilterIndexIsWrittenAndReadBackInTheModelsOwnWords) {
    struct Case {
        int identity;
        int original;
        QStringList perSetting(int i) const {
            if (identity == 2310) // the track-bar models take the index without a blank
                return {QString("FL%1").arg(i), "FL"};
            return {QString("FM %1").arg(i / 9), QString("FL %1").arg(i % 9), "FM", "FL"};
        }
        int count() const { return 18; }
    };
    for (const Case& k : {Case{4310, 3}, Case{2310, 3}}) {
        SCOPED_TRACE(k.identity);
        devsim::DeviceConfig config = filteredDevice();
        config.identity = k.identity;
        ControllerRig rig(config, 0.2);
        ASSERT_TRUE(rig.find());
        MainController& c = *rig.controller;
        FilterAdvisor advisor(c.link(), rig.op, k.identity, c.readout().streamStart(),
                              c.readout().streamCommand());
        FilterAdvisor::Options options = shortRun();
        options.windowMs = 500;
        ASSERT_EQ(advisor.run({1.0, 500}, options), FilterAdvisor::Outcome::Finished)
            << advisor.error().toStdString();
        QStringList expected = k.identity == 2310 ? QStringList{"FL"} : QStringList{"FM", "FL"};
        for (int i = 0; i < k.count(); ++i)
            expected << k.perSetting(i);
        expected << (k.identity == 2310 ? QStringList{"FL3", "FL"} : QStringList{"FM 0", "FL 3", "FM", "FL"});
        QStringList heard;
        for (const QByteArray& line : rig.heard())
            if (line.startsWith("FL") || line.startsWith("FM") || line.startsWith("WP"))
                heard << QString::fromLatin1(line).trimmed();
        EXPECT_EQ(heard, expected);
        EXPECT_TRUE(advisor.restoreConfirmed());
        EXPECT_EQ(rig.device->parameter("FL"), k.original);
        EXPECT_EQ(advisor.trials().size(), k.count());
    }
}

TEST(FilterAdvisorSettings, EveryModelWithAFamilyPageHasItsPagesFilterSettingsAndNoOtherModelHasAny) {
    // The 21xx page's eight Bessel steps, the 23xx page's 18 and the 4110's 24 filter indices; mode and
    // level (2 x 9) on the other 41xx and 43xx models; nine levels on the 6110.
    const struct {
        int settings;
        QList<int> identities;
    } families[] = {
        {8, {3710, 2110, 2113, 2114}},
        {18, {2310}},
        {24, {4110}},
        {18, {4113, 4114, 5113, 5114, 5115, 3010, 4310, 4313, 4314}},
        {9, {6110}},
        {0, {0, 1234, 9999}},
    };
    for (const auto& family : families)
        for (int identity : family.identities) {
            SCOPED_TRACE(identity);
            const QList<FilterChoice> settings = FilterAdvisor::settingsOf(identity);
            EXPECT_EQ(settings.size(), family.settings);
            EXPECT_EQ(FilterAdvisor::hasFilterSettings(identity), family.settings > 0);
            // The simulated device takes the same settings.
            if (family.settings == 0 || identity == 6110)
                continue;
            const bool indexed = settings.front().mode < 0;
            EXPECT_EQ(devsim::FilterModel::usesFilterIndex(identity), indexed);
            EXPECT_EQ(settings.back().level, devsim::FilterModel::highestIndex(identity));
        }
}

TEST(FilterAdvisorSettings, TheOperatorIsAskedToTakeTheLoadOffAndPutItOnAndCanCancelThere) {
    devsim::DeviceConfig config = filteredDevice();
    bool known = false;
    QString error;
    ASSERT_TRUE(config.profile.setKey("profile", "noise", &known, &error)); // nothing moves by itself
    ControllerRig rig(config, 0.2);
    ASSERT_TRUE(rig.find());
    MainController& c = *rig.controller;
    rig.device->setParameter("UR", 0);
    rig.heard();
    FilterAdvisor advisor(c.link(), rig.op, 6110, c.readout().streamStart(), c.readout().streamCommand());
    FilterAdvisor::Options options = shortRun();
    options.operatorSteps = true;
    options.windowMs = 2000;
    // OK to both questions of the first setting, OK to the second's first, Cancel when asked for the load.
    rig.op.answers = {true, true, true, false};
    EXPECT_EQ(advisor.run({1.0, 500}, options), FilterAdvisor::Outcome::Cancelled)
        << advisor.error().toStdString();
    QStringList questions;
    for (const QString& e : rig.op.events)
        if (e.contains("Filter filter"))
            questions << e;
    ASSERT_EQ(questions.size(), 4) << rig.op.events.join('\n').toStdString();
    EXPECT_TRUE(questions[0].contains("Filter filter 0: take the load off the scale and press OK."));
    EXPECT_TRUE(questions[1].contains("Filter filter 0: press OK, then put the load on the scale at once."));
    EXPECT_TRUE(questions[3].contains("Filter filter 1: press OK, then put the load on the scale at once."));
    // The first setting's noise from the quiet span; no load came, so no settling time.
    ASSERT_EQ(advisor.trials().size(), 1);
    const FilterTrial& first = advisor.trials().front();
    EXPECT_TRUE(first.stillNoise);
    EXPECT_NEAR(first.sigmaCounts,
                devsim::FilterModel::noiseSigma(devsim::FilterModel::response(6110, 0, 0, 0, 2)), 0.4);
    EXPECT_FALSE(first.settlingMs);
    EXPECT_TRUE(advisor.restoreConfirmed());
    QStringList heard;
    for (const QByteArray& line : rig.heard())
        if (line.startsWith("FL"))
            heard << QString::fromLatin1(line).trimmed();
    EXPECT_EQ(heard, (QStringList{"FL", "FL 0", "FL", "FL 1", "FL", "FL 3", "FL"}));
}
