// The agent's protocol in numbers and texts: its two ports, its two multicast
// groups, how much of a datagram each socket reads and the keywords it looks
// for. Every socket and every document takes them from here.
#pragma once

#include <cstddef>

namespace zq {

// The port of the multicast receivers and the sender sockets, and the port
// that the documents name.
constexpr unsigned short kAgentPort = 34543;
constexpr char kAgentPortText[] = "34543";

// The request server's port, and the port that its status reply names.
constexpr unsigned short kRequestPort = 45654;
constexpr char kRequestPortText[] = "45654";

// The groups of the Orvane configuration and of the cloud server's address.
constexpr char kOrvaneGroup[] = "224.0.1.224";
constexpr char kCloudGroup[] = "224.0.2.224";

// A datagram shorter than this is traced but never interpreted.
constexpr std::size_t kShortestInterpreted = 11;

// The bytes of a datagram that are read; the rest of a longer one is ignored.
constexpr std::size_t kGroupReceiveSize = 1024;    // the multicast receivers
constexpr std::size_t kUnicastReceiveSize = 1501;  // the sender sockets and the request server
// What the unicast sockets clear before each receive: one less than the bytes
// read, so the last byte is never cleared.
constexpr std::size_t kUnicastClearedBytes = 1500;

// A group datagram that holds this is a configuration message.
constexpr char kConfigKeyword[] = "beaconCfgAlarm";
// The request server's two requests, each with its blank.
constexpr char kBeaconKeyword[] = "BEACON_CFG_ALARM ";
constexpr char kStatusKeyword[] = "STATUS_REQUEST ";

}  // namespace zq
