// The output queue on POSIX: a bounded buffer under a mutex and one writer
// thread per queue that writes it with blocking write() calls on the
// caller's descriptor. Only the writer thread ever waits for the reader.
#include "trace/output_queue.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <malloc.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <vector>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

struct OutputQueue::State : std::enable_shared_from_this<OutputQueue::State> {
    State(int descriptor, std::size_t bytes, std::string label, std::chrono::microseconds wait)
        : fd(descriptor), capacity(bytes), dropLabel(std::move(label)), linger(wait)
    {
        // Both buffers at full size from the start, so that neither grows
        // later; untouched pages cost no memory.
        queued.reserve(capacity);
        batch.reserve(capacity);
    }

    const int fd;
    const std::size_t capacity;
    const std::string dropLabel;
    const std::chrono::microseconds linger;

    std::mutex mutex;
    std::condition_variable wake;  // to the writer: texts queued, a flush, the stop
    std::condition_variable idle;  // to flushers: all written, or the writer ended
    std::string queued;
    std::string batch;  // the writer's own while it writes
    // Where in queued the frame of writeFrame lies, while the writer has not
    // taken it (frameLength 0: no frame there).
    std::size_t frameAt = 0;
    std::size_t frameLength = 0;
    unsigned long long dropped = 0;
    bool writerWaiting = false;
    bool writing = false;
    bool stop = false;
    bool finished = false;
    int flushers = 0;
    std::size_t writtenSinceTrim = 0;
    std::thread writer;

    bool drained() const { return queued.empty() && !writing; }

    // The drop count owed, as its line; empty when none is.
    std::string dropNotice() const
    {
        if (dropped == 0)
            return std::string();
        char count[32];
        std::snprintf(count, sizeof count, "%llu", dropped);
        return dropLabel + "=[" + count + "]\n";
    }

    bool enqueue(const char* data, std::size_t length, bool frame);
    // Wakes the writer if it waits while texts are queued.
    void wakeIfWaiting();
    void run();
    void releaseMemory(std::unique_lock<std::mutex>& lock);
};

namespace {

// The HoldWakes of this thread: how many are alive, and the queues whose
// writers are owed a wake-up when the last one ends.
thread_local int tHolds = 0;
thread_local std::vector<std::weak_ptr<OutputQueue::State>> tOwed;

// After this much output, once the queue has been idle a while, the writer
// gives the memory of the burst back to the system (releaseMemory).
constexpr std::size_t kTrimAfterBytes = 16 * 1024;

// A write within this time of the one before means output is busy; this long
// without one after a burst, it is over.
constexpr std::chrono::milliseconds kBusyWithin(20);

// Writes all of text to fd, waiting as long as the reader makes it wait.
// A descriptor that another process has made non-blocking (an open file
// that a shell shares) answers a full reader with EAGAIN instead of waiting:
// then poll() waits for room, as a blocking write would. An output that fails
// (a closed reader, a closed descriptor) takes the rest of this text: there
// is nowhere else to put it.
void writeAll(int fd, const char* text, std::size_t length)
{
    while (length > 0) {
        ssize_t written = ::write(fd, text, length);
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd room{fd, POLLOUT, 0};
            if (::poll(&room, 1, -1) < 0 && errno != EINTR)
                return;
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

}  // namespace

void OutputQueue::State::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    Clock::time_point lastWrite;
    for (;;) {
        if (queued.empty()) {
            if (stop)
                break;
            writerWaiting = true;
            auto due = [this] { return !queued.empty() || stop; };
            if (writtenSinceTrim < kTrimAfterBytes) {
                wake.wait(lock, due);
            } else if (!wake.wait_for(lock, kBusyWithin, due)) {
                releaseMemory(lock);
            }
            writerWaiting = false;
            continue;
        }
        batch.swap(queued);
        frameLength = 0;
        writing = true;
        lock.unlock();
        writeAll(fd, batch.data(), batch.size());
        writtenSinceTrim += batch.size();
        batch.clear();
        lock.lock();
        writing = false;
        if (queued.empty())
            idle.notify_all();
        // While texts come thick and fast, let the next ones gather, so that
        // a busy thread's many short texts go out in few writes; a flush or
        // the stop cuts it short. An idle writer (the last write long ago)
        // writes at once and sleeps again, at no cost in wake-ups.
        Clock::time_point now = Clock::now();
        bool busy = now - lastWrite < kBusyWithin;
        lastWrite = now;
        if (busy && linger.count() > 0 && !stop && flushers == 0)
            wake.wait_for(lock, linger, [this] { return stop || flushers > 0; });
    }
    finished = true;
    idle.notify_all();
}

// A burst of output comes with a burst of work (a flood of datagrams, whose
// texts the view drains in one go). Once it has passed, the buffers' pages
// and those that the C library kept from the peak go back to the system.
// The buffers are freed and the memory trimmed before they are taken again:
// taken first, they would sit on the very pages that the burst touched, and
// the trim could give none of those back.
void OutputQueue::State::releaseMemory(std::unique_lock<std::mutex>& lock)
{
    writtenSinceTrim = 0;
    std::string spent;
    spent.swap(batch);
    if (queued.empty())
        std::string().swap(queued);
    lock.unlock();
    std::string().swap(spent);
    ::malloc_trim(0);
    lock.lock();
    queued.reserve(capacity);
    batch.reserve(capacity);
}

OutputQueue::OutputQueue(int fd, std::size_t capacity, std::string dropLabel, std::chrono::microseconds linger)
    : mState(std::make_shared<State>(fd, capacity, std::move(dropLabel), linger))
{
    // The writer takes no signal: they stay with the threads that wait for
    // them, whatever mask the creating thread has at the moment.
    sigset_t all;
    sigset_t callers;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &callers);
    try {
        std::shared_ptr<State> state = mState;
        mState->writer = std::thread([state] { state->run(); });
    } catch (const std::system_error&) {
        // No thread to be had: write() writes through itself (see there).
    }
    pthread_sigmask(SIG_SETMASK, &callers, nullptr);
}

