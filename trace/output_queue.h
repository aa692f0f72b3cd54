// Output to a descriptor that never blocks the thread that writes it.
//
// A reader of the agent's standard output or standard error may stop reading
// (a paused pager, Ctrl-S on a terminal, a supervisor that never drains its
// pipe). A plain write() then blocks, and with it the worker thread: no
// keep-alive, no alarm, no status reply. An OutputQueue takes each text
// whole into a bounded buffer and returns at once; a writer thread of its own
// writes the buffer to the descriptor with blocking writes, as much as has
// gathered in one write() (under load, one write for many texts).
//
// When a text does not fit into the room left, it is dropped whole (never a
// part of it) and counted; the next text that fits is preceded by one line
// LABEL "=[" N "]\n", N the number of texts dropped since the last such line.
// The bytes and the order of everything that is written stay as they were
// given. The descriptor itself is not changed (no O_NONBLOCK on a descriptor
// that the shell shares).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class OutputQueue {
public:
    // fd stays owned by the caller and open for the queue's life. capacity:
    // the most bytes kept waiting (besides the one batch being written).
    // linger: after a write, how long the writer lets texts gather before it
    // takes the next batch.
    OutputQueue(int fd, std::size_t capacity, std::string dropLabel,
                std::chrono::microseconds linger = std::chrono::milliseconds(1));
    // Waits at most one second for what is queued, then leaves. A writer still
    // held by a stalled reader is left to finish by itself.
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    // Queues length bytes as one text; never waits for the descriptor. False
    // when the text was dropped for want of room.
    bool write(const char* data, std::size_t length);

    // Queues length bytes as the newest frame of a display that is drawn
    // whole each time (the console's panel): it takes the place of the frame
    // queued before, if the writer has not taken that yet, and goes after
    // every text queued so far. So a slow reader gets the newest state, and
    // a frame needs room for itself only, not behind its elders. False when
    // even so it does not fit (it is dropped and counted as a text is).
    bool writeFrame(const char* data, std::size_t length);

    // Waits until everything queued so far is written, at most timeout;
    // true when it was. A drop count still owed is queued first.
    bool flush(std::chrono::milliseconds timeout);

    // Between holdWakes() and the matching wakeHeld() (they nest), the texts
    // that the calling thread queues do not wake the writers; the outermost
    // wakeHeld() wakes once each writer that was given texts meanwhile. A
    // handler that traces several texts around short work of its own (a
    // tick: its first text, a read of the CPU counts, the rest) so has them
    // written in one write() instead of one each. The texts are queued as
    // always; only the wake-up waits.
    static void holdWakes();
    static void wakeHeld();

    // Bytes waiting (not counting the batch being written).
    std::size_t queued() const;
    std::size_t capacity() const;

    struct State;

private:
    std::shared_ptr<State> mState;
};

namespace output {

// The process's standard output and standard error, each through one queue
// of its own, created at first use and never destroyed (any thread may still
// write while the process exits). Dropped texts on them are counted in
// "CONSOLE LINES DROPPED=[N]\n" and "TRACE LINES DROPPED=[N]\n".
OutputQueue& standardOutput();
OutputQueue& standardError();

// Writes what the two queues hold, waiting at most about 1.5 s in all, so
// that a stalled reader cannot hang the exit. Runs by itself at exit once a
// queue exists.
void flushStandardStreams();

}  // namespace output
