#!/usr/bin/env python3
# Status requests against the reply limit; run by reply_limit.sh inside the
# namespaces it built.
#
#   reply_limit_driver.py clients AGENT_ADDRESS   from 10.77.1.1-100 and 10.77.2.1
#   reply_limit_driver.py busy AGENT_ADDRESS      from 10.77.1.1 and 10.77.2.1,
#                                                 with every processor loaded
#   reply_limit_driver.py loopback 127.0.0.1      from 127.0.0.1
#
# Every loop is bounded in count and time. Prints PASS/FAIL lines; exits 1
# when any check failed.
import os
import select
import socket
import subprocess
import sys
import time

REQUEST = b"STATUS_REQUEST "
PORT = 45654
failed = 0


def check(name, ok, detail=""):
    global failed
    print(("PASS: " if ok else "FAIL: ") + name + ("" if ok else " -- " + detail), flush=True)
    if not ok:
        failed += 1


def bound(address):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
    sock.bind((address, 0))
    sock.setblocking(False)
    return sock


def drain(sockets, counts, seconds=2.0):
    """Counts the replies waiting on sockets (a dict socket -> key), for at
    most seconds, so that a sender that never stops cannot hold the test."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready = select.select(list(sockets), [], [], 0)[0]
        if not ready:
            return
        for sock in ready:
            try:
                while time.monotonic() < deadline:
                    data, _ = sock.recvfrom(4096)
                    if data.startswith(b"<status>"):
                        counts[sockets[sock]] = counts.get(sockets[sock], 0) + 1
            except BlockingIOError:
                pass


def paced(agent, schedule, seconds):
    """Sends requests for seconds: schedule is a list of (socket, per second).
    Returns the replies counted per socket and the requests sent per socket."""
    keys = {sock: i for i, (sock, _) in enumerate(schedule)}
    counts, sent = {}, {}
    start = time.monotonic()
    next_at = [start] * len(schedule)
    while time.monotonic() - start < seconds:
        now = time.monotonic()
        for i, (sock, rate) in enumerate(schedule):
            while next_at[i] <= now:
                try:
                    sock.sendto(REQUEST, (agent, PORT))
                    sent[i] = sent.get(i, 0) + 1
                except BlockingIOError:
                    pass
                next_at[i] += 1.0 / rate
        drain(keys, counts)
        time.sleep(0.0005)
    settle = time.monotonic() + 0.5
    while time.monotonic() < settle:
        drain(keys, counts)
        time.sleep(0.01)
    return counts, sent


def clients(agent):
    # One source at 500 requests a second for three seconds, another at ten.
    flooder, other = bound("10.77.1.1"), bound("10.77.2.1")
    counts, sent = paced(agent, [(flooder, 500), (other, 10)], 3.0)
    got, asked = counts.get(0, 0), sent.get(0, 0)
    check("one source flooding gets its burst and twenty a second (%d of %d)" % (got, asked),
          20 + 20 * 3 - 5 <= got <= 20 + 20 * 3 + 5 and asked > 1000, "replies %d" % got)
    got, asked = counts.get(1, 0), sent.get(1, 0)
    check("another source is answered during the flood (%d of %d)" % (got, asked), got == asked and asked >= 25)
    for sock in (flooder, other):
        sock.close()
    time.sleep(1.5)

    # A hundred sources, each at 19 a second (within its own limit): 1,900 a
    # second together for four seconds.
    sources = [bound("10.77.1.%d" % i) for i in range(1, 101)]
    counts, sent = paced(agent, [(sock, 19) for sock in sources], 4.0)
    got, asked = sum(counts.values()), sum(sent.values())
    check("all sources together get a burst of 1,000 and 1,000 a second (%d of %d)" % (got, asked),
          4600 <= got <= 5050 and asked >= 7000, "replies %d, requests %d" % (got, asked))
    for sock in sources:
        sock.close()


def busy(agent):
    # Two busy loops of our own per processor (each ending by itself), then
    # three rounds: one source floods 3,000 requests within a second while
    # another asks ten times; the flood must not crowd the other out.
    spin = "import time\nend = time.monotonic() + 8.5\nwhile time.monotonic() < end: pass\n"
    loops = [subprocess.Popen([sys.executable, "-c", spin]) for _ in range(2 * (os.cpu_count() or 2))]
    try:
        for n in range(3):
            time.sleep(0.5)
            flooder, other = bound("10.77.1.1"), bound("10.77.2.1")
            counts, sent = paced(agent, [(flooder, 3000), (other, 10)], 1.0)
            got, asked = counts.get(1, 0), sent.get(1, 0)
            check("on a busy machine, another source is answered during a flood of %d (round %d: %d of %d)"
                  % (sent.get(0, 0), n + 1, got, asked), got == asked >= 9 and sent.get(0, 0) >= 2500)
            flooder.close(), other.close()
    finally:
        for loop in loops:
            loop.kill(), loop.wait()


def loopback(address):
    sock = bound(address)
    sock.setblocking(True)
    sock.settimeout(1.0)
    answered = 0
    deadline = time.monotonic() + 30
    for _ in range(500):
        if time.monotonic() > deadline:
            break
        sock.sendto(REQUEST, (address, PORT))
        try:
            data, _ = sock.recvfrom(4096)
            answered += data.startswith(b"<status>")
        except socket.timeout:
            pass
    check("500 requests in a row from loopback are all answered (%d)" % answered, answered == 500)


if __name__ == "__main__":
    {"clients": clients, "busy": busy, "loopback": loopback}[sys.argv[1]](sys.argv[2])
    sys.exit(1 if failed else 0)
