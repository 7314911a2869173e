"""Signing in the build: configured with a PFX and its password file, with a PEM certificate
and key, or with a key generated on a SoftHSM2 token (its certificate from the test CA, the
PIN in a file), timestamped by a local RFC 3161 authority and dual-signed on request, the
build signs signed/setup.exe and keeps setup.exe unsigned and reproducible; tools/sign.sh
signs a package with the same identity, which the signed setup.exe accepts in its verify
mode while it refuses an unsigned one and one of another signer. A wrong PIN, a missing
object on the token and a timestamp server that answers garbage or nothing fail the signing
step and leave nothing under the signed file's name."""
import filecmp
import os
import re
import shutil
import subprocess
import unittest

from harness import SETUP_EXE, TRUST_E_SUBJECT_NOT_TRUSTED, WORK, PrefixCase, run_setup
from scratch import SCRATCH, SOURCE, build, configure
from signing import SOFTHSM_MODULE, Identity, Token, sign
from timestamp_authority import TimestampAuthority
from tls import server_credentials

FOLDER = os.path.join(SCRATCH, "signing")
SIGNED_SETUP = os.path.join(FOLDER, "signed", "setup.exe")
BUILD_DIR = os.environ.get("BUILD_DIR", "")
PACKAGE = os.path.join(BUILD_DIR, "packages", "Quorvel.Win32.En.msi")
STANDIN = os.path.join(BUILD_DIR, "fixtures", "wintrust_standin", "wintrust.dll")
SIGN = os.path.join(SOURCE, "tools", "sign.sh")
ONE_IDENTITY = ("Signing needs one identity: SETUP_SIGN_PFX; or SETUP_SIGN_CERT and SETUP_SIGN_KEY; or "
                "SETUP_SIGN_PKCS11_MODULE and SETUP_SIGN_PKCS11_KEY with SETUP_SIGN_PKCS11_CERT or SETUP_SIGN_CERT")
NO_TOKEN = dict(SETUP_SIGN_PKCS11_MODULE="", SETUP_SIGN_PKCS11_KEY="", SETUP_SIGN_PKCS11_CERT="")


def pfx_of(identity):
    """The identity as a PFX file protected by a password kept in a file."""
    folder = os.path.dirname(identity.key)
    pfx, password = os.path.join(folder, "identity.pfx"), os.path.join(folder, "password")
    with open(password, "w") as f:
        f.write("sesame\n")
    subprocess.run(["openssl", "pkcs12", "-export", "-in", identity.cert, "-inkey", identity.key, "-out", pfx,
                    "-passout", f"file:{password}"], check=True, capture_output=True)
    return pfx, password


def signatures(path, ca):
    """(file digest, signer's serial number, timestamped) of each signature of `path`, the
    primary first, as osslsigncode verify finds them against `ca` (which also issued the
    timestamp authority's certificate); fails on an unsigned or altered file."""
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca, "-in", path],
                          capture_output=True, text=True)
    if done.returncode:
        raise AssertionError(f"{path} does not verify:\n{done.stdout}{done.stderr}")
    return [(re.search(r"Message digest algorithm\s+: (\w+)", block).group(1),
             re.search(r"Signer's certificate:.*?Serial : (\w+)", block, re.S).group(1),
             "Timestamp Server Signature verification: ok" in block)
            for block in done.stdout.split("Signature Index: ")[1:]]


def serial(cert):
    done = subprocess.run(["openssl", "x509", "-noout", "-serial", "-in", cert],
                          capture_output=True, text=True, check=True)
    return done.stdout.strip().split("=")[1]


class SigningConfiguration(unittest.TestCase):
    def test_bad_identities_fail_the_configure_step(self):
        identity = Identity("release")
        pfx, password = pfx_of(identity)
        uri = "pkcs11:token=quorvel;object=release"
        folder = os.path.join(SCRATCH, "signing-bad")
        cases = [
            ("PFX and PEM at once", dict(SETUP_SIGN_PFX=pfx, SETUP_SIGN_CERT=identity.cert, SETUP_SIGN_KEY=identity.key),
             ONE_IDENTITY),
            ("certificate without key", dict(SETUP_SIGN_CERT=identity.cert, SETUP_SIGN_KEY=""), ONE_IDENTITY),
            ("key on a token without its module", dict(SETUP_SIGN_PKCS11_KEY=uri, SETUP_SIGN_PKCS11_CERT=uri),
             ONE_IDENTITY),
            ("key on a token and in a file", dict(SETUP_SIGN_PKCS11_MODULE=SOFTHSM_MODULE, SETUP_SIGN_PKCS11_KEY=uri,
                                                  SETUP_SIGN_CERT=identity.cert, SETUP_SIGN_KEY=identity.key),
             ONE_IDENTITY),
            ("missing password file", dict(SETUP_SIGN_PFX=pfx, SETUP_SIGN_PASSWORD_FILE=password + ".gone"),
             f"Signing: {password}.gone not found"),
            ("missing PKCS#11 module", dict(SETUP_SIGN_PKCS11_MODULE="/nowhere/libtoken.so", SETUP_SIGN_PKCS11_KEY=uri,
                                            SETUP_SIGN_PKCS11_CERT=uri),
             "Signing: /nowhere/libtoken.so not found"),
        ]
        for case, cache, message in cases:
            with self.subTest(case):
                shutil.rmtree(folder, ignore_errors=True)
                done = configure(folder, **cache)
                self.assertNotEqual(0, done.returncode)
                self.assertIn(message, " ".join(done.stderr.split()))


