#!/usr/bin/env python3
# Hostile datagrams and faults against the running agent.
#
#   hostile_driver.py AGENT [--no-memory-check]
#
# Run by hostile_datagrams.sh inside a network namespace of its own; it
# refuses to run anywhere that has more than loopback. Every datagram goes to
# 127.0.0.1 or, out of loopback, to the agent's two groups.
#
# Checks:
#   f  another program holds UDP port 45654: the agent's start fails with exit
#      code 1 and a message on standard error that names the port;
#   a  boundary datagrams to the request port: empty, 1, 10, 11, 14, 15 bytes,
#      1501/1502-byte edges, 65,507 bytes, embedded zeros, non-ASCII and
#      control bytes. Each is answered exactly when the rules say so (more
#      than 10 bytes; "STATUS_REQUEST " in the text up to the first zero byte
#      within the first 1501 bytes; no "BEACON_CFG_ALARM "), and every reply
#      is the status document byte for byte but for the CPU value;
#   b  the same datagrams to both groups, port 34543: each shows as one event
#      line, and a configuration sent after them takes effect;
#   c  configuration faults: more than five server addresses, invalid
#      addresses, octal, hexadecimal and single-number forms, an empty
#      element. The console's "Local IP In Common with Orvane IP:" and
#      "Trigger:" lines show what the rules say: a form that only the lenient
#      conversion accepts fails the call after its pair's local address was
#      listed, and the earlier alarm settings stay;
#   d  a flood of 100,000 mixed datagrams to all of the agent's ports, bounded
#      in time: between bursts and afterwards status requests are answered
#      correctly, and the agent's resident memory after the flood is within
#      2 MB of what it was before (not checked with --no-memory-check, for a
#      sanitizer build);
#   e  SIGTERM then stops the agent with exit code 0.
import os
import random
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "golden"))
from golden import golden  # noqa: E402

AGENT = sys.argv[1]
# A sanitizer build holds freed memory back (quarantine, shadow memory): its
# resident size says nothing about the agent's own growth.
CHECK_MEMORY = "--no-memory-check" not in sys.argv[2:]
REQUEST = ("127.0.0.1", 45654)
GROUP_PORT = 34543
ORVANE = "224.0.1.224"
CLOUD = "224.0.2.224"
LARGEST = 65507
RECEIVE_SIZE = 1501
FLOOD_COUNT = 100000
FLOOD_BURST = 5000
FLOOD_SECONDS = 120
# The event log holds every multicast text until the console drains it
# (every 500 ms); the C library keeps the pages of that peak for reuse, so the
# resident size may rise by about a megabyte over the first flood while the
# memory in use stays where it was.
RSS_SLACK_KB = 2048
TIME_LIMIT = 250

VALUE_LABELS = ("Total CPU", "OS Description", "Host Name", "Local IP In Common with Orvane IP",
                "Trigger", "Orvane", "Cloud")

passed = 0
failed = 0


def log(text):
    print(text, flush=True)


def check(name, ok, detail=""):
    global passed, failed
    if ok:
        passed += 1
        log("PASS: " + name)
    else:
        failed += 1
        log("FAIL: " + name)
        if detail:
            for line in str(detail).splitlines()[:20]:
                log("      " + line)
    return ok


class TimeLimit(Exception):
    pass


def on_alarm(signum, frame):
    raise TimeLimit()


# ---------------------------------------------------------------- the agent

