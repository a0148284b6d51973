"""Several tuners at once on the driver model in the kernel, inside the test
machine: searches from several processes on three blind-scan devices
(two tuners with their own cables, a third looping through the first's),
beside LNB requests, property reads and lines written to the log, every
answer and every log line checked; and a busy tuner left alone: its
frontend opens only read-only, and reads its cable's setting. The board has
one processor: the processes interleave by preemption, inside requests too.
The helpers that tell which tuner a log line belongs to serve cases.py too."""
import ctypes
import errno
import os
import re
import subprocess
import time

RECEIVER = "/receiver"
LIBC = ctypes.CDLL(None, use_errno=True)
LIBC.ioctl.argtypes = [ctypes.c_int, ctypes.c_ulong, ctypes.c_void_p]


# Request codes as the Malta board's mipsel kernel lays them out: three
# direction bits from bit 29 (1 none, 2 read, 4 write), a 13-bit size.
def frontend_request(direction, number, size=0):
    return direction << 29 | size << 16 | ord("o") << 8 | number


class DtvProperty(ctypes.Structure):
    _pack_ = 1  # packed in the frontend API; the union is 48 bytes and a pointer
    _fields_ = [("cmd", ctypes.c_uint32), ("reserved", ctypes.c_uint32 * 3), ("data", ctypes.c_uint32),
                ("rest", ctypes.c_uint8 * (44 + ctypes.sizeof(ctypes.c_void_p))), ("result", ctypes.c_int)]


class DtvProperties(ctypes.Structure):
    _fields_ = [("num", ctypes.c_uint32), ("props", ctypes.POINTER(DtvProperty))]


FE_SET_TONE, FE_SET_VOLTAGE = frontend_request(1, 66), frontend_request(1, 67)
FE_GET_PROPERTY = frontend_request(2, 83, ctypes.sizeof(DtvProperties))
SEC_VOLTAGE_13, SEC_VOLTAGE_18, SEC_TONE_ON, SEC_TONE_OFF = 0, 1, 0, 1
DTV_FREQUENCY, DTV_VOLTAGE, DTV_TONE = 3, 10, 11
BS_SET_PARAMS, BS_SEARCH, BS_GET_RESULT = 1, 2, 3
FRONTEND = "/dev/dvb/adapter0/frontend"

# A request line: its node when another tuner was in use, what, the result.
REQUEST = re.compile(r"ioctl (?:/dev/(?:blindscan|dvb/adapter0/frontend)(?P<tuner>\d+) )?(?P<what>.*) -> (?P<ret>.*)")
NODE = re.compile(r"(?P<verb>open|close) /dev/(?P<kind>blindscan|dvb/adapter0/frontend)(?P<tuner>\d+)"
                  r"(?: flags=0x(?P<flags>[0-9a-f]+) -> (?P<result>ok|fail))?")


def ioctl(fd, request, arg=None):
    """libc's ioctl: 0, or minus the error number."""
    return 0 if LIBC.ioctl(fd, request, arg) == 0 else -ctypes.get_errno()


def open_error(path, flags):
    """0 if the node opens (it is closed again), else the error number."""
    try:
        os.close(os.open(path, flags))
        return 0
    except OSError as e:
        return e.errno


def read_properties(fd, *commands):
    """FE_GET_PROPERTY of these: its result and each value."""
    props = (DtvProperty * len(commands))()
    for prop, command in zip(props, commands):
        prop.cmd = command
    request = DtvProperties(len(commands), props)
    return ioctl(fd, FE_GET_PROPERTY, ctypes.addressof(request)), [prop.data for prop in props]


def search(fd, hz, sr_min, sr_max):
    """What the search of this window finds: its eight words, None for
    nothing, or the failing request's result."""
    params = (ctypes.c_uint32 * 5)(hz, sr_min, sr_max, 0, 0)
    words = (ctypes.c_uint32 * 8)()
    if ioctl(fd, BS_SET_PARAMS, ctypes.addressof(params)) != 0:
        return "BS_SET_PARAMS failed"
    if ioctl(fd, BS_SEARCH) != 0:
        return None
    ret = ioctl(fd, BS_GET_RESULT, ctypes.addressof(words))
    return list(words) if ret == 0 else f"BS_GET_RESULT {ret}"


