// The desktop's screen-saver inhibit against a session bus of the test's own and a fake service
// on it: present, late, slow or absent, and the bus frozen at the start or later.
#include "platform/screen_saver_inhibit.h"
#include "support/session_bus.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace DemoTest;
using Platform::ScreenSaverInhibit;

// Ends `inhibit` and says how long that took.
double secondsToEnd(std::optional<ScreenSaverInhibit>& inhibit)
{
    const double start = now();
    inhibit.reset();
    return now() - start;
}

TEST(ScreenSaverInhibitTest, HeldWhileWantedAndHandedBackWhenNotAndAtTheEnd)
{
    Scratch scratch;
    PrivateSessionBus bus(scratch.path);
    ASSERT_FALSE(bus.address.empty());
    FakeScreenSaver service(bus.address, scratch / "service.log");
    ASSERT_TRUE(service.ready);

    std::optional<ScreenSaverInhibit> inhibit(std::in_place, bus.address);
    inhibit->want(true);
    ASSERT_TRUE(service.waitFor("inhibit", 1, 20.0));
    inhibit->want(false);
    ASSERT_TRUE(service.waitFor("uninhibit", 1, 20.0));
    // Taken again on the next play, and handed back at the end.
    inhibit->want(true);
    ASSERT_TRUE(service.waitFor("inhibit", 2, 20.0));
    inhibit.reset();
    EXPECT_TRUE(service.waitFor("uninhibit", 2, 20.0));
    EXPECT_TRUE(waitFor([&] { return service.settled(); }, 20.0));
    EXPECT_EQ(service.finish(), 0);
    EXPECT_EQ(service.count("gone"), 0u) << "a cookie was left for the bus to drop";
    EXPECT_EQ(service.count("uninhibit-unknown"), 0u);
}

// No service when the inhibit is wanted, then one that comes; a service that answers 2 s late,
// paused before the answer came: the cookie it brings is handed back at once.
TEST(ScreenSaverInhibitTest, AServiceThatComesLateOrAnswersLateIsHeldAndHandedBack)
{
    Scratch scratch;
    PrivateSessionBus bus(scratch.path);
    ASSERT_FALSE(bus.address.empty());
    {
        std::optional<ScreenSaverInhibit> inhibit(std::in_place, bus.address);
        inhibit->want(true);
        FakeScreenSaver late(bus.address, scratch / "late.log");
        ASSERT_TRUE(late.ready);
        EXPECT_TRUE(late.waitFor("inhibit", 1, 20.0)) << "the service that came late was never asked";
        EXPECT_LT(secondsToEnd(inhibit), 2.0);
        EXPECT_TRUE(late.waitFor("uninhibit", 1, 20.0));
        EXPECT_TRUE(waitFor([&] { return late.settled(); }, 20.0));
        EXPECT_EQ(late.finish(), 0);
    }
    FakeScreenSaver slow(bus.address, scratch / "slow.log", 2.0);
    ASSERT_TRUE(slow.ready);
    std::optional<ScreenSaverInhibit> inhibit(std::in_place, bus.address);
    inhibit->want(true);
    ASSERT_TRUE(slow.waitFor("asked", 1, 20.0));
    inhibit->want(false);
    ASSERT_TRUE(slow.waitFor("inhibit", 1, 20.0));
    EXPECT_TRUE(slow.waitFor("uninhibit", 1, 20.0)) << "the late cookie was kept while paused";
    inhibit.reset();
    EXPECT_TRUE(waitFor([&] { return slow.settled(); }, 20.0));
    EXPECT_EQ(slow.finish(), 0);
}

// A bus that answers nothing (stopped) holds neither a wish nor the end, whether it froze before
// the start or while the inhibit was held; once it goes on, the wish is carried out, and nothing
// stays inhibited after the end.
TEST(ScreenSaverInhibitTest, AFrozenBusHoldsNothingUp)
{
    Scratch scratch;
    PrivateSessionBus bus(scratch.path);
    ASSERT_FALSE(bus.address.empty());
    FakeScreenSaver service(bus.address, scratch / "service.log");
    ASSERT_TRUE(service.ready);

    bus.freeze();
    {
        std::optional<ScreenSaverInhibit> inhibit(std::in_place, bus.address);
        inhibit->want(true);
        inhibit->want(false);
        inhibit->want(true);
        EXPECT_LT(secondsToEnd(inhibit), 2.0) << "the end waited for a frozen bus";
    }
    std::optional<ScreenSaverInhibit> inhibit(std::in_place, bus.address);
    inhibit->want(true);
    bus.thaw();
    ASSERT_TRUE(service.waitFor("inhibit", 1, 20.0)) << "the wish made while the bus was frozen was lost";

    bus.freeze();
    inhibit->want(false);
    inhibit->want(true);
    EXPECT_LT(secondsToEnd(inhibit), 2.0) << "the end waited for a frozen bus";
    // Once the bus goes on, the cookie is handed back, or dropped with the client that left.
    bus.thaw();
    EXPECT_TRUE(waitFor([&] { return service.settled(); }, 20.0)) << "a cookie outlived the inhibit";
    EXPECT_EQ(service.finish(), 0);
}

} // namespace
