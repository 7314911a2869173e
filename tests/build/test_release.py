"""The release set, from a build configured with a product file of three languages (the third's
packages are the English ones under other names), a PEM identity and a local time-stamp
authority: tools/release.sh builds and signs setup.exe, signs the packages into DIST, and that
DIST installs under Wine from the test host; --check-host passes against a host serving DIST
and names each address served wrongly. Then a set with one fault of each kind fails, names
file, product, language and platform of each, and leaves the earlier DIST as it was."""
import json
import os
import shutil
import subprocess
import sys
import time
import unittest

from harness import SETUP_EXE, SLOWNESS, WORK, run_setup
from scratch import SCRATCH, SOURCE, configure
from signing import Identity, sign
from test_install import CHOOSE_ENGLISH, PRODUCT_CODES, InstallCase, package
from test_signing_build import serial, signatures
from timestamp_authority import TimestampAuthority
from tls import server_credentials

RELEASE = os.path.join(SOURCE, "tools", "release.sh")
NETNS = os.path.join(SOURCE, "tests", "e2e", "netns.py")
FOLDER = os.path.join(SCRATCH, "release")
HERE = os.path.join(WORK, "release")
DIST = os.path.join(HERE, "dist")
ADDRESS = "https://prenos.quorvel.example/prenos/?verzija=3.5.1&paket="
ITALIAN = {"langId": "0x0410", "displayName": "Italiano", "packageX86": "Quorvel.Win32.It.msi",
           "packageX64": "Quorvel.x64.It.msi", "patchArm64": "Quorvel.Arm64.It.msp"}
SLOTS = {"Quorvel.Win32.Sl.msi": "Quorvel, 0x0424 Sloven\u0161\u010dina, x86",
         "Quorvel.x64.Sl.msi": "Quorvel, 0x0424 Sloven\u0161\u010dina, x64",
         "Quorvel.Win32.En.msi": "Quorvel, 0x0409 English, x86", "Quorvel.x64.En.msi": "Quorvel, 0x0409 English, x64",
         "Quorvel.Win32.It.msi": "Quorvel, 0x0410 Italiano, x86", "Quorvel.x64.It.msi": "Quorvel, 0x0410 Italiano, x64",
         "Quorvel.Arm64.It.msp": "Quorvel, 0x0410 Italiano, ARM64"}


def release(packages):
    return subprocess.run(["bash", RELEASE, "--build", FOLDER, "--packages", packages, "--out", DIST],
                          capture_output=True, text=True)


def check_host(routes):
    """--check-host in the private namespaces where the built-in host names reach the test
    host, which serves `routes` (see server.py)."""
    path = os.path.join(HERE, "routes.json")
    with open(path, "w") as f:
        json.dump(routes, f)
    return subprocess.run(["unshare", "-m", "-n", sys.executable, NETNS, path, os.path.join(HERE, "requests.jsonl"),
                           *server_credentials(), "--", "bash", RELEASE, "--check-host", DIST, "--timeout", "3"],
                          capture_output=True, text=True)


def as_patch(source, dest):
    """A copy of a package whose root storage has a patch's class: wixl makes no patches."""
    with open(source, "rb") as f:
        data = bytearray(f.read())
    root = (int.from_bytes(data[0x30:0x34], "little") + 1) << int.from_bytes(data[0x1E:0x20], "little")
    data[root + 0x50:root + 0x60] = bytes.fromhex("86100c0000000000c000000000000046")
    with open(dest, "wb") as f:
        f.write(data)
    return dest


