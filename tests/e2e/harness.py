"""What every end-to-end scenario needs: a throwaway Wine prefix copied from a template, the
release setup.exe placed in a folder of its own, and the UI robot's record of a run."""
import contextlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SETUP_EXE = os.environ.get("SETUP_EXE", "")
ROBOT_EXE = os.environ.get("ROBOT_EXE", "")
PREFIXES = os.environ.get("WINE_PREFIXES", "")
WORK = os.environ.get("E2E_WORK", tempfile.gettempdir())
FIXTURES = os.path.join(os.environ.get("BUILD_DIR", ""), "fixtures")
# The build under test: its Wine loader, and its own Windows ("win32" for the x86 build, "win64"
# for the x64 one), where a scenario runs unless it asks for another.
WINE = os.environ.get("WINE", "wine")
OWN_ARCH = os.environ.get("WINE_ARCH", "win32")
PLATFORM = {"win32": "x86", "win64": "x64"}[OWN_ARCH]
# How many times slower than a real processor the tests run (10 in the emulated machine of
# tools/test-platform/in-vm.sh): time limits here are a real processor's and grow with it.
SLOWNESS = int(os.environ.get("TEST_TIME_SCALE", "1"))

GLOBAL_MUTEX = "Global\\_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}"
LOCAL_MUTEX = "_MSISETUP_{2956EBA1-9B5A-4679-8618-357136DA66CA}"
APP_TITLE = "Windows Installer Installation Wrapper"
TRUST_E_PROVIDER_UNKNOWN = 0x800B0001
TRUST_E_SUBJECT_NOT_TRUSTED = 0x800B0004


def made_once(folder, make):
    """`folder`, filled by make(path) on first use. Tests side by side may both make it: each
    fills a folder of its own, and the first renamed into place is the one all use."""
    if not os.path.exists(folder):
        os.makedirs(os.path.dirname(folder), exist_ok=True)
        scratch = tempfile.mkdtemp(prefix=".making-", dir=os.path.dirname(folder))
        make(scratch)
        try:
            os.rename(scratch, folder)
        except OSError:
            shutil.rmtree(scratch)
    return folder


def base_env(prefix_dir, lang="en_US.UTF-8"):
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    env.update(WINEPREFIX=prefix_dir, WINEDEBUG="-all", LANG=lang, LC_ALL=lang, LANGUAGE="")
    return env


