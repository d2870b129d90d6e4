// Both filter generations against the simulated transmitter: what the device hears when a page is
// shown or an option is chosen, and which options and captions the page then shows.
#include "ConfigRig.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace tarvo;
using namespace tarvo::test;
using Family = TrackBarFilter::Family;
using Characteristic = TrackBarFilter::Characteristic;

namespace {
QStringList rateCaptions(const FilterSettings& f) {
    QStringList captions;
    for (int r = 0; r < 8; ++r)
        captions << f.rateCaption(r);
    return captions;
}
const QStringList kIirRates{"600", "300", "150", "75", "37,5", "18,75", "9,38", "4,69"};
} // namespace

TEST(ModeLevelRateFilter, ReadBackSendsBackOnlyWhatChangedAndGroupsFollowTheModel) {
    ConfigRig rig(4113);
    rig.device->setParameter("FM", 0);
    rig.device->setParameter("FL", 3);
    rig.device->setParameter("UR", 5);
    rig.pages->pageShown(FamilyPage::Mxr41);
    // Nothing was selected before: each read-back value is sent back and stored.
    EXPECT_EQ(rig.heard(), (QList<QByteArray>{"ID\r", "FM\r", "FM 0\r", "WP\r", "FL\r", "FL 3\r", "WP\r",
                                              "UR\r", "UR 5\r", "WP\r"}));
    EXPECT_EQ(rig.mxr41Filter->mode(), 0);
    EXPECT_EQ(rig.mxr41Filter->level(), 3);
    EXPECT_EQ(rig.mxr41Filter->rate(), 5);
    EXPECT_EQ(rig.mxr41Filter->levelCaption(3), "4Hz");
    EXPECT_EQ(rateCaptions(*rig.mxr41Filter), kIirRates);
    EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Update-rate 18,75 Samples/sec. selected");
    EXPECT_EQ(rig.pages->mxr41Groups(), (FamilyPages::Mxr41Groups{false, true, false, false, true}));
    EXPECT_EQ(rig.pageControl.first(), false);
    EXPECT_EQ(rig.pageControl.last(), true);

    // Shown again with the same settings: the queries only.
    rig.pages->pageShown(FamilyPage::Mxr41);
    EXPECT_EQ(rig.heard(), (QList<QByteArray>{"ID\r", "FM\r", "FL\r", "UR\r"}));

    // A rate of 8 is no rate; a level of 8 is the highest level.
    rig.device->setParameter("UR", 8);
    rig.device->setParameter("FL", 8);
    rig.op.clear();
    rig.pages->pageShown(FamilyPage::Mxr41);
    EXPECT_EQ(rig.heard(), (QList<QByteArray>{"ID\r", "FM\r", "FL\r", "FL 8\r", "WP\r", "UR\r"}));
    EXPECT_EQ(rig.mxr41Filter->level(), 8);
    EXPECT_EQ(rig.mxr41Filter->rate(), 5);
    EXPECT_TRUE(rig.op.events.contains("line(41xx): Communication error refresh filter options!"));

    // A loss weigher shows its group and the filter options without asking the device.
    rig.identity = 4115;
    rig.pages->pageShown(FamilyPage::Mxr41);
    EXPECT_EQ(rig.heard(), QList<QByteArray>{"ID\r"});
    EXPECT_EQ(rig.pages->mxr41Groups(), (FamilyPages::Mxr41Groups{true, false, false, false, true}));
    rig.identity = 4110;
    rig.pages->pageShown(FamilyPage::Mxr41);
    EXPECT_EQ(rig.pages->mxr41Groups(), (FamilyPages::Mxr41Groups{false, false, false, true, false}));
    rig.identity = 2110; // not a 41xx: the groups stay as they were
    rig.pages->pageShown(FamilyPage::Mxr41);
    EXPECT_EQ(rig.pages->mxr41Groups(), (FamilyPages::Mxr41Groups{false, false, false, true, false}));
}

