// The agent's Windows code without the functions that Vista added, as on XP
// and Server 2003: the lookup hides them (ZQ_HIDDEN_SYSTEM_FUNCTIONS, set
// by this program's ctest entry). Wine has them whatever version it
// reports, so only the hidden lookup reaches these paths.
#include <gtest/gtest.h>

#include <cstdint>

#include <windows.h>

#include <boost/asio/io_service.hpp>

#include "fakes/hidden_system_function.h"
#include "net/address_watch.h"
#include "service/tick_count.h"

TEST(BeforeVista, TheTickCountIsGetTickCountCarriedOn)
{
    ASSERT_TRUE(hiddenfn::hidden("kernel32!GetTickCount64"));
    for (int round = 0; round < 3; ++round) {
        DWORD before = GetTickCount();
        std::uint64_t ticks = zq::tickCount64();
        DWORD after = GetTickCount();
        // The count has not wrapped since the agent first read it.
        EXPECT_LT(ticks, std::uint64_t{1} << 32);
        EXPECT_LE(before, ticks);
        EXPECT_LE(ticks, after);
        Sleep(20);
    }
    EXPECT_GE(hiddenfn::asked("kernel32!GetTickCount64"), 1);
}

TEST(BeforeVista, TheAddressWatchAsksNotifyAddrChange)
{
    ASSERT_TRUE(hiddenfn::hidden("iphlpapi!NotifyUnicastIpAddressChange"));
    int asked = hiddenfn::asked("iphlpapi!NotifyUnicastIpAddressChange");
    boost::asio::io_service io;
    {
        AddressWatch watch(io);
        EXPECT_TRUE(watch.start([] {}));
        EXPECT_EQ(hiddenfn::asked("iphlpapi!NotifyUnicastIpAddressChange"), asked + 1);
    }
    // The destructor took the request back; nothing is left to run.
    EXPECT_EQ(io.poll(), 0u);
}