def attribute(log):
    """Each line of the driver's log with the tuner it concerns (None for a
    line of no tuner), its node named or not, and the line without the node
    in a request: a request line names its node when another tuner is in
    use, so an unnamed one is the lone tuner's. Problems where a line
    breaks that rule."""
    scanners, writers, readers = set(), set(), {}
    lines, problems = [], []
    for line in log:
        node, request = NODE.fullmatch(line), REQUEST.fullmatch(line)
        in_use = scanners | writers
        if node:
            tuner = int(node["tuner"])
            track_node(node, tuner, scanners, writers, readers, problems)
            lines.append((tuner, line))
        elif request and request["tuner"] is not None:
            tuner = int(request["tuner"])
            if not in_use - {tuner}:
                problems.append(f"named although no other tuner was in use: {line}")
            lines.append((tuner, f"ioctl {request['what']} -> {request['ret']}"))
        elif request:
            if len(in_use) > 1:
                problems.append(f"not named with tuners {sorted(in_use)} in use: {line}")
            lines.append((next(iter(in_use)) if in_use else None, line))
        else:
            lines.append((None, line))
    return lines, problems


def track_node(node, tuner, scanners, writers, readers, problems):
    """Which nodes are open, from one open or close line. A frontend's
    close is a reader's while it has readers and no writer."""
    scanner = node["kind"] == "blindscan"
    if node["verb"] == "open" and node["result"] == "ok":
        if scanner:
            scanners.add(tuner)
        elif int(node["flags"], 16) & 3:
            writers.add(tuner)
        else:
            readers[tuner] = readers.get(tuner, 0) + 1
    elif node["verb"] == "close" and scanner:
        scanners.discard(tuner)
    elif node["verb"] == "close":
        if tuner in writers and readers.get(tuner):
            problems.append(f"cannot tell which frontend {tuner} closed")
        if readers.get(tuner) and tuner not in writers:
            readers[tuner] -= 1
        else:
            writers.discard(tuner)


def load_table(table):
    for line in table.splitlines():
        with open("/proc/simrx/receiver", "w") as f:
            f.write(line + "\n")


def read_log():
    with open("/proc/simrx/log") as f:
        return f.read().splitlines()


def compile_description(text, steps_input=None):
    """The driver model loaded from a description through simrx-steps: its
    answers to the queries given, or its table without steps."""
    with open("/tmp/wiring.sat", "w") as f:
        f.write(text)
    args = ["--answers"] if steps_input is not None else ["-", "950", "950", "2", "45"]
    table = subprocess.run([f"{RECEIVER}/bin/simrx-steps", "/tmp/wiring.sat", *args], input=steps_input or "",
                           capture_output=True, text=True, check=True).stdout
    load_table(table)
    return table


def report(name, problems, detail=""):
    print(f"MALTA case {name}: {'PASS' if not problems else 'FAIL'}{detail}", flush=True)
    for problem in problems[:20]:
        print("MALTA   " + problem.replace("\n", "\nMALTA   "), flush=True)
    return not problems


# ---- searches on several devices at once ---------------------------------

TUNERS = "".join(f"tuner {n} DVB-S2 DVB-S2 NIM {n}\n" for n in range(3))
WINDOWS = [mhz * 1000000 for mhz in range(950, 2150, 10)]
SR_MIN, SR_MAX = 2000000, 45000000
# Cable 0 is set to V high by frontend 0, cable 1 stays H low, tuner 2
# loops through cable 0 and its own request (18 V) must reach nothing.
SETTINGS = {0: ("V", 1), 1: ("H", 0), 2: ("V", 1)}
CABLE = {0: 0, 1: 1, 2: 0}
WORKERS = [0, 1, 2, 0, 1, 2]  # the device each searching process uses
ROUNDS = 2
LNB_REPEATS = 100
MARKERS = 200


