"""The whole installation with the built-in tables: the language dialog, the package beside
setup.exe or downloaded over HTTPS from the built-in address (a test host in private
namespaces), the signature check, and Windows Installer installing the real package."""
import os
import random
import shutil
import unittest

from harness import APP_TITLE, SLOWNESS, WORK, PrefixCase, platform_answers, run_setup
from signing import Identity, signed_copy

PACKAGES = os.path.join(os.environ.get("BUILD_DIR", ""), "packages")
SETUP_EXE = os.environ.get("SETUP_EXE", "")
UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
PRODUCT_CODES = {"Win32.En": "{1A2B3C4D-0000-4000-8000-000000000001}",
                 "x64.En": "{1A2B3C4D-0000-4000-8000-000000000003}"}
CHOOSE_ENGLISH = ("Choose setup language", "select:English,press:1")
CLOSE_BOXES = ("OK", "wait:200,press:1")
NOT_FOUND = r"^Setup was unable to find the MSI package or patch 'https://prenos\.quorvel\.example/[^']*'\.$"
NOT_TRUSTED = r"^Installation failed\. 'C:\\users\\.*\\INetCache\\.*' is not trusted\.$"


def refused_download_boxes(prefix, routes, host=None):
    """For each route of the test host (a host answering 404, or misbehaving), the one box
    setup.exe must end in when its package comes that way, or None where only the user's
    Cancel can end it; host: the host's own setting (see server.py's "*"). Platforms differ in
    whether their download call fails then (the package is not found), hands back what arrived
    as a file (which the signature check refuses) or never returns: the platform's own download
    call is asked first."""
    names = list(routes)
    # Named as a package is: the download call makes the cached file's name from the address's.
    server = {f"{n}.msi": route for n, route in routes.items()}
    if host:
        server["*"] = host
    answers = platform_answers(prefix, "download", [f"https://prenos.quorvel.example/probe/{n}.msi" for n in names],
                               server=server)
    return {name: None if answer is None else NOT_FOUND if answer[0] & 0x80000000 else NOT_TRUSTED
            for name, answer in zip(names, answers)}


def signed(path, who="maker"):
    return signed_copy(path, Identity(who), os.path.join(WORK, "signed", who))


def package(flavour, version_folder=""):
    return os.path.join(PACKAGES, version_folder, f"Quorvel.{flavour}.msi")


class InstallCase(PrefixCase):
    def setUp(self):
        super().setUp()
        self.setup = signed(SETUP_EXE)

    def installed(self, flavour):
        lang = flavour.split(".")[1]
        return os.path.exists(os.path.join(self.prefix.drive_c, "Program Files", "Quorvel", f"quorvel-{lang}.txt"))

    def registered(self, flavour):
        # The package's own architecture decides the registry view it registers in.
        view = ["/reg:64"] if flavour.startswith("x64") else []
        return self.prefix.wine(["reg", "query", UNINSTALL + PRODUCT_CODES[flavour], *view]).returncode == 0

    def serve(self, **files):
        # In ten pieces over half a second: the robot, which shares the processors with other
        # tests, then sees the bar on its way, however briefly it stays full.
        return {name: {"file": path, "behaviour": "slow", "steps": 10, "delay": 0.05} for name, path in files.items()}

    def assert_downloaded_and_installed(self, run, flavour):
        name = f"Quorvel.{flavour}.msi"
        self.assertEqual(0, run.exit_code)
        self.assertEqual([name], [r["name"] for r in run.requests])
        self.assertTrue(run.requests[0]["path"].startswith("/prenos/?verzija=3.5.1&paket="))
        self.assertEqual(["Please wait while 'Quorvel' is downloaded..."], [t for t in run.controls(103) if t])
        # The robot looks every few milliseconds: a short-lived line may pass unseen.
        status = [t for t in run.controls(105) if t]
        expected = [f"Downloading package '{name}' ...", f"Verifying digital signature of '{name}'..."]
        self.assertEqual(expected[0], status[0])
        self.assertEqual(status, expected[:len(status)])
        bars = [c for s in run.windows(APP_TITLE) for c in s["controls"] if c["id"] == 104]
        moved = [b["pos"] for b in bars if b["max"] > 0]
        self.assertTrue(any(0 < pos for pos in moved), f"the progress bar moved: {bars}")
        self.assertEqual(sorted(moved), moved, "the progress bar only goes forward")
        self.assertEqual([], run.message_boxes())
        self.assertTrue(self.installed(flavour))
        self.assertTrue(self.registered(flavour))


