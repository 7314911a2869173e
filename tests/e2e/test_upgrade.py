"""The Windows Installer upgrade end to end: "InstallerLocation" names a folder with an old
test-built msi.dll or none, and a stand-in for the redistributable (a test program with a
chosen version that records its command line and exits with a chosen code) lies beside
setup.exe or is downloaded from the built-in address and judged by a second copy of setup.exe.
Then the restart question at exit, and what Wine does with the restart: ExitWindowsEx starts
"wineboot --end-session" (no --shutdown: a restart), seen in Wine's process trace."""
import codecs
import os
import re
import unittest

from harness import FIXTURES, WORK, PrefixCase, run_setup
from signing import Identity, signed_copy

BUILD_DIR = os.environ.get("BUILD_DIR", "")
SETUP_EXE = os.environ.get("SETUP_EXE", "")
INSTALLER_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer"
RECORD = "C:\\record\\command line.txt"
SWITCH = ' /c:"msiinst /delayreboot"'

PROMPT = "This package requires a newer version of the Windows Installer."
REBOOT = "You must restart your system"
YES, NO = "press:6", "press:7"
LANGUAGE_DIALOG = "Choose setup language"
# Cancelling the language dialog ends the product installation quietly: reaching it shows
# that the worker went on after the upgrade.
CANCEL_LANGUAGE = (LANGUAGE_DIALOG, "press:2")
CLOSE_BOXES = [(text, "wait:100,press:1") for text in ("Setup was", "is invalid", "is not trusted",
                                                       "Admin priv", "does not support")]
CANCELLED = "Setup was cancelled."
UPGRADE_FAILED = "Setup was unable to upgrade the Windows Installer."
DOWNLOADING = "Downloading Windows Installer upgrade executable"
REBOOT_TRACE = re.compile(r"CreateProcessInternalW app .*wineboot\.exe.* cmdline .*wineboot\.exe --end-session\"")


def stand_in(version):
    """The redistributable's stand-in with a version ("12_0", "nofixed", ...) or, with None,
    the same program without any version resource."""
    if version is None:
        return os.path.join(FIXTURES, "child_stub.exe")
    return os.path.join(FIXTURES, f"instmsi_v{version}", "InstMSIW.exe")


def signed(path, who):
    return signed_copy(path, Identity(who), os.path.join(WORK, "signed-upgrade", who))


class UpgradeCase(PrefixCase):
    def setUp(self):
        super().setUp()
        self.locate("C:\\no msi")

    def locate(self, folder, msi=None):
        """Points "InstallerLocation" at C:\\<folder>, holding the test-built msi.dll `msi`."""
        os.makedirs(self.prefix.unix_path(folder), exist_ok=True)
        if msi:
            self.prefix.place(os.path.join(FIXTURES, msi, "msi.dll"), folder[3:])
        self.prefix.wine(["reg", "add", INSTALLER_KEY, "/v", "InstallerLocation", "/d", folder, "/f"])

    def run_upgrade(self, exit_code=0, rules=(), env=None, **kwargs):
        record = self.prefix.unix_path(RECORD)
        os.makedirs(os.path.dirname(record), exist_ok=True)
        if os.path.exists(record):
            os.unlink(record)
        extra = {"CHILD_STUB_RECORD": RECORD, "CHILD_STUB_EXIT": str(exit_code)}
        extra.update(env or {})
        run = run_setup(self.prefix, rules=[*rules, CANCEL_LANGUAGE, *CLOSE_BOXES], extra_env=extra, **kwargs)
        self.assertFalse(run.timed_out)
        self.assertEqual(0, run.exit_code, "the outcome of the installation never reaches the exit code")
        run.command_line = None
        if os.path.exists(record):
            with open(record, "rb") as f:
                run.command_line = codecs.decode(f.read(), "utf-16-le")
        run.went_on = bool(run.windows(LANGUAGE_DIALOG))
        run.asked = bool(run.windows(text=PROMPT))
        run.boxes = [b for b in run.message_boxes() if not b.startswith(PROMPT)]
        return run

    def status_lines(self, run):
        return [t for t in run.controls(105) if t]


