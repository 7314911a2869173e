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


def sign(source, identity, dest):
    """Writes a signed copy of `source` to `dest` and returns `dest`."""
    if os.path.exists(dest):
        os.unlink(dest)
    subprocess.run(["osslsigncode", "sign", "-certs", identity.cert, "-key", identity.key, "-h", "sha256",
                    "-in", source, "-out", dest], check=True, capture_output=True)
    return dest


def signed_copy(source, identity, folder, name=None):
    """A signed copy of `source` in `folder` (made once per identity and file)."""
    os.makedirs(folder, exist_ok=True)
    dest = os.path.join(folder, name or os.path.basename(source))
    if not os.path.exists(dest) or os.path.getmtime(dest) < os.path.getmtime(source):
        sign(source, identity, dest + ".tmp")
        shutil.move(dest + ".tmp", dest)
    return dest
