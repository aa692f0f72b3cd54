#include <gtest/gtest.h>

#include <climits>

#include "config/xml_value.h"

TEST(GetXmlValue, ValueRunsToTheNextClosingMarkAndPositionMovesPastIt)
{
    const std::string text = "xx<srvIpAddr>10.1.2.3</srvIpAddr><srvIpAddr>10.1.2.4</other>";
    std::string::size_type position = 0;
    EXPECT_EQ(getXmlValue("<srvIpAddr>", text, position), "10.1.2.3");
    EXPECT_EQ(position, 2u + 11 + 8 + 11 + 1);  // just past "</srvIpAddr>"
    EXPECT_EQ(getXmlValue("<srvIpAddr>", text, position), "10.1.2.4");  // closing name not compared
    EXPECT_EQ(getXmlValue("<srvIpAddr>", text, position), "");
    EXPECT_EQ(position, std::string::npos);

    position = 0;
    EXPECT_EQ(getXmlValue("<cpuPercent>", "a<cpuPercent> 85 and more", position), " 85 and more");
    position = 0;
    EXPECT_EQ(getXmlValue("<cpuPercent>", "<cpuPercent></cpuPercent>", position), "");
    EXPECT_EQ(position, 12u + 0 + 12 + 1);  // found, but empty
}

TEST(GetXmlIntValue, ReadsLikeAtoi)
{
    EXPECT_EQ(getXmlIntValue("<cpuPercent>", "<cpuPercent>85abc</cpuPercent>"), 85);
    EXPECT_EQ(getXmlIntValue("<cpuPercent>", "<cpuPercent> \t\n-12</cpuPercent>"), -12);
    EXPECT_EQ(getXmlIntValue("<cpuPercent>", "<cpuPercent>+7</cpuPercent>"), 7);
    EXPECT_EQ(getXmlIntValue("<cpuPercent>", "<cpuPercent>abc</cpuPercent>"), 0);
    EXPECT_EQ(getXmlIntValue("<cpuPercent>", "<cpuPercent>- 5</cpuPercent>"), 0);
    EXPECT_EQ(getXmlIntValue("<cpuPercent>", "no element"), 0);
    EXPECT_EQ(getXmlIntValue("<srvIpPort>", "<srvIpPort>70000</srvIpPort>"), 70000);  // no range check
    // Far beyond int: held at the limits instead of undefined.
    EXPECT_EQ(getXmlIntValue("<a>", "<a>99999999999999999999999</a>"), INT_MAX);
    EXPECT_EQ(getXmlIntValue("<a>", "<a>-99999999999999999999999</a>"), INT_MIN);
    EXPECT_EQ(getXmlIntValue("<a>", "<a>-2147483648</a>"), INT_MIN);
    EXPECT_EQ(getXmlIntValue("<a>", "<a>2147483647</a>"), INT_MAX);
}

TEST(GetXmlStringValue, FirstElementOrEmpty)
{
    EXPECT_EQ(getXmlStringValue("<srvIpAddr>", "beaconCfgAlarm<srvIpAddr>10.1.2.3</srvIpAddr>"), "10.1.2.3");
    EXPECT_EQ(getXmlStringValue("<srvIpAddr>", "beaconCfgAlarm"), "");
    EXPECT_EQ(getXmlStringValue("<srvIpAddr>", "<srvIpAddr>"), "");
}
