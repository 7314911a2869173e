"""The download host misbehaving in the ways a network can: the setup never hangs past what
the user can cancel, never installs what it did not verify, and ends with the right message."""
import os
import unittest

from harness import SLOWNESS, WORK, PrefixCase, run_setup
from signing import Identity, signed_copy
from tls import certificate_for_another_host
from test_install import refused_download_boxes

PACKAGES = os.path.join(os.environ.get("BUILD_DIR", ""), "packages")
SETUP_EXE = os.environ.get("SETUP_EXE", "")
CHOOSE_ENGLISH = ("Choose setup language", "select:English,press:1")
CLOSE_BOXES = ("OK", "wait:200,press:1")
CANCELLED = "Setup was cancelled."


def signed(path):
    return signed_copy(path, Identity("maker"), os.path.join(WORK, "signed", "maker"))


class HostileHost(PrefixCase):
    arch = "win64"

    def setUp(self):
        super().setUp()
        self.setup = signed(SETUP_EXE)
        self.package = signed(os.path.join(PACKAGES, "Quorvel.x64.En.msi"))

    def installed(self):
        return os.path.exists(os.path.join(self.prefix.drive_c, "Program Files", "Quorvel", "quorvel-En.txt"))

    def clear_cache(self):
        """The URL cache would serve the next case from the last one's copy."""
        self.prefix.wine(["cmd", "/c", "rmdir", "/s", "/q",
                          "C:\\users\\root\\AppData\\Local\\Microsoft\\Windows\\INetCache"])

    def run_against(self, route, rules=(CHOOSE_ENGLISH, CLOSE_BOXES), timeout=90, host=None):
        server = {"Quorvel.x64.En.msi": dict({"file": self.package}, **route)}
        if host:
            server["*"] = host
        run = run_setup(self.prefix, setup=self.setup, rules=list(rules), timeout=timeout, server=server)
        self.assertFalse(run.timed_out, "the setup hung")
        self.assertEqual(0, run.exit_code)
        self.assertFalse(self.installed(), "nothing unverified is installed")
        return run

    def test_refused_transfers_end_with_a_message(self):
        # What the download leaves behind is refused by the signature check, or the download
        # reports its failure, as the platform's download call does; where that call never
        # returns (Wine's, after a reset once part of the body arrived), the user's Cancel ends it.
        behaviours = ("reset", "truncate", "oversize", "redirect-away")
        expected = refused_download_boxes(self.prefix, {b: {"behaviour": b, "file": self.package} for b in behaviours})
        # A host that presents another host's certificate (from a CA the system trusts), with an
        # unsigned package: should the platform take that certificate, the signature check refuses.
        other, unsigned = certificate_for_another_host(), os.path.join(PACKAGES, "Quorvel.x64.En.msi")
        expected.update(refused_download_boxes(self.prefix, {"other-host": {"file": unsigned}}, host=other))
        cases = [(b, {"behaviour": b}, None) for b in behaviours] + [("other-host", {"file": unsigned}, other)]
        for behaviour, route, host in cases:
            end = expected[behaviour]
            with self.subTest(behaviour=behaviour, expected=end or "only Cancel ends it"):
                cancel = [] if end else [("Downloading package", "wait:2000,press:2")]
                run = self.run_against(route, [CHOOSE_ENGLISH, *cancel, CLOSE_BOXES], host=host)
                boxes = run.message_boxes()
                self.assertEqual(1, len(boxes), boxes)
                self.assertRegex(boxes[0], end or f"^{CANCELLED}$")
                if not end:
                    self.assertLess(run.seconds_after("press:2"), 3 * SLOWNESS, "Cancel ends the download at once")
                self.clear_cache()

    def test_transfers_that_never_end_are_cancelled_by_the_user(self):
        # Nothing more arrives, or it never stops arriving, or the host sends it round in
        # circles: only the user's Cancel ends these, and it must, promptly.
        for behaviour in ("silent", "headers-only", "endless", "redirect-loop"):
            with self.subTest(behaviour=behaviour):
                # An endless body at a network's pace (6 MB/s), not at the loopback's.
                run = self.run_against({"behaviour": behaviour, "seconds": 600, "delay": 0.01},
                                       [CHOOSE_ENGLISH, ("Downloading package", "wait:2000,press:2"), CLOSE_BOXES])
                self.assertEqual([CANCELLED], run.message_boxes())
                self.assertLess(run.seconds_after("press:2"), 3 * SLOWNESS, "Cancel ends the download at once")
                self.clear_cache()


if __name__ == "__main__":
    unittest.main()