class DownloadX64(InstallCase):
    arch = "win64"

    def test_english_chosen_downloaded_verified_installed(self):
        run = run_setup(self.prefix, setup=self.setup, rules=[CHOOSE_ENGLISH],
                        server=self.serve(**{"Quorvel.x64.En.msi": signed(package("x64.En"))}))
        dialog = run.windows("Choose setup language")[0]
        combo = next(c for c in dialog["controls"] if c["id"] == 1000)
        self.assertEqual(["English", "Sloven\u0161\u010dina"], combo["items"])
        self.assertEqual(0, combo["selected"], "the user's language is pre-selected")
        self.assert_downloaded_and_installed(run, "x64.En")


class DownloadX86(InstallCase):
    arch = "win32"

    def test_english_chosen_downloaded_verified_installed(self):
        run = run_setup(self.prefix, setup=self.setup, rules=[CHOOSE_ENGLISH],
                        server=self.serve(**{"Quorvel.Win32.En.msi": signed(package("Win32.En"))}))
        self.assert_downloaded_and_installed(run, "Win32.En")


class PackageBesideSetup(InstallCase):
    arch = "win64"

    def test_matching_version_installs_from_beside_without_any_request(self):
        # Unsigned on purpose: a copy that came with setup.exe is not compared.
        self.prefix.place(package("x64.En"), "Downloads")
        run = run_setup(self.prefix, setup=self.setup, rules=[CHOOSE_ENGLISH], server={})
        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.requests)
        self.assertEqual([], run.message_boxes())
        self.assertTrue(self.installed("x64.En"))

    def test_four_part_version_is_another_version_and_is_downloaded(self):
        self.prefix.place(package("x64.En", "v3510"), "Downloads")
        run = run_setup(self.prefix, setup=self.setup, rules=[CHOOSE_ENGLISH],
                        server=self.serve(**{"Quorvel.x64.En.msi": signed(package("x64.En"))}))
        self.assertEqual(["Quorvel.x64.En.msi"], [r["name"] for r in run.requests])
        self.assertTrue(self.installed("x64.En"))


class RefusedAndFailedDownloads(InstallCase):
    arch = "win64"

    def run_refused(self, route, rules=(CHOOSE_ENGLISH, CLOSE_BOXES), timeout=60):
        run = run_setup(self.prefix, setup=self.setup, rules=list(rules), timeout=timeout,
                        server={"Quorvel.x64.En.msi": route})
        self.assertEqual(0, run.exit_code)
        self.assertFalse(self.installed("x64.En"))
        return run

    def test_unsigned_package_is_not_installed(self):
        run = self.run_refused({"file": package("x64.En")})
        boxes = run.message_boxes()
        self.assertEqual(1, len(boxes))
        self.assertRegex(boxes[0], NOT_TRUSTED)

    def test_missing_package_is_reported(self):
        expected = refused_download_boxes(self.prefix, {"missing": {"status": 404}})["missing"]
        run = self.run_refused({"status": 404})
        boxes = run.message_boxes()
        self.assertEqual(1, len(boxes))
        self.assertRegex(boxes[0], expected)

    def test_cancel_during_download(self):
        # Pressed at seeded random moments, from before the transfer starts to well into it (it
        # takes 10 s): every run ends at once with the notice. Escape too, the moment the
        # language dialog has gone, when the focus is only just coming back.
        route = {"file": signed(package("x64.En")), "behaviour": "slow", "steps": 200, "delay": 0.05}
        acts = [("press:2", m) for m in random.Random(15).sample(range(0, 2500, 10), 20)]
        for act, moment in acts + [("key:escape", 0), ("key:escape", 27)]:
            with self.subTest(act=act, moment=moment):
                run = self.run_refused(route, [CHOOSE_ENGLISH, ("Downloading package", f"wait:{moment},{act}"),
                                               CLOSE_BOXES], timeout=30)
                self.assertFalse(run.timed_out, run.backtraces)
                self.assertEqual(["Setup was cancelled."], run.message_boxes())
                self.assertLess(run.seconds_after(act), 3 * SLOWNESS, "Cancel ends the download at once")

    def test_installer_failure_shows_its_code(self):
        # A trusted file that is no package: the installer refuses it. Where msimsg.dll has no
        # text for its answer (Wine's has none), the program's own message names the code.
        probe = self.prefix.place(self.setup, "probe")
        [(code, has_text)] = platform_answers(self.prefix, "install", [probe])
        run = self.run_refused({"file": self.setup})
        boxes = run.message_boxes()
        self.assertEqual(1, len(boxes))
        own = f"An error occured installing the package. Windows Installer returned '{code}'."
        if has_text:
            self.assertNotEqual(own, boxes[0], "the installer's own text is shown")
        else:
            self.assertEqual(own, boxes[0])


