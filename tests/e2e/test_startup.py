"""Start-up and exit of the release setup.exe: command-line modes, the single-instance
mutex and the exit codes."""
import unittest

from harness import (APP_TITLE, GLOBAL_MUTEX, LOCAL_MUTEX, TRUST_E_PROVIDER_UNKNOWN,
                     TRUST_E_SUBJECT_NOT_TRUSTED, PrefixCase, run_setup)

CANCEL_LANGUAGE = ("Choose setup language", "press:2")
USAGE_START = "Usage:\n   /? :  Show this dialog."


class CommandLineModes(PrefixCase):
    def test_usage_text_and_exit_codes(self):
        cases = [
            (["/?"], 0), (["/x"], 0), (["/admin"], 0), (["--a"], 0), (['"/a"'], 0),
            (["x", "/a"], 0), (["/v"], 160), (["/v", "C:\\a.msi", "C:\\b.msi"], 160),
            (['/v "C:\\a.msi"x'], 160),
        ]
        for args, code in cases:
            with self.subTest(args=args):
                run = run_setup(self.prefix, args, rules=[("Usage:", "press:1")])
                self.assertEqual(code, run.exit_code)
                boxes = run.message_boxes()
                self.assertEqual(1, len(boxes), boxes)
                self.assertTrue(boxes[0].startswith(USAGE_START), boxes[0])
                self.assertEqual([APP_TITLE], sorted({s["title"] for s in run.snapshots}))


class NormalRun(PrefixCase):
    def test_progress_window_is_the_main_window_and_the_run_ends_with_0(self):
        # The language dialog is cancelled: the worker stops, and the process still ends with 0.
        run = run_setup(self.prefix, rules=[CANCEL_LANGUAGE])
        self.assertEqual(0, run.exit_code)
        first = run.snapshots[0]
        self.assertEqual(APP_TITLE, first["title"])
        self.assertEqual([101, 103, 105, 104, 2], [c["id"] for c in first["controls"]])
        language = run.windows("Choose setup language")[0]
        self.assertEqual(APP_TITLE, language["owner_title"] or APP_TITLE)
        self.assertEqual([], run.message_boxes())


class SingleInstance(PrefixCase):
    def test_second_copy_ends_with_1618_and_shows_nothing(self):
        run = run_setup(self.prefix, hold_mutex=GLOBAL_MUTEX)
        self.assertEqual(1618, run.exit_code)
        self.assertEqual([], run.snapshots)

    def test_admin_mode_is_refused_as_well(self):
        run = run_setup(self.prefix, ["/a"], hold_mutex=GLOBAL_MUTEX)
        self.assertEqual(1618, run.exit_code)

    def test_verify_mode_is_not_refused_and_shows_nothing(self):
        run = run_setup(self.prefix, ['/v "C:\\no such file.msi"'], hold_mutex=GLOBAL_MUTEX)
        self.assertIn(run.exit_code, (TRUST_E_PROVIDER_UNKNOWN, TRUST_E_SUBJECT_NOT_TRUSTED))
        self.assertEqual([], run.snapshots)

    def test_local_name_does_not_count_on_modern_windows(self):
        run = run_setup(self.prefix, hold_mutex=LOCAL_MUTEX, rules=[CANCEL_LANGUAGE])
        self.assertEqual(0, run.exit_code)


class OldPlatformMutex(PrefixCase):
    version = "win98"

    def test_non_nt_uses_the_local_name(self):
        self.assertEqual(1618, run_setup(self.prefix, hold_mutex=LOCAL_MUTEX).exit_code)
        run = run_setup(self.prefix, hold_mutex=GLOBAL_MUTEX, rules=[("OK", "press:1")])
        self.assertEqual(0, run.exit_code)


if __name__ == "__main__":
    unittest.main()
