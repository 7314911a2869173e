"""The bench: setup.exe side by side with the floor under Wine. Its size (code and data,
resources, the icon alone); the time to its first window against an empty-window program;
the download and install of a ~20 MB package from the local HTTPS host against a program
that makes the same two calls with no user interface and checks the download once with the
platform's trust check between them (and against one that does not check), and the progress
notifications; the peak memory of each. Prints medians over interleaved runs with their spread.
The times are the build's in BUILD_DIR, x86 or x64 (WINE and WINE_ARCH name its loader and
Windows); the size is always the x86 release's, given as --release.

    python3 tools/bench/bench.py --release SETUP_EXE [--startup-runs N] [--install-runs N]"""
import argparse
import collections
import json
import os
import random
import statistics
import struct
import subprocess
import sys

top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
build = os.environ["BUILD_DIR"]
BENCH = os.path.join(build, "bench")
# The launcher answers windows in the robot's place, so the harness runs it as the robot.
os.environ["ROBOT_EXE"] = os.path.join(BENCH, "launch.exe")
os.environ.setdefault("WINE_PREFIXES", os.path.join(build, "prefixes"))
os.environ.setdefault("E2E_WORK", os.path.join(build, "bench-work"))
sys.path.insert(0, os.path.join(top, "tests", "e2e"))

from harness import APP_TITLE, OWN_ARCH, PLATFORM, WORK, Prefix, run_setup  # noqa: E402
from signing import Identity, signed_copy  # noqa: E402

RT_ICON, RT_GROUP_ICON = 3, 14
PAYLOAD_BYTES = 20 * 1024 * 1024
SIZE_GOAL = 256 * 1024
# The package of the measured build's own platform.
FLAVOUR, PRODUCT_CODE = {"x86": ("Win32", "1A2B3C4D-0000-4000-8000-000000000001"),
                         "x64": ("x64", "1A2B3C4D-0000-4000-8000-000000000003")}[PLATFORM]
PACKAGE = f"Quorvel.{FLAVOUR}.En.msi"
INSTALLED = os.path.join("Program Files", "Quorvel", "quorvel-En.txt")
CHOOSE_ENGLISH = ("Choose setup language", "select:English,press:1")


# --- size -------------------------------------------------------------------------------

