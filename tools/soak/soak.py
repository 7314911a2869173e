"""The soak: setup.exe's whole install sequence run many times over, with Cancel pressed at a
random moment, and against each hostile host of the scenarios many times, every run judged:
it ends within a user's measure of the last act, with the exit code and the one message
that belong to what happened, with nothing installed that should not be and no process
left behind. Runs side by side in workers of their own (tools/soak/worker.py), each in
private namespaces with its own test host; every run is drawn from the seed, so one command
line replays any of them. BUILD_DIR, WINE and WINE_ARCH name the build and its loader.

    python3 tools/soak/soak.py [--cancels N] [--hosts N] [--seed S] [--jobs N] [--out DIR]
                               [--replay KIND:INDEX]"""
import argparse
import json
import math
import os
import random
import re
import statistics
import subprocess
import sys
import time

top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
build = os.environ["BUILD_DIR"]
E2E = os.path.join(top, "tests", "e2e")
os.environ["ROBOT_EXE"] = os.path.join(build, "tests", "e2e", "robot.exe")
os.environ.setdefault("WINE_PREFIXES", os.path.join(build, "prefixes"))
os.environ.setdefault("E2E_WORK", os.path.join(build, "e2e"))
os.environ.setdefault("SETUP_EXE", os.path.join(build, "setup.exe"))
sys.path.insert(0, E2E)

from harness import WORK, Prefix, Run, platform_answers  # noqa: E402
from signing import Identity, signed_copy  # noqa: E402
from test_install import NOT_TRUSTED, refused_download_boxes  # noqa: E402
from tls import certificate_for_another_host, server_credentials  # noqa: E402

PACKAGE_NAME = "Quorvel.x64.En.msi"  # a win64 prefix: the x64 system, for either build
PACKAGE = os.path.join(build, "packages", PACKAGE_NAME)
CHOOSE_ENGLISH = ["Choose setup language", "select:English,press:1"]
CLOSE_BOXES = ["OK", "wait:200,press:1"]
CANCELLED = "Setup was cancelled."
ACTS = ("press:2", "key:escape", "close")  # the Cancel button, the Escape key, the window's close
PROMPT_SECONDS = 3  # a user's measure: Cancel honoured within this many seconds of the act
RUN_SECONDS = 60  # longer than any of the program's own waits: a run still going is hung
# The package arrives in 40 pieces over two seconds, as a slow network brings it.
THROTTLED = {"behaviour": "slow", "steps": 40, "delay": 0.05}
# Hosts that end the transfer by themselves, each with a message; and those that never end
# it, which only the user's Cancel ends.
REFUSING = ("reset", "truncate", "oversize", "redirect-away", "404", "other-host", "unsigned", "foreign-signed")
ENDLESS = ("silent", "headers-only", "endless", "redirect-loop")


def host_route(kind, files):
    """The test host's routes for a hostile kind of run."""
    route = {"file": files["package"]}
    if kind == "404":
        route = {"status": 404}
    elif kind in ("unsigned", "other-host"):
        route = {"file": PACKAGE}
    elif kind == "foreign-signed":
        route = {"file": files["foreign"]}
    elif kind in ENDLESS:
        # An endless body at a network's pace, not the loopback's.
        route.update(behaviour=kind, seconds=600, delay=0.01)
    elif kind in REFUSING:
        route["behaviour"] = kind
    routes = {PACKAGE_NAME: route}
    if kind == "other-host":
        routes["*"] = certificate_for_another_host()
    return routes


def expectations(files):
    """What ends each refusing kind, from the platform's own answers (its download call, its
    trust check): a pattern of the one box, or "installed"."""
    with Prefix("win64") as prefix:
        transfers = ("reset", "truncate", "oversize", "redirect-away", "404")
        routes = {k: host_route(k, files)[PACKAGE_NAME] for k in transfers}
        ends = refused_download_boxes(prefix, routes)
        other = host_route("other-host", files)
        ends.update(refused_download_boxes(prefix, {"other-host": other[PACKAGE_NAME]}, host=other["*"]))
        foreign = prefix.place(files["foreign"], "probe")
        [answer] = platform_answers(prefix, "trust", [foreign])
    ends["unsigned"] = NOT_TRUSTED
    # Another signer's package goes to the platform's full prompt, which decides.
    ends["foreign-signed"] = "installed" if answer == 0 else NOT_TRUSTED
    # Where the platform gives up on a redirect loop by itself, the package is not found.
    ends["redirect-loop"] = ends["redirect-away"]
    return ends


