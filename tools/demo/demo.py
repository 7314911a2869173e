"""The demo: Quorvel installed by the release setup.exe under Wine, the way a user meets it.
The packages are signed with a demo certificate and so is setup.exe; a local HTTPS server in
private namespaces stands in for the download host. Prints every window the user sees and
where the product landed, and saves screenshots."""
import glob
import os
import shutil
import subprocess
import sys

top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
build = os.environ["BUILD_DIR"]
os.environ.setdefault("SETUP_EXE", os.path.join(build, "setup.exe"))
os.environ.setdefault("ROBOT_EXE", os.path.join(build, "tests", "e2e", "robot.exe"))
os.environ.setdefault("WINE_PREFIXES", os.path.join(build, "prefixes"))
os.environ.setdefault("E2E_WORK", os.path.join(build, "demo-work"))
sys.path.insert(0, os.path.join(top, "tests", "e2e"))

from harness import Prefix, run_setup  # noqa: E402
from signing import Identity, signed_copy  # noqa: E402

SHOTS = os.path.join(build, "demo-screenshots")
PAUSE = "wait:1500" if os.environ.get("DEMO_VISIBLE") else "wait:100"


def describe(run):
    """One line per state the user sees; a moving progress bar is summed up in one line."""
    lines, bars = [], {}
    for s in run.snapshots:
        texts = [c["text"].replace("\n", " / ") for c in s["controls"]
                 if c["text"] and not c["text"].startswith("\uffff")]
        items = [f"[{', '.join(c['items'])}]" for c in s["controls"] if c.get("items")]
        line = f"  window '{s['title']}': " + " | ".join(texts + items)
        for c in s["controls"]:
            if c.get("max"):
                bars.setdefault(line, []).append(f"{c['pos']}/{c['max']}")
        if not lines or lines[-1] != line:
            lines.append(line)
    for line in lines:
        progress = bars.get(line)
        print(line + (f" | progress bar {progress[0]} .. {progress[-1]} ({len(progress)} steps seen)"
                      if progress else ""))
    for r in run.requests:
        print(f"  download host served {r['name']} to https://{r['host']}{r['path']}")


def collect_shots(prefix, names):
    os.makedirs(SHOTS, exist_ok=True)
    for name in names:
        bmp = os.path.join(prefix.drive_c, "robot", name + ".bmp")
        if os.path.exists(bmp):
            subprocess.run(["convert", bmp, os.path.join(SHOTS, name + ".png")], check=False)


def main():
    who = Identity("demo")
    signed = os.path.join(build, "demo-work", "signed")
    setup = signed_copy(os.environ["SETUP_EXE"], who, signed)
    package = signed_copy(os.path.join(build, "packages", "Quorvel.x64.En.msi"), who, signed)
    shutil.rmtree(SHOTS, ignore_errors=True)
    for old in glob.glob(os.path.join(os.environ["E2E_WORK"], "win64-*")):  # the last demo's prefix
        shutil.rmtree(old, ignore_errors=True)
    prefix = Prefix("win64")  # kept afterwards, so that a person can look at what landed
    try:
        print("1. setup.exe /?  (a user asks for help)")
        run = run_setup(prefix, ["/?"], setup=setup, rules=[("Usage:", f"shot:usage,{PAUSE},press:1")])
        describe(run)
        print(f"  exit code {run.exit_code}\n")

        print("2. setup.exe  (the installation, on 64-bit Windows, English chosen)")
        rules = [("Choose setup language", f"shot:language,{PAUSE},select:English,press:1"),
                 ("Downloading package", "shot:progress")]
        run = run_setup(prefix, setup=setup, rules=rules, timeout=120,
                        server={"Quorvel.x64.En.msi": {"file": package, "behaviour": "slow", "steps": 40,
                                                       "delay": 0.05}})
        describe(run)
        print(f"  exit code {run.exit_code}")
        landed = os.path.join(prefix.drive_c, "Program Files", "Quorvel", "quorvel-En.txt")
        if os.path.exists(landed):
            print(f"  Quorvel landed in C:\\Program Files\\Quorvel\\ (Wine prefix folder {os.path.dirname(landed)})")
        else:
            print("  Quorvel was NOT installed")
            sys.exit(1)
        collect_shots(prefix, ["usage", "language", "progress"])
    finally:
        prefix.stop_server()
    print(f"\nScreenshots: {SHOTS}\nWine prefix of the demo (64-bit Windows): {prefix.path}")


if __name__ == "__main__":
    main()