def pe_layout(path):
    """(header bytes, {section name: raw bytes}, icon bytes) of a PE file: the icon is every
    RT_ICON and RT_GROUP_ICON data entry of its resource directory."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional = struct.unpack_from("<HxxxxxxxxxxxxH", data, pe + 6)
    table = pe + 24 + optional
    sections = {}
    rsrc = None
    for i in range(count):
        name, vsize, rva, raw, pointer = struct.unpack_from("<8sIIII", data, table + 40 * i)
        name = name.rstrip(b"\0").decode()
        sections[name] = raw
        if name == ".rsrc":
            rsrc = (rva, pointer)
    headers = min(p for i in range(count) if (p := struct.unpack_from("<I", data, table + 40 * i + 20)[0]))

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, rsrc[1] + offset + 12)
        for k in range(named + ids):
            key, target = struct.unpack_from("<II", data, rsrc[1] + offset + 16 + 8 * k)
            yield key, target

    def leaf_bytes(target):
        if target & 0x80000000:
            return sum(leaf_bytes(t) for _, t in entries(target & 0x7FFFFFFF))
        return struct.unpack_from("<I", data, rsrc[1] + target + 4)[0]

    icon = sum(leaf_bytes(t) for key, t in entries(0) if key in (RT_ICON, RT_GROUP_ICON)) if rsrc else 0
    return headers, sections, icon


def report_size(path, signed):
    headers, sections, icon = pe_layout(path)
    total = os.path.getsize(path)
    resources = sections.get(".rsrc", 0)
    code_data = total - resources
    print(f"size of {path}  (PE sections and resource directory read by tools/bench/bench.py)")
    print(f"  file                  {total:8d} bytes  goal <= {SIZE_GOAL}: {'met' if total <= SIZE_GOAL else 'MISSED'}")
    print(f"  code and data         {code_data:8d}  (headers {headers}, "
          + ", ".join(f"{n} {b}" for n, b in sections.items() if n != ".rsrc" and b) + ")")
    print(f"  resources (.rsrc)     {resources:8d}  of which the icon alone {icon}, the rest {resources - icon}")
    print(f"  signed copy           {os.path.getsize(signed):8d}  (the bench's test certificate, no chain)")
    print()


# --- runs -------------------------------------------------------------------------------

def events(run, kind):
    return [e for e in run.events if e["event"] == kind]


def ended(run):
    (end,) = events(run, "exit")
    return end


class Series:
    """Measurements of one quantity, one list per program."""

    def __init__(self, label, unit):
        self.label, self.unit, self.values = label, unit, collections.defaultdict(list)

    def add(self, program, value):
        self.values[program].append(value)

    def line(self, compare, goal=None, programs=("setup.exe", "floor")):
        """The medians of two programs with their spread, compared; against the goal if any."""
        columns, medians = [], []
        for program in programs:
            values = self.values[program]
            medians.append(statistics.median(values))
            columns.append(f"{program} {medians[-1]:8.1f} [{min(values):.1f}..{max(values):.1f}]")
        verdict = "" if goal is None else ("met; " if goal(*medians) else "MISSED; ")
        counts = "+".join(str(len(self.values[p])) for p in programs)
        return (f"  {self.label:24s} {columns[0]:36s} {columns[1]:32s} {compare(*medians)}"
                f"  ({verdict}{self.unit}, n={counts})")


def ratio(goal=None):
    text = "" if goal is None else f" (goal <= {goal})"
    return (lambda a, b: f"ratio {a / b:.3f}{text}"), (None if goal is None else lambda a, b: a / b <= goal)


def difference(goal_mb=None):
    text = "" if goal_mb is None else f" (goal <= {goal_mb} MB)"
    return (lambda a, b: f"diff {(a - b) / 1024:+.2f} MB{text}"), \
           (None if goal_mb is None else lambda a, b: a - b <= goal_mb * 1024)


def first_window(prefix, program):
    """Milliseconds from CreateProcess to the first visible top-level window, and the peak
    working set (KB) then; the program is ended there."""
    run = run_setup(prefix, setup=program, name=os.path.basename(program), rules=[("", "end")], timeout=60)
    shown = events(run, "window")
    if not shown:
        raise SystemExit(f"{program} showed no window: {run.events}")
    return shown[0]["title"], shown[0]["ms"], ended(run)["peak_working_set"] / 1024


def measure_startup(runs, setup, floor, floor_with_bar):
    """Interleaved, in rotating order: setup.exe, the floor, and the floor with a progress bar."""
    times, memory = Series("first window", "ms"), Series("peak memory at it", "KB")
    programs = [("setup.exe", setup), ("floor", floor), ("floor+bar", floor_with_bar)]
    with Prefix(OWN_ARCH) as prefix:
        for _, program in programs:
            first_window(prefix, program)  # warm-up: Wine's own files into the cache
        for i in range(runs):
            for name, program in programs[i % 3:] + programs[:i % 3]:
                title, ms, kb = first_window(prefix, program)
                if program == setup and title != APP_TITLE:
                    raise SystemExit(f"setup.exe's first window is '{title}', not the progress dialog")
                times.add(name, ms)
                memory.add(name, kb)
    print("start-up: CreateProcess to the first visible top-level window (bench/launch.exe), "
          "the program ended there; floor+bar: the floor with a comctl32 progress bar")
    print(times.line(*ratio(1.1)))
    print(memory.line(*difference(2)))
    print(times.line(*ratio(), programs=("floor+bar", "floor")))
    print(memory.line(*difference(), programs=("floor+bar", "floor")))
    print()


def build_package(identity):
    """A ~20 MB package of the built-in table's name and version, signed like setup.exe."""
    folder = os.path.join(WORK, "package")
    os.makedirs(folder, exist_ok=True)
    payload, msi = os.path.join(folder, "payload.bin"), os.path.join(folder, PACKAGE)
    source = os.path.join(top, "tests", "packages", "quorvel.wxs")
    if not os.path.exists(msi):
        with open(payload, "wb") as f:  # incompressible, so the package stays ~20 MB
            f.write(random.Random(8).randbytes(PAYLOAD_BYTES))
        subprocess.run(["wixl", "-a", PLATFORM, "-D", f"Arch={PLATFORM}", "-D", "Lang=En", "-D", "LangId=1033",
                        "-D", "Version=3.5.1", "-D", f"ProductCode={PRODUCT_CODE}",
                        # wixl takes file sources relative to the .wxs
                        "-D", f"Payload={os.path.relpath(payload, os.path.dirname(source))}", "-o", msi, source],
                       check=True)
    return signed_copy(msi, identity, os.path.join(folder, "signed"))


