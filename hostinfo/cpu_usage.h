// Samples the machine's total processor load in whole percent.
#pragma once

#include <boost/core/noncopyable.hpp>

class CpuUsage : boost::noncopyable {
public:
    CpuUsage();
    virtual ~CpuUsage();

    // One sample: the load since the previous sample, whoever took it. The
    // first call opens the counter and returns 0; every failure returns 0.
    // Process-wide state; call it from the worker thread only.
    static int getCpuTotalUsage();
};
