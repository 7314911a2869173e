"""What a release needs to know of a Windows Installer file: whether it is a package or a
patch, its summary information and Property table (msitools), and its Authenticode
signatures (osslsigncode)."""
import re
import subprocess
from dataclasses import dataclass

COMPOUND_FILE = bytes.fromhex("d0cf11e0a1b11ae1")
# The class of the root storage tells a package from a patch (and from a transform).
KINDS = {bytes.fromhex("84100c0000000000c000000000000046"): "package",
         bytes.fromhex("86100c0000000000c000000000000046"): "patch"}


def kind(path):
    """"package", "patch" or None (no Windows Installer file)."""
    with open(path, "rb") as f:
        header = f.read(512)
        if len(header) < 512 or header[:8] != COMPOUND_FILE:
            return None
        shift = int.from_bytes(header[0x1E:0x20], "little")
        if shift not in (9, 12):
            return None
        f.seek((int.from_bytes(header[0x30:0x34], "little") + 1) << shift)
        root = f.read(128)
    return KINDS.get(root[0x50:0x60])


def summary(path):
    """The summary information as a dict of msiinfo's names ("Template", ...); None when
    msitools cannot open the file."""
    done = subprocess.run(["msiinfo", "suminfo", path], capture_output=True, text=True)
    fields = dict(line.split(": ", 1) for line in done.stdout.splitlines() if ": " in line)
    return fields if done.returncode == 0 and "Template" in fields else None


def properties(path):
    """The Property table as a dict; None when it cannot be read."""
    done = subprocess.run(["msiinfo", "export", path, "Property"], capture_output=True, text=True)
    if done.returncode:
        return None
    # Behind the column names, their types and the table's name come the rows.
    rows = done.stdout.splitlines()[3:]
    return dict(row.split("\t", 1) for row in rows if "\t" in row)


# How osslsigncode verify says that a signature carries a time stamp: 2.9 (Debian 13, and 12's
# backports) and 2.5 (Debian 12) put it in other words.
TIMESTAMPED = re.compile(r"^\s*(Timestamp time:|The signature is timestamped:)", re.M)


@dataclass
class Signature:
    subject: str
    issuer: str
    serial: str
    timestamped: bool

    def signer(self):
        # The platform takes two certificates for the same when issuer and serial number agree.
        return self.issuer, self.serial.upper()


def signatures(path, trust=None):
    """(every signature, the primary first; whether all verify against the certificates in
    `trust`). No signatures and False for an unsigned file."""
    done = subprocess.run(["osslsigncode", "verify", "-in", path, *(["-CAfile", trust] if trust else [])],
                          capture_output=True, text=True)
    found = []
    for block in done.stdout.split("Signature Index: ")[1:]:
        signer = re.search(r"Signer's certificate:.*?Signer #0:\s*Subject: (.*?)\n\s*Issuer : (.*?)\n\s*Serial : (\w+)",
                           block, re.S)
        if signer:
            found.append(Signature(*signer.groups(), bool(TIMESTAMPED.search(block))))
    return found, done.returncode == 0 and bool(found)