def install_run(program, args, rules, served):
    """One download and install in a fresh prefix: the launcher's events, the floor's report."""
    with Prefix(OWN_ARCH) as prefix:
        report = prefix.windows_path(os.path.join(prefix.drive_c, "bench", "report.json"))
        os.makedirs(prefix.unix_path("C:\\bench"), exist_ok=True)
        name = os.path.basename(program)
        run = run_setup(prefix, [a.replace("REPORT", report) for a in args], setup=program, name=name,
                        rules=rules, timeout=600, server={PACKAGE: {"file": served}})
        if ended(run)["code"] != 0 or [r["name"] for r in run.requests] != [PACKAGE] \
                or not os.path.exists(os.path.join(prefix.drive_c, INSTALLED)):
            raise SystemExit(f"{name} did not download and install {PACKAGE}: {run.events} {run.requests}")
        floor_report = None
        if os.path.exists(prefix.unix_path(report)):
            with open(prefix.unix_path(report)) as f:
                floor_report = json.load(f)
        return run, floor_report


def setup_phases(run):
    """(to the download, download and signature check, install and exit) of a setup.exe run,
    in ms. The language dialog's answer ends the first, the progress dialog hidden for the
    installer the second; the time the language dialog waited for its answer is the user's."""
    shown = {e["title"]: e["ms"] for e in events(run, "window")}
    gone = {e["title"]: e["ms"] for e in events(run, "gone")}
    chosen, hidden = gone[CHOOSE_ENGLISH[0]], gone[APP_TITLE]
    waited = chosen - shown[CHOOSE_ENGLISH[0]]
    return chosen - waited, hidden - chosen, ended(run)["ms"] - hidden


def floor_phases(run, report):
    """The same phases of a floor run, from the floor's own clock readings."""
    start = events(run, "started")[0]["clock_ms"]
    return (report["download_at"] - start, report["install_at"] - report["download_at"],
            ended(run)["ms"] - (report["install_at"] - start))


def measure_install(runs, setup, floor, floor_trust, package):
    """Interleaved, in rotating order: setup.exe, the floor that checks the download's
    signature ("floor", what setup.exe is held to) and the floor that does not."""
    product = json.load(open(os.path.join(top, "product", "quorvel.json")))["products"][0]
    url = product["downloadBase"] + PACKAGE
    labels = ("download and install", "  start-up to the download", "  download (+ signature)", "  install and exit")
    times = [Series(label, "ms") for label in labels]
    memory = Series("peak memory", "KB")
    floor_args = [url, str(product["uiLevel"]), "REPORT"]
    programs = [("setup.exe", lambda: install_run(setup, [], [CHOOSE_ENGLISH], package)),
                ("floor", lambda: install_run(floor_trust, floor_args, [], package)),
                ("unchecked", lambda: install_run(floor, floor_args, [], package))]
    reports = []
    for i in range(runs):
        for name, measure in programs[i % 3:] + programs[:i % 3]:
            run, report = measure()
            phases = setup_phases(run) if name == "setup.exe" else floor_phases(run, report)
            for series, value in zip(times, (sum(phases), *phases)):
                series.add(name, value)
            memory.add(name, ended(run)["peak_working_set"] / 1024)
            if report:
                reports.append(report)
    size = os.path.getsize(package) / 1024 / 1024
    print(f"download and install of a {size:.1f} MB signed package from the local HTTPS host, a fresh prefix each "
          "(CreateProcess to exit, less the time the language dialog waited for its answer); floor: with one "
          "silent WinVerifyTrust of the download, unchecked: without it")
    print(times[0].line(*ratio(1.05)))
    for series in times[1:]:
        print(series.line(*ratio()))
    print(memory.line(*difference(2)))
    for series in times[:1] + times[2:3]:
        print(series.line(*ratio(), programs=("floor", "unchecked")))
    calls = statistics.median(r["calls"] for r in reports)
    callback = statistics.median(r["callback_ms"] for r in reports)
    print(f"  progress notifications (OnProgress) per download: {calls:.0f}, {callback:.3f} ms in the floor's callback")
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--release", required=True, help="the x86 release setup.exe, whose size is reported")
    parser.add_argument("--startup-runs", type=int, default=11)
    parser.add_argument("--install-runs", type=int, default=3)
    options = parser.parse_args()
    identity = Identity("bench")
    signed = os.path.join(WORK, "signed")
    report_size(options.release, signed_copy(options.release, identity, os.path.join(signed, "release")))
    print(f"times and memory of the {PLATFORM} build in {build} and its floors, run natively by Wine's "
          f"{'32' if OWN_ARCH == 'win32' else '64'}-bit loader\n")
    setup = signed_copy(os.path.join(build, "setup.exe"), identity, signed)
    measure_startup(options.startup_runs, setup, os.path.join(BENCH, "floor_window.exe"),
                    os.path.join(BENCH, "floor_progress_bar.exe"))
    if options.install_runs:
        measure_install(options.install_runs, setup, os.path.join(BENCH, "floor_install.exe"),
                        os.path.join(BENCH, "floor_install_trust.exe"), build_package(identity))


if __name__ == "__main__":
    main()