class RedistributableBesideSetup(UpgradeCase):
    LOCAL = "C:\\Downloads\\InstMSIW.exe"

    def test_exit_codes(self):
        self.prefix.place(stand_in("12_0"), "Downloads", "InstMSIW.exe")
        cases = [
            (0, [], True),
            (1, [UPGRADE_FAILED], False),
            (1603, [UPGRADE_FAILED], False),
            (2, [f"Setup was unable to find the InstMSI file '{self.LOCAL}'."], False),
            (1602, [CANCELLED], False),
            (1641, [], False),
        ]
        for code, boxes, went_on in cases:
            with self.subTest(code=code):
                run = self.run_upgrade(code, [(PROMPT, YES)])
                self.assertEqual(f'"{self.LOCAL}"{SWITCH}', run.command_line)
                self.assertEqual(boxes, run.boxes, "no restart question without 3010")
                self.assertEqual(went_on, run.went_on)
                self.assertNotIn(DOWNLOADING, self.status_lines(run), "a copy beside setup.exe is not announced")

    def test_restart_required_then_declined(self):
        self.prefix.place(stand_in("12_0"), "Downloads", "InstMSIW.exe")
        run = self.run_upgrade(3010, [(PROMPT, YES), (REBOOT, NO)], env={"WINEDEBUG": "+process"})
        self.assertEqual(f'"{self.LOCAL}"{SWITCH}', run.command_line)
        self.assertTrue(run.went_on, "the products are still installed before the question")
        self.assertEqual([REBOOT], [b[:len(REBOOT)] for b in run.boxes])
        reboot_box = [s for s in run.snapshots if any(REBOOT in c["text"] for c in s["controls"])][0]
        self.assertEqual({6, 7}, {c["id"] for c in reboot_box["controls"] if c["class"].lower() == "button"})
        self.assertIsNone(REBOOT_TRACE.search(run.output))

    def test_versions(self):
        cases = [("9_99", True), ("10_0", False), ("11_99", False), ("12_0", True), ("nofixed", True),
                 (None, False)]
        for version, runs in cases:
            with self.subTest(version=version):
                self.prefix.place(stand_in(version), "Downloads", "InstMSIW.exe")
                run = self.run_upgrade(0, [(PROMPT, YES)])
                self.assertEqual(runs, run.command_line is not None)
                self.assertEqual(runs, run.went_on)
                invalid = [f"The provided InstMSI upgrade executable '{self.LOCAL}' is invalid."]
                self.assertEqual([] if runs else invalid, run.boxes)

    def test_a_folder_of_that_name(self):
        os.makedirs(self.prefix.unix_path(self.LOCAL))
        run = self.run_upgrade(0, [(PROMPT, YES)])
        self.assertEqual([f"The provided InstMSI upgrade executable '{self.LOCAL}' is invalid."], run.boxes)
        self.assertFalse(run.went_on)

    def test_question_answered_no(self):
        self.prefix.place(stand_in("12_0"), "Downloads", "InstMSIW.exe")
        run = self.run_upgrade(0, [(PROMPT, NO)])
        self.assertTrue(run.asked)
        self.assertEqual([CANCELLED], run.boxes)
        self.assertIsNone(run.command_line)
        self.assertFalse(run.went_on)


class InstalledVersion(UpgradeCase):
    def test_old_msi_asks_and_a_new_one_does_not(self):
        # Wine hands out its own msi.dll, version and all, unless the one found is preferred.
        native = {"WINEDLLOVERRIDES": "msi=n,b"}
        cases = [("msi_v1_20", True), ("msi_v2_0", False), ("msi_v1_100", False), ("msi_vnofixed", False)]
        for msi, asked in cases:
            with self.subTest(msi=msi):
                self.locate(f"C:\\{msi}", msi)
                run = self.run_upgrade(0, [(PROMPT, NO)], env=native)
                self.assertEqual(asked, run.asked)
                self.assertEqual(not asked, run.went_on)

    def test_wines_own_msi_needs_no_upgrade(self):
        self.locate("C:\\windows\\system32")
        run = self.run_upgrade(0, [(PROMPT, NO)])
        self.assertFalse(run.asked)
        self.assertTrue(run.went_on)


class RestartCase(UpgradeCase):
    def before_restart(self, run):
        return run.output[:REBOOT_TRACE.search(run.output).start()]

    def assert_restart_requested(self, run):
        self.assertTrue(run.went_on)
        self.assertEqual([REBOOT], [b[:len(REBOOT)] for b in run.boxes])
        self.assertRegex(run.output, REBOOT_TRACE)
        self.assertNotIn("wineboot.exe --end-session --shutdown", run.output)


class Restart(RestartCase):
    def test_yes_restarts_windows_after_enabling_the_privilege(self):
        self.prefix.place(stand_in("12_0"), "Downloads", "InstMSIW.exe")
        run = self.run_upgrade(3010, [(PROMPT, YES), (REBOOT, YES)], env={"WINEDEBUG": "+process,+advapi"})
        self.assert_restart_requested(run)
        self.assertIn("SeShutdownPrivilege", self.before_restart(run), "the privilege is enabled first on NT")


class RestartNonNT(RestartCase):
    version = "win98"

    def test_yes_restarts_without_the_privilege(self):
        self.prefix.place(stand_in("12_0"), "Downloads", "InstMSIA.exe")
        run = self.run_upgrade(3010, [(PROMPT, YES), (REBOOT, YES)], env={"WINEDEBUG": "+process,+advapi"})
        self.assertEqual(f'"C:\\Downloads\\InstMSIA.exe"{SWITCH}', run.command_line)
        self.assert_restart_requested(run)
        self.assertNotIn("SeShutdownPrivilege", self.before_restart(run))


