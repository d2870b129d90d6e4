// What "ip -details -json link show" says of a SocketCAN interface decides whether the chosen bit rate
// is known to hold, cannot hold, or cannot be told (and the operator hears so).
#include "link/CanAdapter.h"

#include <gtest/gtest.h>

using namespace tarvo;

TEST(SocketCanRate, IpOutputGivesTheRateNoRateOrWhyItCannotBeTold) {
    const QByteArray can =
        R"([{"ifname":"can0","linkinfo":{"info_kind":"can","info_data":{"state":"ERROR-ACTIVE",
        "bittiming":{"bitrate":250000,"sample_point":"0.875"}}}}])";
    SocketCanRate rate = SocketCanRate::fromIp(true, can);
    EXPECT_EQ(rate.kind, SocketCanRate::Kind::Known);
    EXPECT_EQ(rate.bitsPerSecond, 250000);

    // A virtual bus has no bit rate at all: nothing to check, nothing to say.
    for (const char* kind : {"vcan", "vxcan"}) {
        const QByteArray virtualBus =
            QByteArray(R"([{"ifname":"vcan0","linkinfo":{"info_kind":")") + kind + R"("}}])";
        EXPECT_EQ(SocketCanRate::fromIp(true, virtualBus).kind, SocketCanRate::Kind::NoRate) << kind;
    }

    // Everything else cannot be told, each with its reason.
    const struct {
        bool answered;
        QByteArray output;
        const char* reason;
    } unknown[] = {
        {false, QByteArray(), "did not answer"},
        {true, "", "no such interface"},
        {true, "not json", "no such interface"},
        {true, "[]", "no such interface"},
        {true, "[1]", "no such interface"},
        {true, R"([{"ifname":"can0","linkinfo":{"info_kind":"can","info_data":{"state":"STOPPED"}}}])",
         "no bit timing"},
        {true,
         R"([{"ifname":"can0","linkinfo":{"info_kind":"can","info_data":{"bittiming":{"bitrate":-5}}}}])",
         "no bit timing"},
        {true, R"([{"ifname":"can0"}])", "no bit timing"},
    };
    for (const auto& c : unknown) {
        rate = SocketCanRate::fromIp(c.answered, c.output);
        EXPECT_EQ(rate.kind, SocketCanRate::Kind::Unknown) << c.output.toStdString();
        EXPECT_TRUE(rate.reason.contains(QLatin1String(c.reason))) << rate.reason.toStdString();
        EXPECT_EQ(rate.bitsPerSecond, 0);
    }
}
