"""The trust policy run in a second copy of setup.exe, as a running setup checks a downloaded
file: both paths hold blanks and are quoted, the first copy holds the single-instance mutex,
and the second copy's exit code comes back unchanged."""
import os
import unittest

from harness import (GLOBAL_MUTEX, TRUST_E_PROVIDER_UNKNOWN, TRUST_E_SUBJECT_NOT_TRUSTED, PrefixCase, run_setup)
from test_verify import FIXTURES, files


class VerifyInSeparateProcess(PrefixCase):
    def run_child(self, setup, file, env=None):
        setup_path = self.prefix.place(setup, "Program Files\\Quorvel Setup", "setup.exe") if setup else \
            "C:\\Program Files\\Missing Setup\\setup.exe"
        file_path = self.prefix.place(file, "Users\\Public\\My Downloads", "redist file.exe")
        # The runner stands for the first copy: it holds the mutex while the second one runs.
        run = run_setup(self.prefix, [f'"{setup_path}"', f'"{file_path}"'], folder="tools",
                        setup=os.path.join(FIXTURES, "verify_runner.exe"), name="verify_runner.exe",
                        hold_mutex=GLOBAL_MUTEX, extra_env=env, rules=[("Usage:", "press:1")])
        self.assertEqual([], run.message_boxes(), "the second copy must get its arguments whole")
        return run.exit_code

    def test_exit_codes_of_the_second_copy(self):
        f = files()
        standin = {"WINEDLLOVERRIDES": "wintrust=n,b", "TRUST_STANDIN_ANSWER": "provider-unknown"}
        cases = [
            ("same signer", f.setup_a, f.pe_a, None, 0),
            ("unsigned file", f.setup_a, f.pe_unsigned, None, TRUST_E_SUBJECT_NOT_TRUSTED),
            ("no trust provider", f.setup_a, f.pe_a, standin, TRUST_E_PROVIDER_UNKNOWN),
            ("setup program missing: the start's error", None, f.pe_a, None, 2),
        ]
        self.prefix.place(os.path.join(FIXTURES, "wintrust_standin", "wintrust.dll"), "windows\\system32")
        for name, setup, file, env, code in cases:
            with self.subTest(name):
                self.assertEqual(code, self.run_child(setup, file, env))


if __name__ == "__main__":
    unittest.main()
