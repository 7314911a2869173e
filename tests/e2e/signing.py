"""Code-signing identities made with openssl at test time, and Authenticode signatures made
with osslsigncode, for PE files and MSI packages alike."""
import os
import shutil
import subprocess

from harness import WORK


class Identity:
    """A self-made code-signing certificate and its key."""

    def __init__(self, name):
        self.name = name
        folder = os.path.join(WORK, "identities", name)
        self.cert = os.path.join(folder, "cert.pem")
        self.key = os.path.join(folder, "key.pem")
        if not os.path.exists(self.key):
            os.makedirs(folder, exist_ok=True)
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key + ".tmp",
                            "-out", self.cert, "-days", "30", "-subj", f"/CN=Quorvel test signer {name}",
                            "-addext", "extendedKeyUsage=codeSigning", "-addext", "keyUsage=digitalSignature"],
                           check=True, capture_output=True)
            os.rename(self.key + ".tmp", self.key)


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
        sign(source, identity, dest + ".tmp", nested)
        shutil.move(dest + ".tmp", dest)
    return dest
