#include "fakes/fake_cpu_counter.h"

#include <deque>
#include <mutex>
#include <utility>

namespace {

// The server's worker thread may read the counter while a test inspects it.
std::mutex gMutex;
std::deque<cpucounter::Status> gOpens;
std::deque<cpucounter::Status> gCollects;
std::deque<std::pair<cpucounter::Status, double>> gValues;
double gDefaultValue = 0.0;
fakecpu::Calls gCalls;

cpucounter::Status next(std::deque<cpucounter::Status>& queue)
{
    if (queue.empty())
        return 0;
    cpucounter::Status status = queue.front();
    queue.pop_front();
    return status;
}

}  // namespace

namespace cpucounter {

Status openQuery()
{
    std::lock_guard<std::mutex> lock(gMutex);
    ++gCalls.open;
    return next(gOpens);
}

void addTotalProcessorCounter()
{
    std::lock_guard<std::mutex> lock(gMutex);
    ++gCalls.add;
}

Status collect()
{
    std::lock_guard<std::mutex> lock(gMutex);
    ++gCalls.collect;
    return next(gCollects);
}

Status formattedValue(double& value)
{
    std::lock_guard<std::mutex> lock(gMutex);
    ++gCalls.format;
    if (gValues.empty()) {
        value = gDefaultValue;
        return 0;
    }
    std::pair<Status, double> result = gValues.front();
    gValues.pop_front();
    if (result.first == 0)
        value = result.second;
    return result.first;
}

}  // namespace cpucounter

namespace fakecpu {

void pushOpen(Status status)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gOpens.push_back(status);
}

void pushCollect(Status status)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gCollects.push_back(status);
}

void pushValue(Status status, double value)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gValues.emplace_back(status, value);
}

void setDefaultValue(double value)
{
    std::lock_guard<std::mutex> lock(gMutex);
    gDefaultValue = value;
}

Calls calls()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return gCalls;
}

int pending()
{
    std::lock_guard<std::mutex> lock(gMutex);
    return static_cast<int>(gOpens.size() + gCollects.size() + gValues.size());
}

void reset()
{
    std::lock_guard<std::mutex> lock(gMutex);
    gOpens.clear();
    gCollects.clear();
    gValues.clear();
    gDefaultValue = 0.0;
    gCalls = Calls();
}

}  // namespace fakecpu