def plan_run(seed, kind, index, files, ends):
    """Everything about one run, drawn from the seed, its kind and its index alone."""
    rng = random.Random(f"{seed}/{kind}/{index}")
    act = rng.choice(ACTS)
    run = {"id": f"{kind}:{index}", "kind": kind, "seed": seed, "arch": "win64", "setup": files["setup"],
           "timeout": RUN_SECONDS, "act": act}
    if kind == "cancel":
        # From the language's answer to well after the install: some acts come while the
        # package arrives, some during its check, some on a hidden window or after the end.
        run["moment"] = rng.randrange(0, 4000)
        run["routes"] = {PACKAGE_NAME: dict(THROTTLED, file=files["package"])}
        run["rules"] = [CHOOSE_ENGLISH, ["Please wait while", f"wait:{run['moment']},{act}"], CLOSE_BOXES]
        run["otherwise"] = "installed"
    elif kind in ENDLESS or ends[kind] is None:  # the platform's download never returns by itself
        run["moment"] = rng.randrange(500, 3000)
        run["routes"] = host_route(kind, files)
        run["rules"] = [CHOOSE_ENGLISH, ["Downloading package", f"wait:{run['moment']},{act}"], CLOSE_BOXES]
        run["otherwise"] = ends.get(kind)  # none: only the user's Cancel ends these
    else:
        run["routes"] = host_route(kind, files)
        run["rules"] = [CHOOSE_ENGLISH, CLOSE_BOXES]
        run["otherwise"] = ends[kind]
    return run


def arrived(window):
    """How much of the package the progress window `window` (a robot's record) shows arrived,
    while it shows the transfer going on; else None."""
    if window is None or not window["visible"]:
        return None
    status = next((c["text"] for c in window["controls"] if c["id"] == 105), "")
    bar = next((c for c in window["controls"] if c["id"] == 104), None)
    if status != "" and not status.startswith("Downloading package"):
        return None
    if bar is None or bar["max"] == 0:
        return 0
    return bar["pos"] if bar["pos"] < bar["max"] else None


def judge(run, facts):
    """(verdict, why, seconds from the act to the end or None): the verdict is "pass", "hang",
    "crash" or "wrong"."""
    events = facts["events"]
    record = Run(events)
    if record.timed_out:
        return "hang", f"still running after {RUN_SECONDS} s", None
    if facts.get("error"):
        return "wrong", facts["error"], None
    if record.exit_code is None:
        return "crash", "no exit recorded", None
    if record.exit_code >= 0xC0000000:
        return "crash", f"ended by exception {record.exit_code:#x}", None
    if record.exit_code != 0:
        return "wrong", f"exit code {record.exit_code}, not 0", None
    if facts["leftovers"]:
        return "wrong", "left running: " + ", ".join(facts["leftovers"]), None
    boxes = record.message_boxes()
    installed = facts["installed"]
    if run["otherwise"] is None:
        ended_otherwise = False
    elif run["otherwise"] == "installed":
        ended_otherwise = installed and boxes == []
    else:
        ended_otherwise = not installed and len(boxes) == 1 and re.match(run["otherwise"], boxes[0]) is not None
    cancelled = not installed and boxes == [CANCELLED]
    acted = next((i for i, e in enumerate(events) if e.get("action") == run["act"]), None)
    if acted is None or "moment" not in run:
        if ended_otherwise:
            return "pass", "", None
        return "wrong", f"boxes {boxes}, installed {installed}: expected {run['otherwise']}", None
    # The dialog as it was when the act came (the robot describes it just before acting).
    seen = events[acted - 1] if acted and events[acted - 1]["event"] == "window" else None
    status = next((c["text"] for c in seen["controls"] if c["id"] == 105), "") if seen else ""
    # The act reaches the program a moment after that description: it came while the package
    # arrived only where the robot saw the transfer go on after it. One that lands as the last
    # piece comes in may find the program already past its look at the flag.
    at = arrived(seen)
    later = [arrived(e) for e in events[acted + 1:] if at is not None and e.get("hwnd") == seen["hwnd"]]
    arriving = any(p is not None and p > at for p in later)
    after = record.seconds_after(run["act"])
    if arriving and not cancelled:
        return "wrong", f"the act came while the package arrived ({status!r}), yet boxes {boxes}, installed {installed}", None
    if cancelled:
        if after > PROMPT_SECONDS:
            return "wrong", f"cancelled {after:.1f} s after the act", after
        return "pass", "", after
    if seen is not None and seen["visible"] and not arriving:
        # During the check the act may come before or after its last look at the flag.
        return ("pass", "", None) if ended_otherwise else ("wrong", f"boxes {boxes}, installed {installed}", None)
    if ended_otherwise:
        return "pass", "", None
    return "wrong", f"boxes {boxes}, installed {installed}: expected {run['otherwise']}", None


