#include "platform/net/NetlinkReachabilitySource.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>

#include "platform/net/NetlinkSocket.h"
#include "platform/net/RouteLookup.h"
#include "tests/support/ManualRunLoop.h"

namespace {

using namespace net;

class NetlinkReachabilityTest : public testsupport::ManualRunLoop {};

// Only reads the kernel's tables, so it runs in any container that has a loopback device.
TEST_F(NetlinkReachabilityTest, DecidesFromTheRoutingTables) {
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto local =
        RouteLookup::flagsForAddress(reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback);
    ASSERT_TRUE(local.has_value());
    EXPECT_EQ(*local, kReachabilityFlagsReachable | kReachabilityFlagsIsLocalAddress |
                          kReachabilityFlagsIsDirect);

    auto numeric = NetlinkReachabilitySource::create(ReachabilityTarget::forHostName("127.0.0.1"));
    EXPECT_EQ(numeric->currentFlags(), local);

    // The general monitor answers from the default routes, whichever this host has.
    auto general = NetlinkReachabilitySource::create(ReachabilityTarget::forNetworkInGeneral());
    auto flags = general->currentFlags();
    ASSERT_TRUE(flags.has_value());
    EXPECT_EQ(*flags & ~kReachabilityFlagsReachable, 0u);

    // Addresses of no routable family are not reachable; a refused family is no failure.
    sockaddr unknown{};
    unknown.sa_family = AF_UNIX;
    EXPECT_EQ(RouteLookup::flagsForAddress(&unknown, sizeof unknown), 0u);
    EXPECT_EQ(RouteLookup::flagsForTarget(ReachabilityTarget::forHostName("")), 0u);
}

TEST_F(NetlinkReachabilityTest, WatchesAnnouncementsWhileScheduled) {
    auto socket = NetlinkSocket::open(RTMGRP_LINK | RTMGRP_IPV4_ROUTE, true);
    ASSERT_TRUE(socket.has_value());
    EXPECT_FALSE(socket->drain());  // nothing announced yet, and no wait

    auto source = NetlinkReachabilitySource::create(ReachabilityTarget::forHostName("127.0.0.1"));
    int calls = 0;
    source->setCallback([&](ReachabilityFlags) { ++calls; });
    EXPECT_TRUE(source->scheduleWithMainRunLoop());
    EXPECT_TRUE(source->scheduleWithMainRunLoop());
    // The first decision is the baseline: no callback.
    loop().runUntilIdle();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(source->unscheduleFromMainRunLoop());
    EXPECT_FALSE(source->unscheduleFromMainRunLoop());
    // A decision still in flight when the source goes is dropped.
    EXPECT_TRUE(source->scheduleWithMainRunLoop());
    source.reset();
    loop().runUntilIdle();
    EXPECT_EQ(calls, 0);
}

}  // namespace
