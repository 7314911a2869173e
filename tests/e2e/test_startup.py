"""Start-up and exit of the release setup.exe: command-line modes, the single-instance
mutex and the exit codes, on NT and, through the ANSI functions, on the non-NT platform."""
import re
import struct
import unittest

from harness import APP_TITLE, GLOBAL_MUTEX, LOCAL_MUTEX, SETUP_EXE, PrefixCase, platform_answers, run_setup
from test_verify import exit_code_for

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
        # The verdict on a file that is not there is the platform's check's (Wine's answers 2).
        missing = "C:\\no such file.msi"
        run = run_setup(self.prefix, [f'/v "{missing}"'], hold_mutex=GLOBAL_MUTEX)
        self.assertEqual(exit_code_for(*platform_answers(self.prefix, "trust", [missing])), run.exit_code)
        self.assertEqual([], run.snapshots)

    def test_local_name_does_not_count_on_modern_windows(self):
        run = run_setup(self.prefix, hold_mutex=LOCAL_MUTEX, rules=[CANCEL_LANGUAGE])
        self.assertEqual(0, run.exit_code)


# The Unicode functions that Windows 95, 98 and Me implement ("Windows 95 Limitations" in the
# Win32 SDK: MessageBox, MessageBoxEx, TextOut, ExtTextOut and the two conversions; the
# Microsoft Layer for Unicode's list of the Unicode support those systems already have adds the
# resource lookups, lstrlenW and GetCommandLineW). Every other W function there is a stub that
# fails. One the non-NT platform lacks altogether is looked up at run time and may be asked for.
NON_NT_UNICODE = {"MessageBoxW", "MessageBoxExW", "TextOutW", "ExtTextOutW", "MultiByteToWideChar",
                  "WideCharToMultiByte", "FindResourceW", "FindResourceExW", "lstrlenW", "GetCommandLineW"}
LOOKED_UP = {"SetDllDirectoryW"}  # XP SP1 and later; absent before


def calls_from_setup(run):
    """Names of the functions that setup.exe's own image called (return address inside its
    image, in its process), from Wine's +pid,+relay trace."""
    with open(SETUP_EXE, "rb") as f:
        head = f.read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    base, size = struct.unpack_from("<I", head, pe + 52)[0], struct.unpack_from("<I", head, pe + 80)[0]
    pid = next(e["pid"] for e in run.events if e["event"] == "started")
    called = set()
    for m in re.finditer(r"^([0-9a-f]{4}):[0-9a-f]{4}:Call [\w-]+\.(\w+)\(.*\) ret=([0-9a-f]{8})$", run.output, re.M):
        if int(m.group(1), 16) == pid and base <= int(m.group(3), 16) < base + size:
            called.add(m.group(2))
    return called


class NonNT(PrefixCase):
    version = "win98"

    def test_non_nt_uses_the_local_name(self):
        self.assertEqual(1618, run_setup(self.prefix, hold_mutex=LOCAL_MUTEX).exit_code)
        run = run_setup(self.prefix, hold_mutex=GLOBAL_MUTEX, rules=[("OK", "press:1")])
        self.assertEqual(0, run.exit_code)


class NonNTTrace(PrefixCase):
    """What the x86 release binary, the only one Windows 98 runs, asks of it."""
    version = "win98"

    def test_no_stub_of_a_unicode_function_is_called(self):
        # Wine's win98 setting keeps every Unicode function working: what a real Windows 98
        # would be asked for shows in the calls setup.exe makes.
        for args, rules in (((), [CANCEL_LANGUAGE]), (["/?"], [("Usage:", "press:1")])):
            with self.subTest(args=args):
                run = run_setup(self.prefix, args, rules=rules, extra_env={"WINEDEBUG": "+pid,+relay"})
                self.assertEqual(0, run.exit_code)
                called = calls_from_setup(run)
                self.assertIn("FindResourceW", called, "the trace shows setup.exe's calls")
                self.assertEqual([], sorted(name for name in called if name.endswith("W")
                                            and name not in NON_NT_UNICODE | LOOKED_UP))


class CommandLineModesNonNT(CommandLineModes):
    version = "win98"


class NormalRunNonNT(NormalRun):
    version = "win98"


if __name__ == "__main__":
    unittest.main()