def answer_table(text):
    """The driver model loaded with every window's answer on either cable
    under both settings, so a search that reads the wrong cable finds the
    other's carrier: (cable, polarisation, band, route, Hz) to the words."""
    queries = ([f"0: query {hz} {SR_MIN} {SR_MAX}" for hz in WINDOWS] + ["0: voltage 13", "0: tone on"]
               + [f"{t}: query {hz} {SR_MIN} {SR_MAX}" for t in (0, 1) for hz in WINDOWS])
    table = compile_description(text, "\n".join(queries) + "\n")
    answers = {}
    for line in table.splitlines():
        words = line.split()
        if words[0] == "answer":
            answers[(int(words[1]), words[2], int(words[3]), int(words[4]), int(words[5]))] = \
                [int(w) for w in words[8:]]
    return answers


def expected(answers, tuner, hz):
    polarisation, band = SETTINGS[tuner]
    return answers.get((CABLE[tuner], polarisation, band, 0, hz))


def set_cables():
    fe0 = os.open(FRONTEND + "0", os.O_RDWR)
    ok = ioctl(fe0, FE_SET_VOLTAGE, SEC_VOLTAGE_13) == 0 and ioctl(fe0, FE_SET_TONE, SEC_TONE_ON) == 0
    os.close(fe0)
    fe2 = os.open(FRONTEND + "2", os.O_RDWR)
    ok = ok and ioctl(fe2, FE_SET_VOLTAGE, SEC_VOLTAGE_18) == 0  # answered, reaches nothing
    os.close(fe2)
    return ok


def open_when_free(path):
    """Opens a blind-scan device another process may hold: waits for it."""
    deadline = time.monotonic() + 120
    while True:
        try:
            return os.open(path, os.O_RDWR)
        except OSError as e:
            if e.errno != errno.EBUSY or time.monotonic() > deadline:
                raise
            time.sleep(0.02)


def searching_worker(tuner, answers):
    problems = []
    for _ in range(ROUNDS):
        fd = open_when_free(f"/dev/blindscan{tuner}")
        for hz in WINDOWS:
            found, wanted = search(fd, hz, SR_MIN, SR_MAX), expected(answers, tuner, hz)
            if found != wanted:
                problems.append(f"blindscan{tuner} at {hz}: {found}, not {wanted}")
        os.close(fd)
    return problems


def lnb_worker():
    """Tuner 1's LNB set again and again to what it is: the frontend's
    requests interleave with the searches without changing their answers."""
    fd = os.open(FRONTEND + "1", os.O_RDWR)
    results = [ioctl(fd, request, value) for _ in range(LNB_REPEATS)
               for request, value in ((FE_SET_VOLTAGE, SEC_VOLTAGE_18), (FE_SET_TONE, SEC_TONE_OFF))]
    os.close(fd)
    return [f"tuner 1's LNB requests: {sorted(set(results))}"] if set(results) != {0} else []


def property_worker():
    """Cable 0's setting read through frontend 0 opened read-only."""
    fd = os.open(FRONTEND + "0", os.O_RDONLY)
    readings = {tuple([ret] + values) for ret, values in
                (read_properties(fd, DTV_VOLTAGE, DTV_TONE) for _ in range(LNB_REPEATS))}
    os.close(fd)
    return [] if readings == {(0, SEC_VOLTAGE_13, SEC_TONE_ON)} else [f"cable 0 read as {readings}"]


def marker_worker():
    for n in range(MARKERS):
        with open("/proc/simrx/log", "w") as f:
            f.write(f"marker {n}\n")
    return []


def fork(work, *args):
    """Runs work in a child process: its pid and the pipe its problems come back on."""
    reader, writer = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(reader)
        try:
            problems = work(*args)
        except Exception as e:  # a crash is a problem to report, not a hang
            problems = [f"{work.__name__}: {e!r}"]
        os.write(writer, "\n".join(problems).encode())
        os._exit(0)
    os.close(writer)
    return pid, reader