class Agent:
    """One run of the agent: standard output to a file that is read as it
    grows, standard error through tail, which keeps its last 2 MB."""

    started = []

    def __init__(self, workdir, name):
        self.out_path = os.path.join(workdir, name + ".out")
        self.err_path = os.path.join(workdir, name + ".err")
        out = open(self.out_path, "wb")
        err = open(self.err_path, "wb")
        self.proc = subprocess.Popen([AGENT], stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.PIPE)
        self.tail = subprocess.Popen(["tail", "-c", "2000000"], stdin=self.proc.stderr, stdout=err)
        self.proc.stderr.close()
        out.close()
        err.close()
        Agent.started += [self.proc, self.tail]
        self.offset = 0
        self.partial = b""
        self.values = {}          # label -> every text it showed, in order
        self.events = 0           # event lines
        self.multicast_events = 0  # event lines of received multicast texts
        self.failures = []        # event lines of caught failures

    def pid(self):
        return self.proc.pid

    def alive(self):
        return self.proc.poll() is None

    def read(self):
        """Takes in what the agent wrote since the last call."""
        with open(self.out_path, "rb") as out:
            out.seek(self.offset)
            data = out.read()
        self.offset += len(data)
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        for raw in lines:
            # The receivers echo each datagram on standard output, and the
            # console's line may follow an echo on the same physical line:
            # a console line is found where its label is, and runs to the
            # line feed.
            line = raw.decode("latin-1")
            at = line.find("Event: ")
            if at >= 0:
                event = line[at:]
                self.events += 1
                if event.startswith("Event:  MulticastRX= "):
                    self.multicast_events += 1
                elif "ZqServer= " in event:
                    self.failures.append(event)
                continue
            for label in VALUE_LABELS:
                at = line.find(label + ": ")
                if at >= 0:
                    self.values.setdefault(label, []).append(line[at + len(label) + 2:])
                    break

    def value(self, label):
        self.read()
        shown = self.values.get(label)
        return shown[-1] if shown else None

    def rss_kb(self):
        with open("/proc/%d/status" % self.proc.pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return -1

    def stop(self, sig, seconds=15):
        """Sends sig and waits for the exit; returns the exit code or None."""
        if self.alive():
            self.proc.send_signal(sig)
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None
        finally:
            try:
                self.tail.wait(5)
            except subprocess.TimeoutExpired:
                self.tail.kill()
                self.tail.wait()

    def trace_tail(self):
        with open(self.err_path, "rb") as err:
            return err.read().decode("latin-1")


def wait_until(seconds, condition, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def end_started():
    """Ends the processes this driver started that still run."""
    for proc in Agent.started:
        if proc.poll() is None:
            proc.kill()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                pass


# ---------------------------------------------------------------- sockets

def udp_socket(multicast=False):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    if multicast:
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
    sock.bind(("127.0.0.1", 0))
    return sock


def drain(sock, seconds=2.0):
    """Takes every datagram waiting on sock, for at most seconds (a sender
    that never stops cannot hold the test); returns them."""
    taken = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and select.select([sock], [], [], 0)[0]:
        taken.append(sock.recvfrom(LARGEST + 1))
    return taken


def ask_status(sock, tries=5, wait=1.0):
    """Sends "STATUS_REQUEST " from sock until a reply comes from the agent's
    request port; returns the reply or None."""
    drain(sock)
    for _ in range(tries):
        sock.sendto(b"STATUS_REQUEST ", REQUEST)
        deadline = time.monotonic() + wait
        while True:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([sock], [], [], left)[0]:
                break
            data, sender = sock.recvfrom(LARGEST + 1)
            if sender == REQUEST:
                return data
    return None


class ReplyShape:
    """The status document as the agent must send it, with any CPU value."""

    def __init__(self, address, os_description):
        before, after = golden("status_reply", ADDRESS=address, OS=os_description).split(b"@CPU@")
        self.pattern = re.compile(re.escape(before) + rb"-?[0-9]{1,3}" + re.escape(after), re.S)

    def problem(self, reply):
        if reply is None:
            return "no reply"
        if self.pattern.fullmatch(reply) is None:
            return "reply of unexpected shape: %r" % reply[:300]
        return None


# ---------------------------------------------------------------- the rules

def answered(data):
    """Whether the request server answers this datagram."""
    taken = data[:RECEIVE_SIZE]
    text = taken.split(b"\0", 1)[0]
    return len(taken) > 10 and b"STATUS_REQUEST " in text and b"BEACON_CFG_ALARM " not in text


def lenient(text):
    try:
        return int.from_bytes(socket.inet_aton(text), "big")
    except OSError:
        return 0xFFFFFFFF


def strict(text):
    return re.fullmatch(r"(0|[1-9][0-9]{0,2})(\.(0|[1-9][0-9]{0,2})){3}", text) is not None and \
        all(int(part) <= 255 for part in text.split("."))


class Config:
    """What the console must show after each configuration message."""

    def __init__(self, locals_):
        self.locals = locals_[:5]
        self.common = None
        self.trigger = None
        self.failures = 0

    def message(self, servers, percent, seconds, port=40001):
        text = "<beaconCfgAlarm>\n"
        for server in servers:
            text += "<srvIpAddr>%s</srvIpAddr>\n" % server
        text += "<srvIpPort>%d</srvIpPort>\n<cpuPercent>%d</cpuPercent>\n" % (port, percent)
        text += "<alarmSeconds>%d</alarmSeconds>\n</beaconCfgAlarm>\n" % seconds
        # The model: the servers up to the first empty one, five at most; the
        # pairs in local-then-server order, five at most; a matched address
        # that is no plain dotted quad ends the call.
        listed = []
        for server in servers:
            if server == "" or len(listed) == 5:
                break
            listed.append(server)
        common = []
        failed_call = False
        for local in self.locals:
            for server in listed:
                if failed_call or len(common) == 5:
                    continue
                if lenient(local) & 0xFFFFFF00 != lenient(server) & 0xFFFFFF00:
                    continue
                common.append(local)
                if not strict(local) or not strict(server):
                    failed_call = True
        self.common = ",  ".join(common)
        if failed_call:
            self.failures += 1
        else:
            self.trigger = "%d%%:%ds" % (percent, seconds)
        return text.encode()


# ---------------------------------------------------------------- the run

def run(workdir):
    names = [name for _, name in socket.if_nameindex()]
    if names != ["lo"]:
        check("the driver runs in a network namespace of loopback only", False, "interfaces: %s" % names)
        return

    try:
        host = socket.gethostbyname_ex(socket.gethostname())
        local_addresses = host[2]
    except OSError:
        local_addresses = []
    host_address = local_addresses[0] if local_addresses else "0.0.0.0"
    log("hostile: agent %s, host address %s, work directory %s" % (AGENT, host_address, workdir))

    # ---- f: the request port held by another program
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", REQUEST[1]))
    blocked = Agent(workdir, "port-taken")
    code = None
    try:
        code = blocked.proc.wait(15)
    except subprocess.TimeoutExpired:
        pass
    blocked.stop(signal.SIGKILL)
    holder.close()
    err = blocked.trace_tail()
    blocked.read()
    check("f with port 45654 taken the agent exits with code 1", code == 1, "exit: %s" % code)
    message = [line for line in err.splitlines() if "could not start" in line]
    check("f it says on standard error that it could not start because of UDP port 45654",
          any("45654" in line for line in message), "\n".join(err.splitlines()[-5:]))
    check("f it shows no dialog", "OS Description" not in blocked.values)

    # ---- the agent for everything else
    agent = Agent(workdir, "agent")
    ready = wait_until(15, lambda: agent.value("OS Description") is not None and
                       agent.value("Total CPU") is not None)
    if not check("the agent starts and shows its state", ready, agent.trace_tail()[-2000:]):
        return
    shape = ReplyShape(host_address, agent.value("OS Description"))
    probe = udp_socket()
    caser = udp_socket()
    sender = udp_socket(multicast=True)
    problem = shape.problem(ask_status(probe))
    check("the first status reply has the document's shape", problem is None, problem)

    # ---- a: boundary datagrams to the request port
    keyword = b"STATUS_REQUEST "
    rng = random.Random(45654)
    # Noise that can form neither keyword nor a console label, and holds no
    # zero byte.
    noise = bytes(rng.choice([b for b in range(1, 256) if b not in b"STATUS_REQUEST BEACON"])
                  for _ in range(LARGEST))
    cases = [
        ("empty", b""),
        ("1 byte", b"S"),
        ("1 zero byte", b"\0"),
        ("10 bytes", b"STATUS_REQ"),
        ("11 bytes", b"STATUS_REQU"),
        ("11 zero bytes", b"\0" * 11),
        ("14 bytes, the word without its blank", b"STATUS_REQUEST"),
        ("15 bytes, the keyword", keyword),
        ("the keyword, a zero byte, more", keyword + b"\0tail after zero"),
        ("a zero byte, then the keyword", b"\0" + keyword),
        ("text, a zero byte, then the keyword", b"abc\0" + keyword),
        ("control bytes around the keyword", b"\r\n\x1b[31m\x07\x08\t" + keyword + b"\x7f\x01"),
        ("non-ASCII around the keyword", "é€".encode() + keyword + b"\xff\xfe\x80"),
        ("all 256 byte values", bytes(range(256))),
        ("both keywords", keyword + b"BEACON_CFG_ALARM "),
        ("the keyword ending at byte 1501", noise[:RECEIVE_SIZE - len(keyword)] + keyword),
        ("the keyword cut by byte 1501", noise[:RECEIVE_SIZE - len(keyword) + 1] + keyword),
        ("65,507 bytes, keyword first", keyword + noise[:LARGEST - len(keyword)]),
        ("65,507 bytes, keyword past byte 1501", noise[:2000] + keyword + noise[:LARGEST - 2000 - len(keyword)]),
        ("65,507 bytes of noise", noise),
        ("65,507 zero bytes", b"\0" * LARGEST),
    ]
    for name, data in cases:
        caser.sendto(data, REQUEST)
        # The probe's reply shows that the agent handled the case before it.
        probe_problem = shape.problem(ask_status(probe))
        replies = [reply for reply, sender_address in drain(caser) if sender_address == REQUEST]
        expected = 1 if answered(data) else 0
        problems = [p for p in (shape.problem(r) for r in replies) if p]
        check("a %s (%d bytes): %s" % (name, len(data), "answered" if expected else "not answered"),
              len(replies) == expected and not problems and probe_problem is None,
              "replies: %d, expected %d; %s; probe: %s" % (len(replies), expected, problems, probe_problem))
    check("a the agent still runs", agent.alive())

    # ---- b: the same datagrams to both groups, one at a time (a burst of
    # 65,507-byte datagrams would overflow the socket's receive queue)
    def multicast_events():
        agent.read()
        return agent.multicast_events

    first = multicast_events()
    for name, data in cases:
        shown = []
        for group in (ORVANE, CLOUD):
            before = multicast_events()
            sender.sendto(data, (group, GROUP_PORT))
            shown.append(wait_until(5, lambda: multicast_events() > before))
        check("b %s (%d bytes) to each group shows as an event line" % (name, len(data)),
              shown == [True, True] and agent.alive(), "shown for the Orvane and the cloud group: %s" % shown)
    # One more refresh: nothing else may follow.
    time.sleep(0.6)
    check("b each datagram shows as exactly one event line", multicast_events() - first == 2 * len(cases),
          "%d event lines for %d datagrams" % (multicast_events() - first, 2 * len(cases)))
    problem = shape.problem(ask_status(probe))
    check("b after them the agent answers a status request", problem is None, problem)
    config = Config(local_addresses)
    sender.sendto(config.message(["192.0.2.1"], 61, 7), (ORVANE, GROUP_PORT))
    shown = wait_until(5, lambda: agent.value("Trigger") == config.trigger)
    check("b a configuration sent after them takes effect", shown,
          "Trigger: %s, expected %s" % (agent.value("Trigger"), config.trigger))

    # ---- c: configuration faults
    if local_addresses:
        net = local_addresses[0].rsplit(".", 1)[0]
        a, b_, c = (int(part) for part in net.split("."))
        foreign = "198.51.100" if net != "198.51.100" else "203.0.113"
        steps = [
            ("a server on the host's network", ["%s.20" % net], 90, 30),
            ("six server addresses, only the sixth on the host's network",
             ["%s.%d" % (foreign, i) for i in range(1, 6)] + ["%s.20" % net], 81, 11),
            ("seven server addresses on the host's network", ["%s.%d" % (net, 20 + i) for i in range(7)], 82, 12),
            ("invalid addresses", ["not-an-address", "300.1.2.3", "%s.256" % net, "1.2.3.4.5", "%s." % net], 83, 13),
            ("an octal form on the host's network", ["0%o.0%o.0%o.036" % (a, b_, c)], 83, 13),
            ("invalid again", ["999.1.1.1"], 84, 14),
            ("a hexadecimal form on the host's network", ["0x%x.0x%x.0x%x.0x1e" % (a, b_, c)], 84, 14),
            ("an empty element before a server on the host's network", ["", "%s.20" % net], 85, 15),
            ("a single-number form on the host's network", [str((a << 24) | (b_ << 16) | (c << 8) | 30)], 85, 15),
            ("a server on the host's network again", ["%s.20" % net], 90, 30),
        ]
        previous = (config.common, config.trigger)
        for name, servers, percent, seconds in steps:
            failures_before = config.failures
            sender.sendto(config.message(servers, percent, seconds), (ORVANE, GROUP_PORT))
            expected = (config.common, config.trigger)
            if expected == previous and config.failures == failures_before:
                check("c %s: the step changes what the console shows" % name, False)
                continue
            previous = expected
            def failure_lines():
                return [line for line in agent.failures if "ZqServer::setCrossOver" in line]
            shown = wait_until(5, lambda: (agent.value("Local IP In Common with Orvane IP") or "",
                                           agent.value("Trigger")) == expected and
                               len(failure_lines()) >= config.failures)
            # One more refresh: nothing else may follow.
            time.sleep(0.6)
            now = (agent.value("Local IP In Common with Orvane IP") or "", agent.value("Trigger"))
            check("c %s: common [%s], trigger %s%s" % (name, expected[0], expected[1],
                                                      ", the call fails" if config.failures > failures_before else ""),
                  shown and now == expected and len(failure_lines()) == config.failures,
                  "shown: common [%s], trigger %s; %d failure lines, expected %d" %
                  (now[0], now[1], len(failure_lines()), config.failures))
        problem = shape.problem(ask_status(probe))
        check("c the agent answers status requests after the faults", problem is None and agent.alive(), problem)
    else:
        log("SKIP: c the host name does not resolve, so the agent has no address to pair")

    # ---- d: the flood
    time.sleep(1.0)
    rss_before = agent.rss_kb()
    net = local_addresses[0].rsplit(".", 1)[0] if local_addresses else "192.0.2"
    pool = flood_pool(random.Random(34543), net)
    flood = udp_socket(multicast=True)
    sent = 0
    send_errors = 0
    probes = 0
    probe_problems = []
    start = time.monotonic()
    choose = random.Random(1)
    while sent < FLOOD_COUNT and time.monotonic() - start < FLOOD_SECONDS:
        for _ in range(min(FLOOD_BURST, FLOOD_COUNT - sent)):
            destination, data = pool[choose.randrange(len(pool))]
            try:
                flood.sendto(data, destination)
            except OSError:
                send_errors += 1
            sent += 1
        drain(flood)
        # Between bursts the agent answers; requests lost in a full receive
        # queue are sent again.
        probes += 1
        problem = shape.problem(ask_status(probe, tries=10, wait=0.5))
        if problem:
            probe_problems.append("after %d datagrams: %s" % (sent, problem))
    flood_seconds = time.monotonic() - start
    log("hostile: flood of %d datagrams in %.1f s (%d send errors), %d status probes; "
        "%d multicast event lines shown so far" % (sent, flood_seconds, send_errors, probes, multicast_events()))
    check("d the flood of %d datagrams was sent within %d s" % (FLOOD_COUNT, FLOOD_SECONDS),
          sent == FLOOD_COUNT, "sent %d" % sent)
    check("d during the flood every status probe got a reply of the document's shape",
          not probe_problems and agent.alive(), "\n".join(probe_problems[:10]))

    # Afterwards: a last configuration takes effect, replies are right, and
    # once the console has drained the event log the memory is back.
    sender.sendto(config.message(["%s.20" % net], 66, 6), (ORVANE, GROUP_PORT))
    shown = wait_until(15, lambda: agent.value("Trigger") == "66%:6s")
    check("d after the flood a configuration takes effect", shown, "Trigger: %s" % agent.value("Trigger"))
    replies = [shape.problem(ask_status(probe)) for _ in range(20)]
    check("d after the flood 20 status requests get replies of the document's shape",
          all(p is None for p in replies), [p for p in replies if p][:3])
    time.sleep(2.0)
    rss_after = agent.rss_kb()
    log("hostile: VmRSS before the flood %d kB, after %d kB" % (rss_before, rss_after))
    if CHECK_MEMORY:
        check("d the agent's resident memory grew by less than %d kB over the flood" % RSS_SLACK_KB,
              rss_before > 0 and rss_after - rss_before < RSS_SLACK_KB,
              "VmRSS %d kB before, %d kB after" % (rss_before, rss_after))
    else:
        log("SKIP: d the memory check: a sanitizer build")

    # ---- e: the stop
    code = agent.stop(signal.SIGTERM)
    check("e SIGTERM stops the agent with exit code 0", code == 0, "exit: %s" % code)
    check("e the agent stopped its service on the way out",
          "ZqServer::run HAS EXITED CORRECTLY" in agent.trace_tail())


def flood_pool(rng, net):
    """2,000 datagrams and their destinations: noise of many sizes with zeros,
    control and non-ASCII bytes, status and configuration requests to the
    request port, configuration messages (good, invalid, octal) and noise to
    both groups, and noise to the agent's own port."""
    def noise(size):
        return bytes(rng.getrandbits(8) for _ in range(size))

    def size():
        return rng.choice([0, 1, 10, 11, 14, 15, 100, 1023, 1024, 1025, 1500, 1501, 1502,
                           rng.randrange(0, 2048), rng.randrange(0, 300)])

    def server():
        return rng.choice(["%s.%d" % (net, rng.randrange(1, 255)), "10.%d.0.1" % rng.randrange(256), "",
                           "0300.0250.1.30", "0x7f.1", "not-an-address", noise(8).decode("latin-1")])

    def config():
        text = "beaconCfgAlarm"
        for _ in range(rng.randrange(0, 8)):
            text += "<srvIpAddr>%s</srvIpAddr>" % server()
        text += "<srvIpPort>%d</srvIpPort>" % rng.randrange(40000, 40100)
        text += "<cpuPercent>%d</cpuPercent><alarmSeconds>%d</alarmSeconds>" % (
            rng.randrange(-5, 120), rng.randrange(-5, 100))
        return text.encode("latin-1")

    def request():
        kind = rng.randrange(100)
        if kind < 10:
            data = noise(rng.randrange(0, 200))
            at = rng.randrange(len(data) + 1)
            return data[:at] + b"STATUS_REQUEST " + data[at:]
        if kind < 13:
            return b"BEACON_CFG_ALARM " + config()
        if kind < 15:
            return noise(LARGEST)
        return noise(size())

    pool = []
    for _ in range(2000):
        kind = rng.randrange(100)
        if kind < 45:
            pool.append((REQUEST, request()))
        elif kind < 70:
            data = config() if rng.randrange(10) == 0 else noise(size())
            pool.append(((ORVANE, GROUP_PORT), data))
        elif kind < 95:
            data = config() if rng.randrange(10) == 0 else noise(size())
            pool.append(((CLOUD, GROUP_PORT), data))
        else:
            pool.append((("127.0.0.1", GROUP_PORT), noise(size())))
    return pool


def main():
    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(TIME_LIMIT)
    workdir = tempfile.mkdtemp(prefix="zq-hostile.")
    start = time.monotonic()
    try:
        run(workdir)
    except TimeLimit:
        check("the run ends within its time limit of %d s" % TIME_LIMIT, False)
    finally:
        signal.alarm(0)
        end_started()
        if os.environ.get("HOSTILE_KEEP_LOGS") == "1":
            log("hostile: logs kept in " + workdir)
        else:
            subprocess.run(["rm", "-rf", "--", workdir], check=False)
    log("hostile: run took %.0f s" % (time.monotonic() - start))
    log("hostile: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