class SignedBuild(PrefixCase):
    def verify(self, file, judge="wine"):
        """Exit code of the build's signed setup.exe /v on `file`. judge "wine": Wine's own
        trust provider, which accepts any signed file; "policy": the stand-in provider, which
        refuses whatever reaches the full trust prompt, so that the verdict shows whether
        setup.exe took the file's signer for its own."""
        target = self.prefix.place(file, "Users\\Public\\Downloads")
        env = None
        if judge == "policy":
            self.prefix.place(STANDIN, "windows\\system32")
            env = {"WINEDLLOVERRIDES": "wintrust=n,b", "TRUST_STANDIN_PROMPT": "refuse"}
        run = run_setup(self.prefix, ["/v", f'"{target}"'], setup=SIGNED_SETUP, folder="Program Files\\Lunaria",
                        extra_env=env)
        self.assertFalse(run.timed_out)
        return run.exit_code

    def sign_package(self, name):
        """The test package signed by tools/sign.sh with the identity the build folder holds."""
        out = os.path.join(WORK, "signing-build", name)
        subprocess.run(["bash", SIGN, "--build", FOLDER, "--out", out, PACKAGE], check=True, capture_output=True)
        return os.path.join(out, os.path.basename(PACKAGE))

    def test_pfx_pem_then_token_identity(self):
        shutil.rmtree(FOLDER, ignore_errors=True)
        maker = Identity("release")
        pfx, password = pfx_of(maker)
        self.assertEqual(0, configure(FOLDER, SETUP_SIGN_PFX=pfx, SETUP_SIGN_PASSWORD_FILE=password).returncode)
        build(FOLDER)
        self.assertEqual([("SHA256", serial(maker.cert), False)], signatures(SIGNED_SETUP, maker.cert))
        self.assertTrue(filecmp.cmp(SETUP_EXE, os.path.join(FOLDER, "setup.exe"), shallow=False),
                        "the unsigned setup.exe is the same program as any other build's")
        package = self.sign_package("pfx")
        self.assertEqual(serial(maker.cert), signatures(package, maker.cert)[0][1])
        self.assertEqual(0, self.verify(package))
        self.assertEqual(TRUST_E_SUBJECT_NOT_TRUSTED, self.verify(PACKAGE))

        # The same folder configured again with another identity, as PEM files: the build
        # signs again, and so does tools/sign.sh.
        other = Identity("release-pem")
        self.assertEqual(0, configure(FOLDER, SETUP_SIGN_PFX="", SETUP_SIGN_PASSWORD_FILE="",
                                      SETUP_SIGN_CERT=other.cert, SETUP_SIGN_KEY=other.key).returncode)
        build(FOLDER)
        self.assertEqual(serial(other.cert), signatures(SIGNED_SETUP, other.cert)[0][1])
        package = self.sign_package("pem")
        self.assertEqual(serial(other.cert), signatures(package, other.cert)[0][1])
        self.assertEqual(0, self.verify(package))

        # Then a key on a token, timestamped; then dual-signed as well. The token's module
        # finds the token through the environment of the build and of tools/sign.sh.
        token = Token(os.path.join(SCRATCH, "token"))
        os.environ.update(token.env)
        ca = server_credentials()[0]
        foreign = sign(PACKAGE, maker, os.path.join(WORK, "signing-build", "foreign.msi"))
        token_identity = dict(SETUP_SIGN_CERT="", SETUP_SIGN_KEY="", SETUP_SIGN_PKCS11_MODULE=SOFTHSM_MODULE,
                              SETUP_SIGN_PKCS11_KEY=token.key, SETUP_SIGN_PKCS11_CERT=token.cert_uri,
                              SETUP_SIGN_PASSWORD_FILE=token.pin_file)
        with TimestampAuthority() as tsa:
            for dual, digests in (("OFF", ["SHA256"]), ("ON", ["SHA1", "SHA256"])):
                with self.subTest(dual=dual):
                    self.assertEqual(0, configure(FOLDER, **token_identity, SETUP_SIGN_TIMESTAMP_URL=tsa.url,
                                                  SETUP_SIGN_DUAL=dual).returncode)
                    build(FOLDER)
                    expected = [(digest, serial(token.cert), True) for digest in digests]
                    self.assertEqual(expected, signatures(SIGNED_SETUP, ca))
                    package = self.sign_package("token-" + dual)
                    self.assertEqual(expected, signatures(package, ca))
                    self.assertEqual(0, self.verify(package))
                    self.assertEqual(0, self.verify(package, "policy"))
                    self.assertEqual(TRUST_E_SUBJECT_NOT_TRUSTED, self.verify(foreign, "policy"))
        # The dual-signed setup.exe and a package signed SHA-256 only with the same token,
        # named on the command line this time.
        out = os.path.join(WORK, "signing-build", "token-sha256")
        subprocess.run(["bash", SIGN, "--pkcs11-module", SOFTHSM_MODULE, "--pkcs11-key", token.key, "--pkcs11-cert",
                        token.cert_uri, "--password-file", token.pin_file, "--out", out, PACKAGE], check=True,
                       capture_output=True)
        package = os.path.join(out, os.path.basename(PACKAGE))
        self.assertEqual([("SHA256", serial(token.cert), False)], signatures(package, ca))
        self.assertEqual(0, self.verify(package, "policy"))

        # Each failure stops the build, names what is wrong and takes away the signed copy of
        # an earlier build.
        wrong_pin = os.path.join(SCRATCH, "token", "wrong-pin")
        with open(wrong_pin, "w") as f:
            f.write("1111\n")
        failures = [
            ("wrong PIN", dict(SETUP_SIGN_PASSWORD_FILE=wrong_pin), "answer", "PIN incorrect"),
            ("no such key", dict(SETUP_SIGN_PKCS11_KEY="pkcs11:token=quorvel;object=gone;type=private"), "answer",
             "The private key was not found at: pkcs11:token=quorvel;object=gone;type=private"),
            ("no such certificate", dict(SETUP_SIGN_PKCS11_CERT="pkcs11:token=quorvel;object=gone;type=cert"), "answer",
             "The certificate was not found at: pkcs11:token=quorvel;object=gone;type=cert"),
            ("timestamp server answering garbage", {}, "garbage", "RFC 3161 timestamping failed"),
        ]
        good_copy = shutil.copy(SIGNED_SETUP, os.path.join(WORK, "signing-build", "earlier-setup.exe"))
        for case, change, behaviour, message in failures:
            with self.subTest(case), TimestampAuthority(behaviour) as tsa:
                shutil.copy(good_copy, SIGNED_SETUP)
                cache = {**token_identity, "SETUP_SIGN_TIMESTAMP_URL": tsa.url, **change}
                self.assertEqual(0, configure(FOLDER, **cache).returncode)
                done = build(FOLDER, check=False)
                self.assertNotEqual(0, done.returncode)
                self.assertIn(message, done.stdout + done.stderr)
                self.assertIn(f"not signed, nothing written to {SIGNED_SETUP}", done.stdout + done.stderr)
                self.assertFalse(os.path.exists(SIGNED_SETUP))
                self.assertEqual([], os.listdir(os.path.dirname(SIGNED_SETUP)))

        # A timestamp server that takes the request and never answers, for a package signed in
        # place: the step ends at its time limit and the package stays as it was.
        package = shutil.copy(PACKAGE, os.path.join(WORK, "signing-build", "in-place.msi"))
        with TimestampAuthority("silent") as tsa:
            done = subprocess.run(["bash", SIGN, "--build", FOLDER, "--timestamp", tsa.url, "--timeout", "3", package],
                                  capture_output=True, text=True)
            self.assertEqual(1, tsa.requests)
        self.assertEqual(1, done.returncode)
        self.assertIn(f"no answer within 3 s (timestamp server {tsa.url})", done.stderr)
        self.assertIn(f"{package} not signed, left as it was", done.stderr)
        self.assertTrue(filecmp.cmp(PACKAGE, package, shallow=False))
        self.assertEqual(["in-place.msi"], [n for n in os.listdir(os.path.dirname(package)) if n.startswith("in-place")])


if __name__ == "__main__":
    unittest.main()