def collect(child):
    pid, reader = child
    chunks = []
    while chunk := os.read(reader, 65536):
        chunks.append(chunk)
    os.close(reader)
    _, status = os.waitpid(pid, 0)
    text = b"".join(chunks).decode()
    return ([text] if text else []) + ([f"child {pid} ended with {status}"] if status else [])


# Every line the concurrent run may leave, whole.
LOG_LINE = re.compile(
    r"open /dev/(blindscan|dvb/adapter0/frontend)\d flags=0x[0-9a-f]+ -> (ok|fail)|close /dev/(blindscan|dvb/adapter0/frontend)\d"
    r"|ioctl (/dev/\S+ )?(BS_SET_PARAMS \d+ 2000000 45000000 0 0 -> 0|BS_SEARCH -> (0|-1)|BS_GET_RESULT -> 0( \d+){8}"
    r"|FE_SET_VOLTAGE SEC_VOLTAGE_1[38] -> 0|FE_SET_TONE SEC_TONE_O(N|FF) -> 0"
    r"|FE_GET_PROPERTY DTV_VOLTAGE SEC_VOLTAGE_13 DTV_TONE SEC_TONE_ON -> 0)|marker \d+")


def check_concurrent_log(log, answers):
    """Every line whole, every node named where it must be, each device's
    searches found what its cable carries, and every line there; and how
    often one device's searches followed another's, which must be more than
    once for the run to show anything."""
    lines, problems = attribute(log)
    searching = [tuner for tuner, line in lines if line.startswith("ioctl BS_")]
    switches = sum(a != b for a, b in zip(searching, searching[1:]))
    if switches < len(WORKERS):
        problems.append(f"the devices' searches interleaved only {switches} times")
    problems += [f"torn or unknown line: {line!r}" for line in log if not LOG_LINE.fullmatch(line)]
    window = {}
    for tuner, line in lines:
        words = line.split()
        if line.startswith("ioctl BS_SET_PARAMS"):
            window[tuner] = int(words[2])
        elif line.startswith("ioctl BS_GET_RESULT -> 0"):
            logged, wanted = [int(w) for w in words[4:]], expected(answers, tuner, window.get(tuner))
            if logged != wanted:
                problems.append(f"tuner {tuner}'s log at {window.get(tuner)}: {logged}, not {wanted}")
    searches = sum(line.startswith("ioctl BS_SEARCH") for _, line in lines)
    if searches != len(WORKERS) * ROUNDS * len(WINDOWS):
        problems.append(f"{searches} searches logged, {len(WORKERS) * ROUNDS * len(WINDOWS)} made")
    markers = sorted(int(line.split()[1]) for line in log if line.startswith("marker "))
    if markers != list(range(MARKERS)):
        problems.append(f"{len(markers)} marker lines of {MARKERS}")
    lnb = sum(" FE_SET_" in line for line in log)
    if lnb != 2 * LNB_REPEATS + 3:
        problems.append(f"{lnb} LNB requests logged, {2 * LNB_REPEATS + 3} made")
    return problems, switches


def check_concurrent_searches(default_sat):
    sky = "".join(line + "\n" for line in default_sat.splitlines() if line.startswith("tp "))
    answers = answer_table(TUNERS + "input 2 0\njitter off\n" + sky)
    started = time.monotonic()
    problems = [] if set_cables() else ["the cables could not be set"]
    children = [fork(searching_worker, tuner, answers) for tuner in WORKERS]
    children += [fork(lnb_worker), fork(property_worker), fork(marker_worker)]
    for child in children:
        problems += collect(child)
    log = read_log()
    log_problems, switches = check_concurrent_log(log, answers)
    problems += log_problems
    found = sum(expected(answers, t, hz) is not None for t in WORKERS for hz in WINDOWS) * ROUNDS
    return report("several processes searching on three devices at once", problems,
                  f" ({len(WORKERS) * ROUNDS * len(WINDOWS)} searches, {found} locked, {len(log)} log lines,"
                  f" {switches} switches between devices, {time.monotonic() - started:.0f} s)")