def hang_bound(hangs, runs, confidence=0.95):
    """The upper bound on the hang rate that `hangs` in `runs` supports (Clopper-Pearson)."""
    if runs == 0:
        return 1.0
    if hangs >= runs:
        return 1.0

    def at_most(p):  # P(X <= hangs) for X ~ Binomial(runs, p)
        return sum(math.comb(runs, k) * p ** k * (1 - p) ** (runs - k) for k in range(hangs + 1))

    low, high = 0.0, 1.0
    for _ in range(60):
        middle = (low + high) / 2
        low, high = (middle, high) if at_most(middle) > 1 - confidence else (low, middle)
    return high


def start_worker(number, runs, out):
    folder = os.path.join(out, f"worker-{number}")
    os.makedirs(folder, exist_ok=True)
    plan, routes, log, results = (os.path.join(folder, n) for n in
                                  ("plan.json", "routes.json", "requests.jsonl", "results.jsonl"))
    with open(plan, "w") as f:
        json.dump(runs, f)
    with open(routes, "w") as f:
        json.dump({}, f)
    open(results, "w").close()
    command = ["unshare", "-m", "-n", sys.executable, os.path.join(E2E, "netns.py"), routes, log,
               *server_credentials(), "--", sys.executable, os.path.join(os.path.dirname(__file__), "worker.py"),
               plan, routes, log, results]
    with open(os.path.join(folder, "worker.log"), "w") as err:
        return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=err, stderr=err), results


def keep(out, run, facts, verdict, why, replay):
    """A failed run's record, under the output folder."""
    folder = os.path.join(out, "failed", run["id"].replace(":", "-"))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "run.json"), "w") as f:
        json.dump(dict(run, verdict=verdict, why=why, replay=replay, seconds=facts.get("seconds")), f, indent=1)
    with open(os.path.join(folder, "robot.jsonl"), "w") as f:
        f.writelines(json.dumps(e) + "\n" for e in facts["events"])
    with open(os.path.join(folder, "host.jsonl"), "w") as f:
        f.writelines(json.dumps(r) + "\n" for r in facts["requests"])
    with open(os.path.join(folder, "wine.txt"), "w") as f:
        f.write(facts["output"] + "\n" + facts["backtraces"])
    return folder