def packages_folder(name, files):
    folder = os.path.join(HERE, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for file, source in files.items():
        shutil.copy(source, os.path.join(folder, file))
    return folder


class ReleaseSet(InstallCase):
    arch = "win64"

    def test_good_set_ships_and_installs_then_every_fault_is_named(self):
        shutil.rmtree(HERE, ignore_errors=True)
        os.makedirs(HERE)
        with open(os.path.join(SOURCE, "product", "quorvel.json"), encoding="utf-8") as f:
            tables = json.load(f)
        tables["products"][0]["languages"].append(ITALIAN)
        product = os.path.join(HERE, "product.json")
        with open(product, "w", encoding="utf-8") as f:
            json.dump(tables, f)
        identity = Identity("release-set")
        # The certificates osslsigncode needs to verify the signer and the time stamp.
        trust = os.path.join(HERE, "trust.pem")
        with open(trust, "w") as out, open(identity.cert) as cert, open(server_credentials()[0]) as ca:
            out.write(cert.read() + ca.read())
        good = packages_folder("good", {**{f"Quorvel.{f}.msi": package(f) for f in
                                           ("Win32.Sl", "x64.Sl", "Win32.En", "x64.En")},
                                        "Quorvel.Win32.It.msi": package("Win32.En"),
                                        "Quorvel.x64.It.msi": package("x64.En"),
                                        "Quorvel.Arm64.It.msp": as_patch(package("x64.En"),
                                                                         os.path.join(HERE, "patch.msp"))})

        with TimestampAuthority() as tsa:
            self.assertEqual(0, configure(FOLDER, SETUP_PRODUCT_FILE=product, SETUP_SIGN_CERT=identity.cert,
                                          SETUP_SIGN_KEY=identity.key, SETUP_SIGN_TIMESTAMP_URL=tsa.url).returncode)
            done = release(good)
            self.assertEqual(0, done.returncode, done.stdout + done.stderr)
            for name in ("Quorvel.Win32.It.msi", "Quorvel.x64.It.msi"):
                self.assertIn(f"warning {name} ({SLOTS[name]}): ProductLanguage 1033 is not the slot's 0x0410",
                              done.stdout)
            self.assertEqual(sorted([*SLOTS, "setup.exe", "SHA256SUMS", "release.json"]), sorted(os.listdir(DIST)))
            self.assertEqual(0, subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=DIST).returncode)
            for name in [*SLOTS, "setup.exe"]:
                self.assertEqual([("SHA256", serial(identity.cert), True)],
                                 signatures(os.path.join(DIST, name), trust), name)
            with open(os.path.join(DIST, "release.json"), encoding="utf-8") as f:
                listed = json.load(f)
            entry = next(e for e in listed["files"] if e["file"] == "Quorvel.x64.En.msi")
            self.assertEqual({"kind": "package", "product": "Quorvel", "language": {"id": "0x0409", "name": "English"},
                              "platform": "x64", "address": ADDRESS + "Quorvel.x64.En.msi",
                              "size": os.path.getsize(os.path.join(DIST, "Quorvel.x64.En.msi")),
                              "productVersion": "3.5.1", "productCode": PRODUCT_CODES["x64.En"]},
                             {k: v for k, v in entry.items() if k not in ("file", "sha256")})
            self.assertEqual(["https://msi.quorvel.example/MSI/2.0/InstMSIA.exe",
                              "https://msi.quorvel.example/MSI/2.0/InstMSIW.exe"],
                             [e["address"] for e in listed["redistributables"]])

            run = run_setup(self.prefix, setup=os.path.join(DIST, "setup.exe"), rules=[CHOOSE_ENGLISH],
                            server=self.serve(**{"Quorvel.x64.En.msi": os.path.join(DIST, "Quorvel.x64.En.msi")}))
            self.assert_downloaded_and_installed(run, "x64.En")

            # The host: right, then wrong in every way but two.
            routes = {name: {"file": os.path.join(DIST, name)} for name in SLOTS}
            # Any bytes stand in for Microsoft's redistributable, which DIST does not hold.
            routes.update({e["file"]: {"file": SETUP_EXE} for e in listed["redistributables"]})
            done = check_host(routes)
            self.assertEqual(0, done.returncode, done.stdout + done.stderr)
            altered = os.path.join(HERE, "altered.msi")
            with open(os.path.join(DIST, "Quorvel.x64.Sl.msi"), "rb") as f, open(altered, "wb") as out:
                data = bytearray(f.read())
                data[len(data) // 2] ^= 1
                out.write(data)
            unsigned = os.path.getsize(package("x64.En"))
            # A stale copy (the package before signing), a damaged one, none, one elsewhere, silence.
            wrong = {"Quorvel.x64.En.msi": ({"file": package("x64.En")},
                                            f"serves {unsigned} bytes, Quorvel.x64.En.msi in"),
                     "Quorvel.x64.Sl.msi": ({"file": altered}, "serves other bytes (SHA-256 "),
                     "Quorvel.Win32.Sl.msi": ({"status": 404}, "HTTP 404 Not Found"),
                     "Quorvel.Win32.En.msi": ({"behaviour": "redirect-away"},
                                              "redirected to another host: https://elsewhere.invalid/x"),
                     "Quorvel.x64.It.msi": ({"behaviour": "silent"}, "no answer within 3 s")}
            started = time.monotonic()
            done = check_host({**routes, **{name: route for name, (route, _) in wrong.items()}})
            self.assertLess(time.monotonic() - started, 30 * SLOWNESS)
            self.assertEqual(1, done.returncode)
            for name, (_, what) in wrong.items():
                self.assertIn(f"FAULT {ADDRESS}{name}: {what}", done.stdout)
            self.assertIn("check-host: 5 of 9 addresses at fault", done.stdout)

            # One set with a fault of each kind; only the last file reaches the time-stamp
            # authority, which now answers garbage.
            faulty = packages_folder("faulty", {
                "Quorvel.x64.Sl.msi": SETUP_EXE,
                "Quorvel.Win32.En.msi": package("x64.En"),
                "Quorvel.x64.En.msi": package("x64.En", "v3510"),
                "Quorvel.Win32.It.msi": sign(package("Win32.En"), Identity("release-other"),
                                             os.path.join(HERE, "other.msi")),
                "Quorvel.x64.It.msi": package("x64.En"),
                "Quorvel.Arm64.It.msp": package("x64.En")})
            tsa.behaviour, requests = "garbage", tsa.requests
            done = release(faulty)
            self.assertEqual(1, tsa.requests - requests)
        self.assertEqual(1, done.returncode, done.stdout + done.stderr)
        expected = {"Quorvel.Win32.Sl.msi": f"missing: no such file in {faulty}",
                    "Quorvel.x64.Sl.msi": "is not a Windows Installer package",
                    "Quorvel.Win32.En.msi": "platform \"x64\" (summary Template) does not fit the x86 slot",
                    "Quorvel.x64.En.msi": "ProductVersion \"3.5.1.0\" is not the table's \"3.5.1\"",
                    "Quorvel.Win32.It.msi": "arrives signed by another identity (/CN=Quorvel test signer "
                                            "release-other,",
                    "Quorvel.Arm64.It.msp": "is a Windows Installer package, not a patch",
                    "Quorvel.x64.It.msi": f"not signed: Failed to convert timestamp reply from {tsa.url}"}
        faults = [line for line in done.stdout.splitlines() if line.startswith("FAULT")]
        self.assertEqual(len(expected), len(faults), done.stdout)
        for name, what in expected.items():
            with self.subTest(name):
                self.assertTrue(any(line.startswith(f"FAULT {name} ({SLOTS[name]}): {what}") for line in faults),
                                done.stdout)
        self.assertEqual(len(faults) + 2, done.stdout.count("\n    on users' machines: "), "each says what users meet")
        self.assertIn(f"release: 7 faults, 2 warnings; nothing written to {DIST}", done.stdout)
        # The earlier DIST stays whole, and nothing is left beside it.
        self.assertEqual(0, subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=DIST).returncode)
        self.assertEqual([], [n for n in os.listdir(HERE) if n.startswith(".dist.")])


if __name__ == "__main__":
    unittest.main()
