"""One soak worker, inside the private namespaces of tests/e2e/netns.py, whose test host it
shares for all its runs: runs each planned run of setup.exe through the robot and writes down
what happened, for the soak to judge. A prefix serves run after run (its URL cache cleared)
until a run leaves anything in it: an installed product, a process, a run that had to be ended.

    python3 worker.py PLAN.json ROUTES.json SERVER_LOG RESULTS.jsonl"""
import json
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
from harness import Prefix, run_setup  # noqa: E402

INSTALLED = os.path.join("Program Files", "Quorvel", "quorvel-En.txt")
URL_CACHE = os.path.join("users", "root", "AppData", "Local", "Microsoft", "Windows", "INetCache")
PROGRAMS = ("setup.exe", "robot.exe", "msiexec.exe")


def serve(routes_path, routes):
    """The test host reads its routes again when the file changes: replaced whole, never half."""
    with open(routes_path + ".new", "w") as f:
        json.dump(routes, f)
    os.replace(routes_path + ".new", routes_path)


def left_behind(prefix):
    """The programs of the run still running a moment after it ended (a process that has
    ended takes a little while to leave)."""
    deadline = time.monotonic() + 2
    while True:
        found = [name for name in PROGRAMS for _ in prefix.processes(name)]
        if not found or time.monotonic() > deadline:
            return found
        time.sleep(0.1)


def main():
    plan_path, routes_path, server_log, results_path = sys.argv[1:5]
    with open(plan_path) as f:
        plan = json.load(f)
    prefix = None
    with open(results_path, "a") as results:
        for run in plan:
            if prefix is None:
                prefix = Prefix(run["arch"])
            shutil.rmtree(os.path.join(prefix.drive_c, URL_CACHE), ignore_errors=True)
            serve(routes_path, run["routes"])
            logged = os.path.getsize(server_log)
            started = time.monotonic()
            facts = {"id": run["id"]}
            try:
                record = run_setup(prefix, setup=run["setup"], rules=run["rules"], timeout=run["timeout"])
                facts.update(events=record.events, backtraces=record.backtraces, output=record.output[-4000:])
            except Exception as error:  # the robot itself failed: the run is judged on that
                facts.update(events=[], backtraces="", output="", error=f"{type(error).__name__}: {error}")
            facts["seconds"] = time.monotonic() - started
            facts["leftovers"] = left_behind(prefix)
            facts["installed"] = os.path.exists(os.path.join(prefix.drive_c, INSTALLED))
            with open(server_log) as f:
                f.seek(logged)
                facts["requests"] = [json.loads(line) for line in f if line.strip()]
            results.write(json.dumps(facts) + "\n")
            results.flush()
            if facts["installed"] or facts["leftovers"] or "error" in facts or any(
                    e["event"] == "timeout" for e in facts["events"]):
                prefix.close()
                prefix = None
    if prefix:
        prefix.close()


if __name__ == "__main__":
    main()
