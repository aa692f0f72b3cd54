// The plant machine that the unit tests run on: the scripted host
// "plant-pc" with the addresses a test names, the CPU counter scripted from
// the first sample on, and the trace and event log emptied.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_cpu_counter.h"
#include "fakes/fake_host.h"
#include "fakes/recording_debug_output.h"
#include "hostinfo/cpu_usage.h"
#include "trace/trace.h"

namespace planthost {

// The host "plant-pc" whose lookup gives these addresses, in order.
inline fakehost::Host plantPc(std::vector<std::string> addresses)
{
    fakehost::Host host;
    host.name = "plant-pc";
    host.addresses = std::move(addresses);
    return host;
}

// Makes "plant-pc" with these addresses the host that the agent sees.
inline void use(std::vector<std::string> addresses)
{
    fakehost::set(plantPc(std::move(addresses)));
}

// The sampler's first call only opens the counter; then the fake counter
// starts afresh, so that every later sample is the scripted value.
inline void scriptCpu()
{
    CpuUsage::getCpuTotalUsage();
    fakecpu::reset();
}

// Forgets what earlier code traced and logged.
inline void clearRecords()
{
    gEventLog.take();
    recording::clearTrace();
}

}  // namespace planthost