# ---- a busy tuner left alone ---------------------------------------------

# Tuner 1 is someone else's, watching V high; tuner 2 is a second
# demodulator behind its input; tuner 0 has a cable of its own.
BUSY_SAT = TUNERS + "busy 1\ninput 2 1\nlnb high V\n"
BUSY_LOG = [
    "open /dev/dvb/adapter0/frontend1 flags=0x2 -> fail",
    "open /dev/blindscan1 flags=0x2 -> fail",
    "open /dev/dvb/adapter0/frontend1 flags=0x0 -> ok",
    "ioctl FE_GET_PROPERTY DTV_VOLTAGE SEC_VOLTAGE_13 DTV_TONE SEC_TONE_ON -> 0",
    "ioctl FE_GET_PROPERTY 3 -> -1",
    f"ioctl 0x{FE_SET_VOLTAGE:x} -> -1",
    "open /dev/dvb/adapter0/frontend2 flags=0x2 -> ok",
    "ioctl FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0",  # tuner 2 alone in use: not named
    "ioctl FE_SET_TONE SEC_TONE_OFF -> 0",
    "open /dev/dvb/adapter0/frontend0 flags=0x2 -> ok",
    "ioctl /dev/dvb/adapter0/frontend0 FE_SET_VOLTAGE SEC_VOLTAGE_18 -> 0",
    "ioctl /dev/dvb/adapter0/frontend1 FE_GET_PROPERTY DTV_VOLTAGE SEC_VOLTAGE_13 DTV_TONE SEC_TONE_ON -> 0",
    "ioctl /dev/dvb/adapter0/frontend0 FE_GET_PROPERTY DTV_VOLTAGE SEC_VOLTAGE_18 DTV_TONE SEC_TONE_ON -> 0",
    "close /dev/dvb/adapter0/frontend0",
    "close /dev/dvb/adapter0/frontend2",
    "close /dev/dvb/adapter0/frontend1",
]


def check_busy_tuner():
    compile_description(BUSY_SAT)
    checks = {
        "its frontend does not open read-write": open_error(FRONTEND + "1", os.O_RDWR) == errno.EBUSY,
        "its blind-scan device does not open": open_error("/dev/blindscan1", os.O_RDWR) == errno.EBUSY,
    }
    watched = os.open(FRONTEND + "1", os.O_RDONLY)
    checks["it reads V high"] = read_properties(watched, DTV_VOLTAGE, DTV_TONE) == (0, [SEC_VOLTAGE_13, SEC_TONE_ON])
    checks["it reads no frequency"] = read_properties(watched, DTV_FREQUENCY)[0] == -errno.EINVAL
    checks["it sets nothing read-only"] = ioctl(watched, FE_SET_VOLTAGE, SEC_VOLTAGE_18) == -errno.EPERM
    behind = os.open(FRONTEND + "2", os.O_RDWR)
    checks["the tuner behind its input is answered"] = (
        ioctl(behind, FE_SET_VOLTAGE, SEC_VOLTAGE_18) == 0 and ioctl(behind, FE_SET_TONE, SEC_TONE_OFF) == 0)
    own = os.open(FRONTEND + "0", os.O_RDWR)
    checks["another cable is set"] = ioctl(own, FE_SET_VOLTAGE, SEC_VOLTAGE_18) == 0
    checks["its cable is as it was"] = read_properties(watched, DTV_VOLTAGE, DTV_TONE) == (
        0, [SEC_VOLTAGE_13, SEC_TONE_ON])
    checks["the other cable reads its own setting"] = read_properties(own, DTV_VOLTAGE, DTV_TONE) == (
        0, [SEC_VOLTAGE_18, SEC_TONE_ON])
    for fd in (own, behind, watched):
        os.close(fd)
    log = read_log()
    problems = [name for name, ok in checks.items() if not ok]
    if log != BUSY_LOG:
        problems.append("the driver's log differs:\n  " + "\n  ".join(log))
    return report("a busy tuner left alone", problems, f" ({len(checks)} checks, {len(log)} log lines)")
