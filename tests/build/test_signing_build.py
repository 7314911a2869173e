"""Signing in the build: configured with a PFX and its password file, or with a PEM
certificate and key, the build signs signed/setup.exe and keeps setup.exe unsigned and
reproducible; tools/sign.sh signs a package with the same identity, which the signed setup.exe
accepts in its verify mode while it refuses an unsigned one."""
import filecmp
import os
import re
import shutil
import subprocess
import unittest

from harness import SETUP_EXE, TRUST_E_SUBJECT_NOT_TRUSTED, WORK, PrefixCase, run_setup
from scratch import SCRATCH, SOURCE, build, configure
from signing import Identity

FOLDER = os.path.join(SCRATCH, "signing")
SIGNED_SETUP = os.path.join(FOLDER, "signed", "setup.exe")
PACKAGE = os.path.join(os.environ.get("BUILD_DIR", ""), "packages", "Quorvel.Win32.En.msi")
SIGN = os.path.join(SOURCE, "tools", "sign.sh")


def pfx_of(identity):
    """The identity as a PFX file protected by a password kept in a file."""
    folder = os.path.dirname(identity.key)
    pfx, password = os.path.join(folder, "identity.pfx"), os.path.join(folder, "password")
    with open(password, "w") as f:
        f.write("sesame\n")
    subprocess.run(["openssl", "pkcs12", "-export", "-in", identity.cert, "-inkey", identity.key, "-out", pfx,
                    "-passout", f"file:{password}"], check=True, capture_output=True)
    return pfx, password


def signer(path, identity):
    """Serial number of the certificate that signed `path`, checked against `identity`
    (osslsigncode verify fails on an unsigned or altered file)."""
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", identity.cert, "-in", path],
                          capture_output=True, text=True)
    if done.returncode:
        raise AssertionError(f"{path} does not verify:\n{done.stdout}{done.stderr}")
    return re.search(r"Serial : (\w+)", done.stdout).group(1)


def serial(identity):
    done = subprocess.run(["openssl", "x509", "-noout", "-serial", "-in", identity.cert],
                          capture_output=True, text=True, check=True)
    return done.stdout.strip().split("=")[1]


class SigningConfiguration(unittest.TestCase):
    def test_bad_identities_fail_the_configure_step(self):
        identity = Identity("release")
        pfx, password = pfx_of(identity)
        folder = os.path.join(SCRATCH, "signing-bad")
        cases = [
            ("PFX and PEM at once", dict(SETUP_SIGN_PFX=pfx, SETUP_SIGN_CERT=identity.cert, SETUP_SIGN_KEY=identity.key),
             "either SETUP_SIGN_PFX or both SETUP_SIGN_CERT and SETUP_SIGN_KEY"),
            ("certificate without key", dict(SETUP_SIGN_CERT=identity.cert, SETUP_SIGN_KEY=""),
             "either SETUP_SIGN_PFX or both SETUP_SIGN_CERT and SETUP_SIGN_KEY"),
            ("missing password file", dict(SETUP_SIGN_PFX=pfx, SETUP_SIGN_PASSWORD_FILE=password + ".gone"),
             f"Signing: {password}.gone not found"),
        ]
        for case, cache, message in cases:
            with self.subTest(case):
                shutil.rmtree(folder, ignore_errors=True)
                done = configure(folder, **cache)
                self.assertNotEqual(0, done.returncode)
                self.assertIn(message, " ".join(done.stderr.split()))


class SignedBuild(PrefixCase):
    def verify(self, file):
        """Exit code of the build's signed setup.exe /v on `file`."""
        target = self.prefix.place(file, "Users\\Public\\Downloads")
        run = run_setup(self.prefix, ["/v", f'"{target}"'], setup=SIGNED_SETUP, folder="Program Files\\Lunaria")
        self.assertFalse(run.timed_out)
        return run.exit_code

    def sign_package(self, name):
        """The test package signed by tools/sign.sh with the identity the build folder holds."""
        out = os.path.join(WORK, "signing-build", name)
        subprocess.run(["bash", SIGN, "--build", FOLDER, "--out", out, PACKAGE], check=True, capture_output=True)
        return os.path.join(out, os.path.basename(PACKAGE))

    def test_pfx_then_pem_identity(self):
        shutil.rmtree(FOLDER, ignore_errors=True)
        maker = Identity("release")
        pfx, password = pfx_of(maker)
        self.assertEqual(0, configure(FOLDER, SETUP_SIGN_PFX=pfx, SETUP_SIGN_PASSWORD_FILE=password).returncode)
        build(FOLDER)
        self.assertEqual(serial(maker), signer(SIGNED_SETUP, maker))
        self.assertTrue(filecmp.cmp(SETUP_EXE, os.path.join(FOLDER, "setup.exe"), shallow=False),
                        "the unsigned setup.exe is the same program as any other build's")
        package = self.sign_package("pfx")
        self.assertEqual(serial(maker), signer(package, maker))
        self.assertEqual(0, self.verify(package))
        self.assertEqual(TRUST_E_SUBJECT_NOT_TRUSTED, self.verify(PACKAGE))

        # The same folder configured again with another identity, as PEM files: the build
        # signs again, and so does tools/sign.sh.
        other = Identity("release-pem")
        self.assertEqual(0, configure(FOLDER, SETUP_SIGN_PFX="", SETUP_SIGN_PASSWORD_FILE="",
                                      SETUP_SIGN_CERT=other.cert, SETUP_SIGN_KEY=other.key).returncode)
        build(FOLDER)
        self.assertEqual(serial(other), signer(SIGNED_SETUP, other))
        package = self.sign_package("pem")
        self.assertEqual(serial(other), signer(package, other))
        self.assertEqual(0, self.verify(package))


if __name__ == "__main__":
    unittest.main()
