// The output queue against a pipe that nobody reads: writes return at once,
// the buffer stays within its capacity, texts are dropped whole, and once a
// reader drains the pipe everything kept comes out in order, with one line
// that counts the dropped texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

#include "trace/output_queue.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Pipe {
    // nonBlocking: as another process sharing the open file may have set it.
    explicit Pipe(bool nonBlocking = false)
    {
        EXPECT_EQ(::pipe(fds), 0);
        ::fcntl(fds[1], F_SETPIPE_SZ, 4096);  // the smallest pipe: it fills at once
        if (nonBlocking)
            ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    }
    ~Pipe()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    // Everything that arrives within the time, read until the pipe stays
    // quiet for 200 ms.
    std::string drain(milliseconds limit)
    {
        std::string got;
        Clock::time_point end = Clock::now() + limit;
        pollfd in{fds[0], POLLIN, 0};
        while (Clock::now() < end && ::poll(&in, 1, 200) > 0) {
            char buffer[65536];
            ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    int fds[2];
};

std::string numbered(int i)
{
    return "text " + std::to_string(i) + " " + std::string(90, 'x') + "\n";
}

// Queues a text larger than the pipe and waits until the writer has taken
// it: the writer is then held in write() until the pipe is read.
void stallWriter(OutputQueue& queue, const std::string& primer)
{
    ASSERT_TRUE(queue.write(primer.data(), primer.size()));
    Clock::time_point end = Clock::now() + milliseconds(2000);
    while (queue.queued() != 0 && Clock::now() < end)
        ::usleep(1000);
    ASSERT_EQ(queue.queued(), 0u);
}

// Blocking or not (a full non-blocking pipe answers EAGAIN), nothing kept is
// lost.
class OutputQueueOnPipe : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(BlockingAndNot, OutputQueueOnPipe, testing::Bool());

TEST_P(OutputQueueOnPipe, StalledReaderNeverBlocksAndDropsAreCountedOnce)
{
    Pipe pipe(GetParam());
    const std::size_t capacity = 16 * 1024;
    OutputQueue queue(pipe.fds[1], capacity, "TRACE LINES DROPPED");

    std::string expected(8 * 1024, 'p');
    stallWriter(queue, expected);
    // Far more than the pipe and the buffer hold, none of it read.
    int kept = 0;
    int dropped = 0;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < 2000; ++i) {
        std::string text = numbered(i);
        if (queue.write(text.data(), text.size())) {
            ++kept;
            expected += text;
        } else {
            ++dropped;
        }
        ASSERT_LE(queue.queued(), capacity);
    }
    EXPECT_LT(Clock::now() - start, milliseconds(500)) << "writes waited for the reader";
    EXPECT_GT(dropped, 0);
    EXPECT_GT(kept, 0);

    std::string got = pipe.drain(milliseconds(5000));
    EXPECT_TRUE(got == expected) << "kept texts, whole and in order, and nothing else yet: " << got.size()
                                 << " bytes read, " << expected.size() << " kept";

    // The next text brings the count first, once.
    const std::string last = "after the drain\n";
    ASSERT_TRUE(queue.write(last.data(), last.size()));
    ASSERT_TRUE(queue.write(last.data(), last.size()));
    EXPECT_TRUE(queue.flush(milliseconds(2000)));
    EXPECT_EQ(pipe.drain(milliseconds(2000)),
              "TRACE LINES DROPPED=[" + std::to_string(dropped) + "]\n" + last + last);
}

TEST(OutputQueue, FlushWritesAnOwedCountAndGivesUpOnAStalledReader)
{
    Pipe pipe;
    OutputQueue queue(pipe.fds[1], 8 * 1024, "CONSOLE LINES DROPPED");
    std::string primer(6 * 1024, 'p');
    stallWriter(queue, primer);
    std::string big(3 * 1024, 'a');
    int dropped = 0;
    for (int i = 0; i < 5; ++i)
        dropped += queue.write(big.data(), big.size()) ? 0 : 1;
    ASSERT_EQ(dropped, 3);

    Clock::time_point start = Clock::now();
    EXPECT_FALSE(queue.flush(milliseconds(300)));
    EXPECT_LT(Clock::now() - start, milliseconds(1500)) << "the flush's wait is bounded";

    // With a reader, the flush ends with the count owed, without another text.
    std::string got = pipe.drain(milliseconds(3000));
    EXPECT_TRUE(queue.flush(milliseconds(2000)));
    got += pipe.drain(milliseconds(1000));
    const std::string notice = "CONSOLE LINES DROPPED=[" + std::to_string(dropped) + "]\n";
    EXPECT_EQ(got, primer + std::string(big.size() * 2, 'a') + notice);
}

// Frames replace the unsent frame before them, keep their place after the
// texts queued before them, and need room for themselves only.
TEST(OutputQueue, ANewerFrameReplacesTheUnsentOneAndFitsInItsRoom)
{
    Pipe pipe;
    const std::size_t capacity = 8 * 1024;
    OutputQueue queue(pipe.fds[1], capacity, "CONSOLE LINES DROPPED");
    std::string primer(6 * 1024, 'p');
    stallWriter(queue, primer);
    const std::string big(capacity - 20, 'F');
    const std::string steps[][2] = {{"text", "enter "}, {"frame", "1111"}, {"text", "between "},
                                    {"frame", "2222"}, {"frame", big}, {"frame", "3333"}};
    for (const auto& step : steps) {
        bool taken = step[0] == "frame" ? queue.writeFrame(step[1].data(), step[1].size())
                                         : queue.write(step[1].data(), step[1].size());
        EXPECT_TRUE(taken) << step[1].substr(0, 8);
    }
    EXPECT_TRUE(pipe.drain(milliseconds(3000)) == primer + "enter between 3333");
    // Once the writer has taken a frame, the next one goes after it.
    ASSERT_TRUE(queue.writeFrame("4444", 4));
    ASSERT_TRUE(queue.flush(milliseconds(2000)));
    ASSERT_TRUE(queue.writeFrame("5555", 4));
    ASSERT_TRUE(queue.flush(milliseconds(2000)));
    EXPECT_EQ(pipe.drain(milliseconds(1000)), "44445555");
}

// Texts queued while wake-ups are held wait, whole, for the outermost
// release, and then go out in one write; a wake-up owed by no text is none.
TEST(OutputQueue, HeldWakesGiveOneWriteForAHandlersTexts)
{
    Pipe pipe;
    OutputQueue queue(pipe.fds[1], 8 * 1024, "TRACE LINES DROPPED");
    ASSERT_TRUE(queue.write("up\n", 3));
    ASSERT_EQ(pipe.drain(milliseconds(2000)), "up\n");  // and 200 ms quiet: the writer waits
    OutputQueue::holdWakes();
    OutputQueue::holdWakes();
    for (const char* text : {"tick\n", "cpu\n", "tick end\n"}) {
        ASSERT_TRUE(queue.write(text, std::strlen(text)));
        ::usleep(20000);
    }
    OutputQueue::wakeHeld();
    pollfd in{pipe.fds[0], POLLIN, 0};
    EXPECT_EQ(::poll(&in, 1, 100), 0) << "written before the outermost release";
    OutputQueue::wakeHeld();
    ASSERT_EQ(::poll(&in, 1, 2000), 1);
    char buffer[64];
    ssize_t n = ::read(pipe.fds[0], buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0), "tick\ncpu\ntick end\n");
}

}  // namespace