OutputQueue::~OutputQueue()
{
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
    flush(std::chrono::seconds(1));
    State& state = *mState;
    if (!state.writer.joinable())
        return;
    std::unique_lock<std::mutex> lock(state.mutex);
    state.stop = true;
    state.wake.notify_all();
    bool ended = state.idle.wait_until(lock, deadline, [&state] { return state.finished; });
    lock.unlock();
    // A writer still held by the reader keeps the state alive by itself.
    if (ended)
        state.writer.join();
    else
        state.writer.detach();
}

bool OutputQueue::State::enqueue(const char* data, std::size_t length, bool frame)
{
    std::unique_lock<std::mutex> lock(mutex);
    const bool replacing = frame && frameLength > 0;
    std::string notice = dropNotice();
    if (queued.size() - (replacing ? frameLength : 0) + notice.size() + length > capacity) {
        ++dropped;
        return false;
    }
    if (!writer.joinable()) {
        // Without a writer thread, the caller writes, as it did before.
        writeAll(fd, notice.data(), notice.size());
        writeAll(fd, data, length);
        dropped = 0;
        return true;
    }
    if (replacing)
        queued.erase(frameAt, frameLength);
    queued.append(notice);
    if (frame) {
        frameAt = queued.size();
        frameLength = length;
    }
    queued.append(data, length);
    dropped = 0;
    bool wakeWriter = writerWaiting;
    if (wakeWriter && tHolds > 0) {
        lock.unlock();
        std::shared_ptr<State> self = shared_from_this();
        bool owed = std::any_of(tOwed.begin(), tOwed.end(),
                                [&self](const std::weak_ptr<State>& state) { return state.lock() == self; });
        if (!owed)
            tOwed.push_back(self);
        return true;
    }
    writerWaiting = false;  // one wake-up is enough
    lock.unlock();
    if (wakeWriter)
        wake.notify_one();
    return true;
}

void OutputQueue::State::wakeIfWaiting()
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!writerWaiting || queued.empty())
        return;
    writerWaiting = false;
    lock.unlock();
    wake.notify_one();
}

void OutputQueue::holdWakes()
{
    ++tHolds;
}

void OutputQueue::wakeHeld()
{
    if (--tHolds > 0)
        return;
    for (const std::weak_ptr<State>& owed : tOwed) {
        if (std::shared_ptr<State> state = owed.lock())
            state->wakeIfWaiting();
    }
    tOwed.clear();
}

bool OutputQueue::write(const char* data, std::size_t length)
{
    return mState->enqueue(data, length, false);
}

bool OutputQueue::writeFrame(const char* data, std::size_t length)
{
    return mState->enqueue(data, length, true);
}

bool OutputQueue::flush(std::chrono::milliseconds timeout)
{
    State& state = *mState;
    Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lock(state.mutex);
    std::string notice = state.dropNotice();
    if (!notice.empty() && state.queued.size() + notice.size() <= state.capacity) {
        if (state.writer.joinable())
            state.queued.append(notice);
        else
            writeAll(state.fd, notice.data(), notice.size());
        state.dropped = 0;
    }
    if (!state.writer.joinable())
        return true;
    ++state.flushers;
    state.wake.notify_all();
    bool done = state.idle.wait_until(lock, deadline, [&state] { return state.drained() || state.finished; });
    --state.flushers;
    return done && state.drained();
}

std::size_t OutputQueue::queued() const
{
    std::lock_guard<std::mutex> lock(mState->mutex);
    return mState->queued.size();
}

std::size_t OutputQueue::capacity() const
{
    return mState->capacity;
}

namespace output {

namespace {

// Room for bursts: a flood of requests traces about 400 bytes a reply, and a
// reader that keeps up takes a batch every millisecond or so.
constexpr std::size_t kStandardErrorCapacity = 128 * 1024;
constexpr std::size_t kStandardOutputCapacity = 32 * 1024;
constexpr std::chrono::milliseconds kExitFlush(1500);

std::atomic<OutputQueue*> gStandardOutput{nullptr};
std::atomic<OutputQueue*> gStandardError{nullptr};

OutputQueue* created(std::atomic<OutputQueue*>& slot, OutputQueue* queue)
{
    static const bool registered = std::atexit(flushStandardStreams) == 0;
    (void)registered;
    slot.store(queue);
    return queue;
}

}  // namespace

OutputQueue& standardOutput()
{
    static OutputQueue* const queue =
        created(gStandardOutput, new OutputQueue(STDOUT_FILENO, kStandardOutputCapacity, "CONSOLE LINES DROPPED"));
    return *queue;
}

OutputQueue& standardError()
{
    static OutputQueue* const queue =
        created(gStandardError, new OutputQueue(STDERR_FILENO, kStandardErrorCapacity, "TRACE LINES DROPPED"));
    return *queue;
}

void flushStandardStreams()
{
    Clock::time_point deadline = Clock::now() + kExitFlush;
    for (OutputQueue* queue : {gStandardOutput.load(), gStandardError.load()}) {
        if (queue == nullptr)
            continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        queue->flush(std::max(left, std::chrono::milliseconds(0)));
    }
}

}  // namespace output
