"""The verify mode (setup.exe /v file) end to end, on real Authenticode signatures made at
test time: PE files and a wixl-built MSI package, signed by the setup program's certificate,
by another one, not at all, or altered after signing, and dual-signed (SHA-1 with a nested
SHA-256 signature), where only the signer of the first signature counts. The platform's own
trust provider judges the first table; a stand-in wintrust.dll whose verdicts the test
chooses, on the real crypt32, judges the second, because platforms differ in what a signed
file needs to pass (Windows refuses a signer whose root it does not trust and an MSI altered
after signing; Wine's provider accepts both)."""
import functools
import os
import shutil
import unittest
from types import SimpleNamespace

from harness import (FIXTURES, PLATFORM, SETUP_EXE, TRUST_E_PROVIDER_UNKNOWN, TRUST_E_SUBJECT_NOT_TRUSTED, WORK,
                     PrefixCase, platform_answers, run_setup)
from signing import Identity, signed_copy

BUILD_DIR = os.environ.get("BUILD_DIR", "")
PE_SAMPLE = os.path.join(FIXTURES, "child_stub.exe")
MSI_SAMPLE = os.path.join(BUILD_DIR, "packages", "Quorvel.Win32.En.msi")
FOLDER = os.path.join(WORK, "verify-files")


def altered_copy(path, name):
    """A copy with one byte of its signed content changed: in the code of a PE file, in the
    string pool of an MSI package."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    offset = 0x600 if data[:2] == b"MZ" else data.index(b"Quorvel")
    data[offset] ^= 0x01
    dest = os.path.join(FOLDER, name)
    with open(dest, "wb") as f:
        f.write(data)
    return dest


@functools.lru_cache(maxsize=None)
def files():
    a, b = Identity("A"), Identity("B")
    in_a, in_b = os.path.join(FOLDER, "a"), os.path.join(FOLDER, "b")
    os.makedirs(FOLDER, exist_ok=True)
    pe_a = signed_copy(PE_SAMPLE, a, in_a, "program.exe")
    msi_a = signed_copy(MSI_SAMPLE, a, in_a, "package.msi")
    unsigned = os.path.join(FOLDER, "unsigned")
    os.makedirs(unsigned, exist_ok=True)
    setup_unsigned = shutil.copy(SETUP_EXE, os.path.join(unsigned, "setup.exe"))
    dual = os.path.join(FOLDER, "dual")
    return SimpleNamespace(
        setup_a=signed_copy(SETUP_EXE, a, in_a, "setup.exe"),
        setup_a_dual=signed_copy(SETUP_EXE, a, dual, "setup.exe", nested=a),
        msi_a_dual=signed_copy(MSI_SAMPLE, a, dual, "package.msi", nested=a),
        msi_b_nested_a=signed_copy(MSI_SAMPLE, b, dual, "b-then-a.msi", nested=a),
        setup_unsigned=setup_unsigned,
        pe_a=pe_a, pe_b=signed_copy(PE_SAMPLE, b, in_b, "program.exe"),
        pe_unsigned=PE_SAMPLE, pe_altered=altered_copy(pe_a, "altered.exe"),
        msi_a=msi_a, msi_b=signed_copy(MSI_SAMPLE, b, in_b, "package.msi"),
        msi_unsigned=MSI_SAMPLE, msi_altered=altered_copy(msi_a, "altered.msi"))


SETUP_FOLDER = "Program Files\\Quorvel Setup"
FILE_FOLDER = "Users\\Public\\My Downloads"
NOT_TRUSTED = TRUST_E_SUBJECT_NOT_TRUSTED
UNAVAILABLE = TRUST_E_PROVIDER_UNKNOWN
UI_ALL, UI_NONE, UI_NOGOOD = 1, 2, 4
# WINTRUST_DATA as every Windows since 2000 takes it (without Windows 8's signature settings),
# on the build's processor.
WINTRUST_DATA_SIZE = {"x86": "48", "x64": "80"}[PLATFORM]
VERIFY, CLOSE, IGNORE = 1, 2, 0


def exit_code_for(answer):
    """setup.exe /v's exit code when the platform's trust check gives `answer` in the last pass."""
    return 0 if answer == 0 else UNAVAILABLE if answer == TRUST_E_PROVIDER_UNKNOWN else NOT_TRUSTED


# A row whose final pass is the platform's own check of a signed file: setup.exe's verdict must
# be the one that check gives. Windows' refuses each of these rows' files (the test signers are
# self-signed, no user answers its prompt, and an altered MSI fails its digest); Wine's accepts
# them.
PLATFORM_DECIDES = "the platform's check decides"


class VerifyCase(PrefixCase):
    def verify(self, setup, file, env=None):
        """Exit code of setup.exe /v on `file`, both in folders with blanks."""
        target = self.prefix.place(file, FILE_FOLDER, "the file " + os.path.basename(file))
        run = run_setup(self.prefix, ["/v", f'"{target}"'], folder=SETUP_FOLDER, setup=setup, extra_env=env,
                        rules=[("Usage:", "press:1")])
        self.assertEqual([], run.message_boxes())
        self.assertFalse(run.timed_out)
        return run.exit_code


class WinesOwnTrustProvider(VerifyCase):
    def test_verdicts(self):
        f = files()
        cases = [
            ("unsigned PE", f.setup_a, f.pe_unsigned, NOT_TRUSTED),
            ("unsigned MSI", f.setup_a, f.msi_unsigned, NOT_TRUSTED),
            ("PE altered after signing", f.setup_a, f.pe_altered, NOT_TRUSTED),
            ("unsigned setup, unsigned file", f.setup_unsigned, f.pe_unsigned, NOT_TRUSTED),
            ("same signer, PE", f.setup_a, f.pe_a, PLATFORM_DECIDES),
            ("same signer, MSI", f.setup_a, f.msi_a, PLATFORM_DECIDES),
            ("unsigned setup, signed file: the full prompt alone decides", f.setup_unsigned, f.msi_b,
             PLATFORM_DECIDES),
            ("dual-signed setup and MSI", f.setup_a_dual, f.msi_a_dual, PLATFORM_DECIDES),
            ("another signer, PE", f.setup_a, f.pe_b, PLATFORM_DECIDES),
            ("MSI altered after signing", f.setup_a, f.msi_altered, PLATFORM_DECIDES),
        ]
        decided = [file for _, _, file, code in cases if code is PLATFORM_DECIDES]
        places = [self.prefix.place(file, "probe\\" + str(i), os.path.basename(file)) for i, file in enumerate(decided)]
        answers = dict(zip(decided, platform_answers(self.prefix, "trust", places)))
        for name, setup, file, code in cases:
            if code is PLATFORM_DECIDES:
                code = exit_code_for(answers[file])
                name += (" (refused by the platform's check, as by Windows')" if code == NOT_TRUSTED else
                         f" (the platform's check answers {answers[file]:#x}; Windows' refuses it)")
            with self.subTest(name):
                self.assertEqual(code, self.verify(setup, file))


class WinesOwnTrustProviderNonNT(WinesOwnTrustProvider):
    """The same verdicts with the paths, the libraries and the exit code through the ANSI
    functions."""
    version = "win98"


class StandInTrustProvider(VerifyCase):
    LOG = "C:\\trust\\calls.log"

    def setUp(self):
        super().setUp()
        self.place_provider("wintrust_standin")

    def place_provider(self, variant):
        self.prefix.place(os.path.join(FIXTURES, variant, "wintrust.dll"), "windows\\system32")

    def judge(self, setup, file, **settings):
        """Exit code and the provider's calls: (ui, window, state action, which file)."""
        log = self.prefix.unix_path(self.LOG)
        os.makedirs(os.path.dirname(log), exist_ok=True)
        if os.path.exists(log):
            os.unlink(log)
        env = {"WINEDLLOVERRIDES": "wintrust=n,b", "TRUST_STANDIN_LOG": self.LOG}
        env.update({f"TRUST_STANDIN_{k.upper()}": v for k, v in settings.items()})
        code = self.verify(setup, file, env)
        calls = []
        if os.path.exists(log):
            with open(log) as f:
                for line in f:
                    fields = dict(part.split("=", 1) for part in line.rstrip("\n").split(" ", 6))
                    calls.append(fields)
        return code, calls

    def check_calls(self, calls, expected):
        self.assertEqual(expected, [(int(c["ui"]), c["window"], int(c["action"]),
                                     "setup" if c["file"].endswith("setup.exe") else "file") for c in calls])
        self.assertEqual({WINTRUST_DATA_SIZE}, {c["cb"] for c in calls})
        kept = sum(c["state"] == "kept" for c in calls)
        self.assertEqual(kept, sum(c["state"] == "freed" for c in calls), "every verification state is released")

    def test_each_verdict_and_the_level_of_the_final_pass(self):
        f = files()
        silent_setup = [(UI_NONE, "invalid", VERIFY, "setup"), (UI_NONE, "invalid", CLOSE, "setup")]
        silent_file = [(UI_NONE, "invalid", VERIFY, "file"), (UI_NONE, "invalid", CLOSE, "file")]
        no_good = [(UI_NOGOOD, "null", IGNORE, "file")]
        full_prompt = [(UI_ALL, "null", IGNORE, "file")]
        # A file without a signature gets the closing call even when no state was kept.
        refused_unsigned = full_prompt + [(UI_NONE, "invalid", CLOSE, "file")]
        compared = silent_setup + silent_file
        cases = [
            ("same signer, PE", f.setup_a, f.pe_a, {}, 0, compared + no_good),
            ("same signer, MSI", f.setup_a, f.msi_a, {}, 0, compared + no_good),
            ("same signer, MSI altered after signing", f.setup_a, f.msi_altered, {"refuse": "altered"},
             NOT_TRUSTED, compared + no_good),
            ("same signer, PE altered after signing", f.setup_a, f.pe_altered, {"refuse": "altered"},
             NOT_TRUSTED, compared + no_good),
            ("another signer, accepted at the full prompt", f.setup_a, f.msi_b, {}, 0, compared + full_prompt),
            ("another signer, refused", f.setup_a, f.pe_b, {"refuse": "the file"}, NOT_TRUSTED,
             compared + full_prompt),
            ("unsigned MSI", f.setup_a, f.msi_unsigned, {}, NOT_TRUSTED, compared + refused_unsigned),
            ("unsigned PE", f.setup_a, f.pe_unsigned, {}, NOT_TRUSTED, compared + refused_unsigned),
            ("unsigned setup: one pass with the full prompt", f.setup_unsigned, f.msi_a, {}, 0,
             silent_setup + full_prompt),
            ("unsigned setup, refused file", f.setup_unsigned, f.pe_b, {"refuse": "the file"}, NOT_TRUSTED,
             silent_setup + full_prompt),
            ("no trust provider", f.setup_a, f.msi_a, {"answer": "provider-unknown"}, UNAVAILABLE, silent_setup),
            # The first signature's signer counts; the full prompt refuses whatever reaches it.
            ("dual-signed setup and MSI", f.setup_a_dual, f.msi_a_dual, {"prompt": "refuse"}, 0, compared + no_good),
            ("dual-signed setup, SHA-256 MSI", f.setup_a_dual, f.msi_a, {"prompt": "refuse"}, 0, compared + no_good),
            ("SHA-256 setup, dual-signed MSI", f.setup_a, f.msi_a_dual, {"prompt": "refuse"}, 0, compared + no_good),
            ("another signer first, ours nested", f.setup_a, f.msi_b_nested_a, {"prompt": "refuse"}, NOT_TRUSTED,
             compared + full_prompt),
        ]
        for name, setup, file, settings, code, expected in cases:
            with self.subTest(name):
                got, calls = self.judge(setup, file, **settings)
                self.assertEqual(code, got)
                self.check_calls(calls, expected)

    def test_a_provider_lacking_a_function_is_no_provider(self):
        self.place_provider("wintrust_lacking")
        code, calls = self.judge(files().setup_a, files().msi_a)
        self.assertEqual(UNAVAILABLE, code)
        self.assertEqual([], calls, "nothing is verified with an incomplete provider")


if __name__ == "__main__":
    unittest.main()