TEST(ModeLevelRateFilter, FirSendsTheLevelAgainOnlyOnTheTcwPage) {
    // 41xx: the device reports level 2, which is already selected: no level command, captions kept.
    {
        ConfigRig rig(4114);
        rig.device->setParameter("FL", 2);
        rig.pages->pageShown(FamilyPage::Mxr41);
        ASSERT_EQ(rig.mxr41Filter->level(), 2);
        rig.heard();
        rig.mxr41Filter->modeClicked(1);
        EXPECT_EQ(rig.heard(), (QList<QByteArray>{"FM 1\r", "WP\r", "FL\r"}));
        EXPECT_EQ(rig.mxr41Filter->levelCaption(2), "9,8Hz");
        EXPECT_EQ(rateCaptions(*rig.mxr41Filter), kIirRates);
        EXPECT_TRUE(rig.op.events.contains("line(41xx): FIR Filter (mode \"1\") selected"));

        // In IIR mode a level leaves the rate captions; in FIR mode it draws its row of the FIR table.
        rig.mxr41Filter->modeClicked(0);
        rig.mxr41Filter->levelClicked(4);
        EXPECT_EQ(rateCaptions(*rig.mxr41Filter), kIirRates);
        EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Filter cut off 3Hz selected");
    }

    // 43xx: the level command, its store and the level-2 FIR captions always follow; each command
    // reaches the device with the live transaction's second carriage return.
    ConfigRig tcw(4310);
    tcw.device->setParameter("FL", 2);
    tcw.pages->pageShown(FamilyPage::Tcw43);
    ASSERT_EQ(tcw.tcw43Filter->level(), 2);
    EXPECT_TRUE(tcw.pages->tcw43FilterVisible());
    tcw.heard();
    tcw.tcw43Filter->modeClicked(1);
    EXPECT_EQ(tcw.heard(),
              (QList<QByteArray>{"FM 1\r", "\r", "WP\r", "\r", "FL\r", "FL 2\r", "\r", "WP\r", "\r"}));
    EXPECT_EQ(rateCaptions(*tcw.tcw43Filter),
              (QStringList{"300", "150", "75", "37,5", "18,87", "9,38", "4,69", "2,34"}));
    EXPECT_EQ(tcw.op.lastInfoLine(Page::Tcw43), "Filter cut off 9,8Hz selected");
}

TEST(ModeLevelRateFilter, RefusedSettingsAndOtherTcwModels) {
    {
        ConfigRig rig(4113);
        rig.pages->pageShown(FamilyPage::Mxr41);
        rig.heard();
        rig.line.setFault(devsim::Line::Fault::Err);
        rig.mxr41Filter->rateClicked(2);
        rig.line.setFault(devsim::Line::Fault::None);
        // The clicked option stays selected, the captions stay, the operator is told twice.
        EXPECT_EQ(rig.heard(), QList<QByteArray>{"UR 2\r"});
        EXPECT_EQ(rig.mxr41Filter->rate(), 2);
        EXPECT_EQ(rig.op.messageBoxes(), QStringList{"Communication Error... Filter NOT changed!"});
        EXPECT_EQ(rig.op.lastInfoLine(Page::Mxr41), "Communication Error... Filter NOT changed!");
        EXPECT_EQ(rig.pageControl.last(), true);
    }

    // A 43xx model without read-back leaves the group hidden and the page selector free.
    {
        ConfigRig other(4313);
        other.pages->pageShown(FamilyPage::Tcw43);
        EXPECT_FALSE(other.pages->tcw43FilterVisible());
        EXPECT_EQ(other.heard(), QList<QByteArray>{});
        EXPECT_EQ(other.pageControl, (QList<bool>{false, true}));
    }

    // The 61xx has no mode choice: the mode options go and the IIR captions come.
    ConfigRig rhn(6110);
    rhn.pages->pageShown(FamilyPage::Tcw43);
    EXPECT_FALSE(rhn.tcw43Filter->modeGroupVisible());
    EXPECT_EQ(rhn.tcw43Filter->levelCaption(8), "0,25Hz");
    EXPECT_TRUE(rhn.op.events.contains("line(43xx): Communication error refresh filter options!"));
    EXPECT_TRUE(ConfigRig::waitFor([&] { return !rhn.pageControl.isEmpty() && rhn.pageControl.last(); }));
}

