"""Code-signing identities made at test time (key and certificate files made with openssl, or
a key on a SoftHSM2 token), and Authenticode signatures made with osslsigncode, for PE files
and MSI packages alike."""
import os
import shutil
import subprocess
import tempfile

from harness import WORK, made_once
from tls import issue_certificate

SOFTHSM_MODULE = "/usr/lib/softhsm/libsofthsm2.so"


class Identity:
    """A self-made code-signing certificate and its key."""

    def __init__(self, name):
        self.name = name
        folder = made_once(os.path.join(WORK, "identities", name), lambda folder: subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", os.path.join(folder, "key.pem"),
             "-out", os.path.join(folder, "cert.pem"), "-days", "30", "-subj", f"/CN=Quorvel test signer {name}",
             "-addext", "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature"],
            check=True, capture_output=True))
        self.cert = os.path.join(folder, "cert.pem")
        self.key = os.path.join(folder, "key.pem")


class Token:
    """A SoftHSM2 token initialised in `folder`, with an RSA key generated on it (it never
    exists in a file) and, stored beside it on the token, its certificate from the test CA.
    The module finds its tokens through SOFTHSM2_CONF: `env` holds it for every process that
    loads the module."""

    def __init__(self, folder, label="quorvel", pin="2468"):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(os.path.join(folder, "tokens"))
        conf = os.path.join(folder, "softhsm2.conf")
        with open(conf, "w") as f:
            f.write(f"directories.tokendir = {folder}/tokens\nobjectstore.backend = file\nlog.level = ERROR\n")
        self.env = {"SOFTHSM2_CONF": conf}
        self.pin_file = os.path.join(folder, "pin")
        with open(self.pin_file, "w") as f:
            f.write(pin + "\n")
        self.key = f"pkcs11:token={label};object=release;type=private"
        self.cert_uri = f"pkcs11:token={label};object=release;type=cert"
        self.cert = os.path.join(folder, "cert.pem")
        self.util(["softhsm2-util", "--init-token", "--free", "--label", label, "--pin", pin, "--so-pin", "13579"])
        tool = ["pkcs11-tool", "--module", SOFTHSM_MODULE, "--token-label", label]
        self.util([*tool, "--login", "--pin", pin, "--keypairgen", "--key-type", "rsa:2048", "--label", "release",
                   "--id", "01"])
        public = os.path.join(folder, "public")
        self.util([*tool, "--read-object", "--type", "pubkey", "--label", "release", "-o", public + ".der"])
        self.util(["openssl", "pkey", "-pubin", "-inform", "DER", "-in", public + ".der", "-out", public + ".pem"])
        issue_certificate(public + ".pem", "/CN=Quorvel test signer on a token",
                          ["extendedKeyUsage=codeSigning", "keyUsage=digitalSignature"], self.cert)
        self.util(["openssl", "x509", "-in", self.cert, "-outform", "DER", "-out", self.cert + ".der"])
        self.util([*tool, "--login", "--pin", pin, "--write-object", self.cert + ".der", "--type", "cert",
                   "--label", "release", "--id", "01"])

    def util(self, args):
        subprocess.run(args, env={**os.environ, **self.env}, check=True, capture_output=True)


def sign(source, identity, dest, nested=None):
    """Writes a signed copy of `source` to `dest` and returns `dest`: a SHA-256 signature, or
    with `nested` (an identity) a SHA-1 one with a nested SHA-256 signature of `nested`."""
    if os.path.exists(dest):
        os.unlink(dest)
    steps = [(identity, "sha256", [])] if nested is None else [(identity, "sha1", []), (nested, "sha256", ["-nest"])]
    for signer, digest, options in steps:
        subprocess.run(["osslsigncode", "sign", *options, "-certs", signer.cert, "-key", signer.key, "-h", digest,
                        "-in", source, "-out", dest + ".step"], check=True, capture_output=True)
        os.replace(dest + ".step", dest)
        source = dest
    return dest


def signed_copy(source, identity, folder, name=None, nested=None):
    """A signed copy of `source` in `folder` (made once per identity and file); see sign()."""
    os.makedirs(folder, exist_ok=True)
    dest = os.path.join(folder, name or os.path.basename(source))
    if not os.path.exists(dest) or os.path.getmtime(dest) < os.path.getmtime(source):
        # A name of its own: a test beside this one may be signing the same copy.
        fd, scratch = tempfile.mkstemp(prefix=".signing-", dir=folder)
        os.close(fd)
        os.replace(sign(source, identity, scratch, nested), dest)
    return dest
