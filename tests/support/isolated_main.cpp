// The main of every Linux test program: it first moves the process into a
// network namespace of its own (loopback up, multicast routed over
// loopback), so that the agent's fixed ports and multicast groups are used
// only there and test programs can run side by side.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>

int main(int argc, char** argv)
{
    if (::unshare(CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "tests: cannot create a private network namespace (run as root): %s\n",
                     std::strerror(errno));
        return 1;
    }
    if (std::system("ip link set lo up && ip route add 224.0.0.0/4 dev lo") != 0) {
        std::fprintf(stderr, "tests: cannot set up loopback in the private network namespace\n");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