class Prefix:
    """A Wine prefix for one scenario: hard links to a template's files, its own registry.
    arch is "win32" (x86 Windows) or "win64" (x64 Windows); version is Wine's Windows version
    setting ("win98" or "nt40", which tools/test-platform/prefixes.sh makes templates of) or
    None for the default."""

    def __init__(self, arch=OWN_ARCH, version=None):
        # Beside the templates, on their file system: a copy of hard links needs that.
        scenarios = os.path.join(PREFIXES, "scenarios")
        os.makedirs(scenarios, exist_ok=True)
        self.path = tempfile.mkdtemp(prefix=f"{arch}-", dir=scenarios)
        os.rmdir(self.path)
        template = os.path.join(PREFIXES, f"template-{arch}" + (f"-{version}" if version else ""))
        subprocess.run(["cp", "-al", template, self.path], check=True)
        for name in ("system.reg", "user.reg", "userdef.reg"):
            dest = os.path.join(self.path, name)
            os.unlink(dest)
            shutil.copyfile(os.path.join(template, name), dest)
        self.drive_c = os.path.join(self.path, "drive_c")
        self.start_server()

    def start_server(self):
        """One wineserver for all runs in this prefix; it must not hold any of our pipes open."""
        subprocess.run(["wineserver", "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    def stop_server(self):
        subprocess.run(["wineserver", "-k"], env=self.env(), capture_output=True)
        subprocess.run(["wineserver", "-w"], env=self.env(), capture_output=True)

    def env(self, lang="en_US.UTF-8", extra=None):
        env = base_env(self.path, lang)
        env.update(extra or {})
        return env

    def wine(self, args, lang="en_US.UTF-8", extra_env=None, timeout=120, wrapper=(), on_late=None):
        """Runs a Wine program; its output goes to a file, since Wine's helper processes
        would keep a pipe open long after the program ended. on_late: (seconds, function)
        called once if the program is still running after that many seconds."""
        with tempfile.TemporaryFile() as out:
            child = subprocess.Popen([*wrapper, WINE, *args], env=self.env(lang, extra_env),
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=out)
            try:
                late, call = on_late or (timeout, None)
                try:
                    child.wait(late)
                except subprocess.TimeoutExpired:
                    if call:
                        call()
                    child.wait(timeout - late)
            except subprocess.TimeoutExpired:
                child.kill()
                child.wait()
                raise
            out.seek(0)
            done = subprocess.CompletedProcess(child.args, child.returncode)
            done.output = out.read().decode("utf-8", "replace")
        return done

    def processes(self, name):
        """Process ids of the running (not ended) processes of this prefix named `name`."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    command = f.read().split(b"\0")[0].decode("utf-8", "replace")
                with open(f"/proc/{pid}/environ", "rb") as f:
                    ours = f"WINEPREFIX={self.path}".encode() in f.read().split(b"\0")
                with open(f"/proc/{pid}/stat") as f:
                    ended = f.read().rsplit(")", 1)[1].split()[0] in "ZX"  # a zombie waits for its parent
            except OSError:
                continue
            if ours and not ended and command.replace("\\", "/").lower().endswith(name.lower()):
                found.append(pid)
        return found

    def backtraces(self, name):
        """Every thread's stack in each running process of this prefix named `name`, taken
        with gdb (Wine's own debugger cannot attach to processes here: error 5)."""
        texts = []
        for pid in self.processes(name):
            traced = subprocess.run(["gdb", "-p", pid, "-batch", "-ex", "thread apply all bt"],
                                    stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
            texts.append(f"{name} (pid {pid}):\n{traced.stdout}{traced.stderr}")
        return "\n".join(texts) or f"no running {name} found"

    def place(self, source, folder, name=None):
        """Copies a file to C:\\<folder> (a real copy: the template's files stay untouched)
        and returns its Windows path."""
        dest_dir = os.path.join(self.drive_c, *folder.split("\\"))
        os.makedirs(dest_dir, exist_ok=True)
        dest = os.path.join(dest_dir, name or os.path.basename(source))
        if os.path.lexists(dest):
            os.unlink(dest)
        shutil.copyfile(source, dest)
        return self.windows_path(dest)

    def windows_path(self, unix_path):
        rel = os.path.relpath(unix_path, self.drive_c)
        return "C:\\" + rel.replace("/", "\\")

    def unix_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def close(self):
        self.stop_server()
        shutil.rmtree(self.path, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Run:
    """The robot's record: every window snapshot, the actions taken and the exit code; with a
    download host, the requests it saw."""

    def __init__(self, events, requests=(), output="", backtraces=""):
        self.events = events
        self.requests = list(requests)
        self.output = output  # what Wine printed (its traces, when WINEDEBUG asks for them)
        self.snapshots = [e for e in events if e["event"] == "window"]
        ends = [e for e in events if e["event"] in ("exit", "timeout", "start-failed")]
        self.timed_out = any(e["event"] == "timeout" for e in ends)
        self.exit_code = next((e["code"] for e in ends if e["event"] == "exit"), None)
        self.backtraces = backtraces if self.timed_out else ""  # every thread of the program the robot ended

    def windows(self, title=None, text=None):
        """Snapshots whose title equals `title` and/or one of whose controls shows `text`."""
        found = []
        for s in self.snapshots:
            if title is not None and s["title"] != title:
                continue
            if text is not None and not any(text in c["text"] for c in s["controls"]):
                continue
            found.append(s)
        return found

    def controls(self, control_id, title=None):
        """Every text that control `control_id` showed, in order, without repeats."""
        texts = []
        for s in self.windows(title):
            for c in s["controls"]:
                if c["id"] == control_id and (not texts or texts[-1] != c["text"]):
                    texts.append(c["text"])
        return texts

    def seconds_after(self, action):
        """Seconds from the robot's first `action` (say "press:2") to the program's end."""
        acted = next(e["ms"] for e in self.events if e.get("action") == action)
        ended = next(e["ms"] for e in self.events if e["event"] == "exit")
        return (ended - acted) / 1000

    def message_boxes(self):
        """Texts of the message boxes shown, in order (one entry per box). A message box is a
        dialog with a text and push buttons that never showed the program's own controls."""
        own = {s["hwnd"] for s in self.snapshots
               if any(c["id"] in (101, 103, 104, 105, 1000) for c in s["controls"])}
        texts, seen = [], set()
        for s in self.snapshots:
            if s["class"] != "#32770" or s["hwnd"] in own or s["hwnd"] in seen:
                continue
            statics = [c["text"] for c in s["controls"] if c["class"].lower() == "static" and c["text"]]
            buttons = [c["id"] for c in s["controls"] if c["class"].lower() == "button"]
            if statics and buttons and set(buttons) <= {1, 2, 3, 4, 5, 6, 7}:
                seen.add(s["hwnd"])
                texts.append(statics[-1])
        return texts


def run_setup(prefix, args=(), folder="Downloads", setup=None, rules=(), timeout=60,
              lang="en_US.UTF-8", hold_mutex=None, extra_env=None, name="setup.exe", server=None):
    """Runs setup.exe from C:\\<folder> through the robot and returns its Run.
    rules: (text, "action,action") pairs; args: strings handed over unchanged (the robot
    passes each as raw text, so quoting is the caller's). server: routes of the test download
    host (see server.py); the run then happens in private namespaces where the built-in host
    names reach it."""
    timeout *= SLOWNESS
    exe = prefix.place(setup or SETUP_EXE, folder, name)
    robot = prefix.place(ROBOT_EXE, "robot")
    log = "C:\\robot\\log.jsonl"
    command = [robot, "--log", log, "--timeout", str(timeout)]
    if hold_mutex:
        command += ["--hold-mutex", hold_mutex]
    for text, actions in rules:
        command += ["--on", text, actions]
    command += ["--", exe] + ["RAW:" + a for a in args]
    # Shortly before the robot gives up on the program, every thread's stack is kept.
    backtraces = []
    late = (max(1, timeout - 5), lambda: backtraces.append(prefix.backtraces(name)))
    # A prefix serves run after run: no earlier run's record may pass for this one's.
    if os.path.exists(prefix.unix_path(log)):
        os.unlink(prefix.unix_path(log))
    with test_host(prefix, server) as (wrapper, server_log):
        done = prefix.wine(command, lang=lang, extra_env=extra_env, timeout=timeout + 60, wrapper=wrapper,
                           on_late=late)
    with open(prefix.unix_path(log), encoding="utf-8") as f:
        events = [json.loads(line) for line in f if line.strip()]
    if done.returncode not in (0, 3):
        raise AssertionError(f"robot failed ({done.returncode}): {done.output[-2000:]!r}, its log ends {events[-3:]}")
    return Run(events, requests_seen(server_log), done.output, "".join(backtraces))


@contextlib.contextmanager
def test_host(prefix, server):
    """With server (the routes of the test download host, see server.py): the wrapper that runs
    a Wine program of `prefix` in private namespaces where the built-in host names reach that
    host, and the file it logs its requests to. Without: no wrapper, no log."""
    if server is None:
        yield [], None
        return
    from tls import server_credentials
    folder = tempfile.mkdtemp(prefix="server-", dir=WORK)
    routes, server_log = os.path.join(folder, "routes.json"), os.path.join(folder, "requests.jsonl")
    with open(routes, "w") as f:
        json.dump(server, f)
    here = os.path.dirname(os.path.abspath(__file__))
    wrapper = ["unshare", "-m", "-n", sys.executable, os.path.join(here, "netns.py"), routes, server_log,
               *server_credentials(), "--"]
    # Wine makes its sockets in the wineserver: this run needs one inside the namespace.
    prefix.stop_server()
    try:
        yield wrapper, server_log
    finally:
        prefix.stop_server()
        prefix.start_server()


def requests_seen(server_log):
    if not server_log or not os.path.exists(server_log):
        return []
    with open(server_log) as f:
        return [json.loads(line) for line in f if line.strip()]


def platform_answers(prefix, verb, args, server=None):
    """What the platform itself answers, setup.exe aside (tests/fixtures/platform_probe.cpp):
    for "trust", its trust check's code for each file; for "download", (code, bytes of the
    file handed back or -1) for each address, fetched from the test host serving `server`, or
    None where the call had not returned within 15 s; for "install", (its installer's code,
    whether msimsg.dll has a text for it) for each file."""
    probe = prefix.place(os.path.join(FIXTURES, "platform_probe.exe"), "probe")
    limit = [str(15 * SLOWNESS)] if verb == "download" else []
    with test_host(prefix, server) as (wrapper, _):
        done = prefix.wine([probe, verb, *limit, *args], wrapper=wrapper, timeout=(60 + 15 * len(args)) * SLOWNESS)
    lines = [line.split()[2:] for line in done.output.splitlines() if line.startswith(f"probe {verb} ")]
    if done.returncode != 0 or len(lines) != len(args):
        raise AssertionError(f"platform probe failed ({done.returncode}): {done.output[-2000:]!r}")
    answers = [None if fields == ["pending"] else tuple(int(field, 0) for field in fields) for fields in lines]
    return [answer[0] if verb == "trust" else answer for answer in answers]


class PrefixCase(unittest.TestCase):
    """A test case with one throwaway prefix per test."""

    arch = OWN_ARCH
    version = None

    def setUp(self):
        self.prefix = Prefix(self.arch, self.version)
        self.addCleanup(self.prefix.close)