class NonNT(UpgradeCase):
    version = "win98"

    def test_takes_instmsia_only(self):
        # InstMSIW.exe beside setup.exe is not for this platform: InstMSIA.exe is fetched, and
        # without a host to answer, the download fails naming its address.
        self.prefix.place(stand_in("12_0"), "Downloads", "InstMSIW.exe")
        run = self.run_upgrade(0, [(PROMPT, YES)])
        self.assertIsNone(run.command_line)
        self.assertEqual(["Setup was unable to find the InstMSI file "
                          "'https://msi.quorvel.example/MSI/2.0/InstMSIA.exe'."], run.boxes)
        self.assertFalse(run.went_on)


class X64(UpgradeCase):
    arch = "win64"

    def test_no_redistributable_for_the_processor(self):
        self.prefix.place(stand_in("12_0"), "Downloads", "InstMSIW.exe")
        run = self.run_upgrade(0, [(PROMPT, YES)])
        self.assertTrue(run.asked)
        self.assertEqual([], run.boxes, "1633 shows nothing")
        self.assertIsNone(run.command_line)
        self.assertFalse(run.went_on)


class Downloaded(UpgradeCase):
    """One download per prefix: the URL cache would answer a second one."""
    redist = "InstMSIW.exe"

    def setUp(self):
        super().setUp()
        self.setup = signed(SETUP_EXE, "maker")

    def download(self, route, rules=((PROMPT, YES),), exit_code=0, env=None):
        # In ten pieces over half a second unless the route says otherwise: the robot then sees
        # the download's status line, however fast the machine.
        route = {"behaviour": "slow", "steps": 10, "delay": 0.05, **route}
        return self.run_upgrade(exit_code, list(rules), env=env, setup=self.setup, server={self.redist: route})

    def assert_refused(self, run):
        stem = self.redist[:-4]
        self.assertRegex(run.boxes[-1],
                         rf"^Installation failed\. 'C:\\users\\.*\\INetCache\\.*{stem}.*\.exe' is not trusted\.$")
        self.assertIsNone(run.command_line)
        self.assertFalse(run.went_on)

    def test_same_signer_runs_with_the_delayed_restart(self):
        run = self.download({"file": signed(stand_in("12_0"), "maker")})
        self.assertEqual([(f"/MSI/2.0/{self.redist}", "msi.quorvel.example")],
                         [(r["path"], r["host"]) for r in run.requests])
        status = self.status_lines(run)
        self.assertEqual(DOWNLOADING, status[0])
        verifying = f"Verifying digital signature of '{self.redist}'..."
        self.assertEqual(status, [DOWNLOADING, verifying][:len(status)])
        self.assertRegex(run.command_line,
                         rf'^"C:\\users\\[^"]*\\INetCache\\[^"]*{self.redist[:-4]}[^"]*\.exe"' + re.escape(SWITCH) + "$")
        self.assertEqual(26, len(SWITCH))
        self.assertEqual([], run.boxes)
        self.assertTrue(run.went_on)

    def test_unsigned_is_not_run(self):
        self.assert_refused(self.download({"file": stand_in("12_0")}))

    def test_another_signer_is_not_run(self):
        # Wine's own trust provider accepts any signed file; the stand-in refuses this one at
        # the full prompt, as Windows would.
        self.prefix.place(os.path.join(FIXTURES, "wintrust_standin", "wintrust.dll"), "windows\\system32")
        env = {"WINEDLLOVERRIDES": "wintrust=n,b", "TRUST_STANDIN_REFUSE": self.redist[:-4]}
        self.assert_refused(self.download({"file": signed(stand_in("12_0"), "other")}, env=env))

    def test_cancel_during_the_download(self):
        route = {"file": signed(stand_in("12_0"), "maker"), "behaviour": "slow", "steps": 200, "delay": 0.05}
        run = self.download(route, [(PROMPT, YES), (DOWNLOADING, "wait:500,press:2")])
        self.assertEqual([CANCELLED], run.boxes)
        self.assertIsNone(run.command_line)
        self.assertFalse(run.went_on)

    def test_unreachable_host(self):
        run = self.run_upgrade(0, [(PROMPT, YES)], setup=self.setup)
        self.assertEqual(["Setup was unable to find the InstMSI file "
                          f"'https://msi.quorvel.example/MSI/2.0/{self.redist}'."], run.boxes)
        self.assertFalse(run.went_on)


class DownloadedNonNT(Downloaded):
    """The same on Windows 98: the download, its lock, the second copy's check and Cancel on
    the ANSI route."""
    version = "win98"
    redist = "InstMSIA.exe"


if __name__ == "__main__":
    unittest.main()