class AdministrativeInstallation(InstallCase):
    arch = "win64"

    def images(self):
        """Folders below C:\\ (Downloads aside) that hold an administrative image of the package:
        its copy, and its file unpacked somewhere beneath."""
        found = []
        for folder, _, files in os.walk(self.prefix.drive_c):
            rel = os.path.relpath(folder, self.prefix.drive_c)
            if "Quorvel.x64.En.msi" in files and rel.split(os.sep)[0] not in ("Downloads", "windows"):
                unpacked = any("quorvel-En.txt" in f for _, _, f in os.walk(folder))
                found.append(("C:\\" + ("" if rel == "." else rel.replace(os.sep, "\\")), unpacked))
        return found

    def platform_makes_images(self):
        """Asks the platform's own installer for an image, setup.exe aside: Windows Installer
        makes one, where it cannot it answers 1626 (Wine 8 does)."""
        source = self.prefix.place(package("x64.En"), "Downloads")
        self.prefix.wine(["msiexec", "/a", source, "/qn", "TARGETDIR=C:\\probe"])
        made = [image for image, _ in self.images()] == ["C:\\probe"]
        shutil.rmtree(self.prefix.unix_path("C:\\probe"), ignore_errors=True)
        return made

    def test_image_made_in_the_folder_and_nothing_installed(self):
        makes_images = self.platform_makes_images()
        # Without a folder the installer chooses one (the root of the drive, under Wine).
        cases = [(["/a"], " ACTION=ADMIN", None),
                 (['/a "C:\\admin point"'], ' ACTION=ADMIN TARGETDIR=\\"C:\\\\admin point\\"', "C:\\admin point")]
        for args, expected, folder in cases:
            with self.subTest(args=args, makes_images=makes_images):
                before = self.images()
                self.prefix.place(package("x64.En"), "Downloads")
                run = run_setup(self.prefix, args, setup=self.setup, rules=[CHOOSE_ENGLISH, CLOSE_BOXES],
                                extra_env={"WINEDEBUG": "+msi"})
                self.assertEqual(0, run.exit_code)
                self.assertIn(expected, run.output)
                self.assertFalse(self.installed("x64.En") or self.registered("x64.En"), "installed for the user")
                made = [image for image in self.images() if image not in before]
                if makes_images:
                    self.assertEqual([], run.message_boxes())
                    self.assertEqual(1, len(made), made)
                    self.assertTrue(made[0][1], f"the package's file is unpacked in {made[0][0]}")
                    if folder:
                        self.assertEqual(folder, made[0][0])
                else:
                    self.assertEqual(["An error occured installing the package. Windows Installer returned '1626'."],
                                     run.message_boxes())
                    self.assertEqual([], made)


class NonNT(InstallCase):
    version = "win98"

    def test_no_package_for_the_platform(self):
        run = run_setup(self.prefix, setup=self.setup, rules=[CHOOSE_ENGLISH, CLOSE_BOXES], server={})
        self.assertEqual(0, run.exit_code)
        self.assertEqual(["The setup was unable to find appropriate install package for your operating system."],
                         run.message_boxes())
        self.assertEqual([], run.requests)


class LanguageDialogCancelled(InstallCase):
    lang = "sl_SI.UTF-8"

    def test_user_language_preselected_and_cancel_ends_quietly(self):
        run = run_setup(self.prefix, setup=self.setup, lang="sl_SI.UTF-8", rules=[("Prekli", "press:2")], server={})
        combo = next(c for s in run.snapshots for c in s["controls"] if c["id"] == 1000)
        self.assertEqual("Sloven\u0161\u010dina", combo["items"][combo["selected"]])
        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.message_boxes())
        self.assertEqual([], run.requests)


if __name__ == "__main__":
    unittest.main()