TEST(TrackBarFilter, MovesWithinTheDelayMakeOneCommandAfterTheLast) {
    ConfigRig rig(4110, 0.2); // the 500 ms wait is 100 ms here
    rig.trackBar->characteristicClicked(Family::Mxr4110, Characteristic::Gaussian);
    rig.trackBar->trackBarMoved(Family::Mxr4110, 3);
    ConfigRig::pump(20);
    rig.trackBar->trackBarMoved(Family::Mxr4110, 2);
    ConfigRig::pump(20);
    rig.trackBar->trackBarMoved(Family::Mxr4110, 1);
    EXPECT_EQ(rig.trackBar->filterIndex(), 23);
    EXPECT_EQ(rig.trackBar->captionLabel(Family::Mxr4110, Characteristic::Gaussian), "   1Hz     Gaussian");
    // Nothing goes out before the wait after the last move has passed.
    ConfigRig::pump(40);
    EXPECT_EQ(rig.heard(), QList<QByteArray>{});
    ASSERT_TRUE(ConfigRig::waitFor([&] { return rig.line.receivedTexts().contains("WP\r"); }));
    EXPECT_EQ(rig.heard(), (QList<QByteArray>{"FL 0\r", "FL 0\r", "FL23\r", "WP\r"}));
    EXPECT_EQ(rig.op.infoMessages(), QStringList{"   1Hz     Gaussian"});
    EXPECT_EQ(rig.pageControl, (QList<bool>{false, true}));
}

TEST(TrackBarFilter, ReadBackOfThe21xxAnd23xxPages) {
    {
        ConfigRig rig(2110, 0.2);
        rig.device->setParameter("FL", 7);
        rig.pages->pageShown(FamilyPage::Mxr21);
        // "7" is position 1, where the bar already is: nothing is sent back.
        ConfigRig::pump(200);
        EXPECT_EQ(rig.heard(), QList<QByteArray>{"FL\r"});
        EXPECT_EQ(rig.trackBar->position(Family::Mxr21, Characteristic::Bessel), 1);
        EXPECT_EQ(rig.op.infoMessages().last(), " 0.02Hz    Bessel");

        rig.device->setParameter("FL", 0);
        rig.pages->pageShown(FamilyPage::Mxr21);
        EXPECT_EQ(rig.trackBar->position(Family::Mxr21, Characteristic::Bessel), 8);
        ASSERT_TRUE(ConfigRig::waitFor([&] { return rig.line.receivedTexts().contains("WP\r"); }));
        EXPECT_EQ(rig.heard(), (QList<QByteArray>{"FL\r", "FL 0\r", "FL 0\r", "FL0\r", "WP\r"}));
        EXPECT_EQ(rig.op.infoMessages().last(), "   5Hz    Bessel selected");
    }

    ConfigRig b(2310, 0.2);
    b.device->setParameter("FL", 13);
    b.pages->pageShown(FamilyPage::Mxr23);
    EXPECT_EQ(b.trackBar->selected(Family::Mxr23), Characteristic::Bessel);
    EXPECT_EQ(b.trackBar->position(Family::Mxr23, Characteristic::Bessel), 2);
    EXPECT_EQ(b.trackBar->captionLabel(Family::Mxr23, Characteristic::Bessel), "   0,5Hz     Bessel");
    // The selection always restarts the wait: the value read back goes back to the device.
    ASSERT_TRUE(ConfigRig::waitFor([&] { return b.line.receivedTexts().contains("WP\r"); }));
    EXPECT_EQ(b.heard(), (QList<QByteArray>{"FL\r", "FL 0\r", "FL 0\r", "FL13\r", "WP\r"}));
    b.device->setParameter("FL", 4);
    b.pages->pageShown(FamilyPage::Mxr23);
    EXPECT_EQ(b.trackBar->position(Family::Mxr23, Characteristic::Bessel), 5);
    ASSERT_TRUE(ConfigRig::waitFor([&] { return b.line.receivedTexts().contains("FL4\r"); }));
    ASSERT_TRUE(ConfigRig::waitFor([&] { return b.line.receivedTexts().count("WP\r") == 1; }));

    // No answer: the operator is told, nothing changes.
    b.line.setFault(devsim::Line::Fault::Silent);
    b.pages->pageShown(FamilyPage::Mxr23);
    EXPECT_EQ(b.op.infoMessages().last(), "Device not found... Reset device and press \"Find device\"");
    EXPECT_EQ(b.trackBar->position(Family::Mxr23, Characteristic::Bessel), 5);
}