def report(kinds, rows, seed, minutes):
    lines = [f"soak, seed {seed}: {sum(len(r) for r in rows.values())} runs in {minutes:.1f} min",
             f"{'kind':<16}{'runs':>6}{'pass':>6}{'hang':>6}{'crash':>6}{'wrong':>6}"
             f"{'cancel median':>15}{'worst':>8}{'hang rate <=':>14}"]
    total = {"runs": 0, "hang": 0}
    for kind in kinds:
        results = rows.get(kind, [])
        count = {v: sum(1 for r in results if r[0] == v) for v in ("pass", "hang", "crash", "wrong")}
        cancels = sorted(r[1] for r in results if r[1] is not None)
        median = f"{statistics.median(cancels):.2f} s" if cancels else "-"
        worst = f"{cancels[-1]:.2f} s" if cancels else "-"
        lines.append(f"{kind:<16}{len(results):>6}{count['pass']:>6}{count['hang']:>6}{count['crash']:>6}"
                     f"{count['wrong']:>6}{median:>15}{worst:>8}{hang_bound(count['hang'], len(results)):>13.2%}")
        total["runs"] += len(results)
        total["hang"] += count["hang"]
    lines.append(f"all runs: hang rate <= {hang_bound(total['hang'], total['runs']):.3%} (95% upper bound)")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cancels", type=int, default=1000, help="runs with Cancel at a random moment")
    parser.add_argument("--hosts", type=int, default=100, help="runs of each hostile host")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=3, help="workers side by side (on 2 cores: the runs mostly wait)")
    parser.add_argument("--out", default=os.path.join(build, "soak"))
    parser.add_argument("--replay", help="one run alone, as the report names it (KIND:INDEX)")
    args = parser.parse_args()
    started = time.monotonic()
    out = os.path.abspath(args.out)
    maker = Identity("maker")
    files = {"setup": signed_copy(os.environ["SETUP_EXE"], maker, os.path.join(WORK, "signed", "maker")),
             "package": signed_copy(PACKAGE, maker, os.path.join(WORK, "signed", "maker")),
             "foreign": signed_copy(PACKAGE, Identity("other"), os.path.join(WORK, "signed", "other"))}
    ends = expectations(files)
    kinds = ["cancel", *REFUSING, *ENDLESS]
    if args.replay:
        kind, _, index = args.replay.partition(":")
        if kind not in kinds or not index.isdigit():
            sys.exit(f"soak: no run {args.replay}; kinds: {', '.join(kinds)}")
        runs = [plan_run(args.seed, kind, int(index), files, ends)]
    else:
        runs = [plan_run(args.seed, "cancel", i, files, ends) for i in range(args.cancels)]
        runs += [plan_run(args.seed, kind, i, files, ends) for kind in kinds[1:] for i in range(args.hosts)]
    random.Random(args.seed).shuffle(runs)  # each worker meets every kind, spread over its time
    by_id = {r["id"]: r for r in runs}
    jobs = max(1, min(args.jobs, len(runs)))
    workers = [start_worker(n, runs[n::jobs], out) for n in range(jobs)]
    rows, judged, failed, last_note = {}, set(), [], time.monotonic()
    own_command = "tools/soak.sh"
    while True:
        running = any(w.poll() is None for w, _ in workers)
        for _, results in workers:
            with open(results) as f:
                lines = f.readlines()
            for line in lines:
                if not line.endswith("\n"):
                    continue
                facts = json.loads(line)
                if facts["id"] in judged:
                    continue
                judged.add(facts["id"])
                run = by_id[facts["id"]]
                verdict, why, after = judge(run, facts)
                rows.setdefault(run["kind"], []).append((verdict, after))
                if verdict != "pass":
                    replay = f"{own_command} --seed {args.seed} --replay {run['id']}"
                    folder = keep(out, run, facts, verdict, why, replay)
                    failed.append(f"  {run['id']}: {verdict}: {why}\n    {folder}\n    replay: {replay}")
                    print(failed[-1], flush=True)
        if not running:
            break
        if time.monotonic() - last_note > 60:
            last_note = time.monotonic()
            print(f"soak: {len(judged)} of {len(runs)} runs after {(last_note - started) / 60:.1f} min", flush=True)
        time.sleep(1)
    missing = [r["id"] for r in runs if r["id"] not in judged]
    for w, _ in workers:
        if w.returncode:
            failed.append(f"  a worker ended with {w.returncode} (see {out}/worker-*/worker.log)")
    print("\n".join(report(kinds, rows, args.seed, (time.monotonic() - started) / 60)))
    if missing:
        failed.append(f"  {len(missing)} runs never reported, the first {missing[0]}")
    if failed:
        print("failed:\n" + "\n".join(failed))
    print(f"soak: {'FAIL' if failed else 'pass'}")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
