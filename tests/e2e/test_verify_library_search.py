"""setup.exe loads its trust libraries from the system folder only: a wintrust.dll planted
beside it is not loaded, even when Wine is told to prefer native DLLs, while a program that
keeps the ordinary search order does load it (the control that shows the plant works)."""
import os
import unittest

from harness import TRUST_E_SUBJECT_NOT_TRUSTED, PrefixCase, run_setup
from test_verify import FIXTURES, files

MARKER = "C:\\marker\\planted-wintrust-loaded"


class PlantedLibrary(PrefixCase):
    def setUp(self):
        super().setUp()
        # The plant answers "no trust provider" and leaves a marker when it is loaded.
        self.prefix.place(os.path.join(FIXTURES, "wintrust_standin", "wintrust.dll"), "Downloads")
        os.makedirs(os.path.dirname(self.prefix.unix_path(MARKER)), exist_ok=True)
        self.env = {"WINEDLLOVERRIDES": "wintrust=n,b", "TRUST_STANDIN_MARKER": MARKER,
                    "TRUST_STANDIN_ANSWER": "provider-unknown"}

    def marker_written(self):
        return os.path.exists(self.prefix.unix_path(MARKER))

    def test_setup_ignores_a_library_beside_it(self):
        f = files()
        target = self.prefix.place(f.pe_unsigned, "Users\\Public", "unsigned.exe")
        run = run_setup(self.prefix, ["/v", f'"{target}"'], setup=f.setup_a, extra_env=self.env)
        # Wine's own provider refuses the unsigned file; the plant would have said "unavailable".
        self.assertEqual(TRUST_E_SUBJECT_NOT_TRUSTED, run.exit_code)
        self.assertFalse(self.marker_written())

    def test_an_unhardened_program_loads_it(self):
        run = run_setup(self.prefix, ["wintrust.dll"], setup=os.path.join(FIXTURES, "plain_loader.exe"),
                        name="plain_loader.exe", extra_env=self.env)
        self.assertEqual(0, run.exit_code)
        self.assertTrue(self.marker_written())


if __name__ == "__main__":
    unittest.main()
