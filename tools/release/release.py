"""The release set: setup.exe and every package and patch that the build's product file names,
signed with the build's identity by tools/sign.sh and checked the way setup.exe will meet them
on users' machines, with SHA256SUMS and release.json. The set is made in a folder beside DIST
and takes DIST's place only when every check holds.

    python3 release.py BUILD DIR DIST
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass

import installer_file

SIGN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sign.sh")
SYSTEM_ROOTS = "/etc/ssl/certs/ca-certificates.crt"
# The program reads a ProductVersion into 16 characters: a longer one never matches.
VERSION_CAPACITY = 16
# Each platform slot, the table fields the program takes for it (the package first), and the
# platforms of the summary information's Template that Windows Installer runs there.
PLATFORMS = (("9x", "package9x", "patch9x", ("intel",)),
             ("x86", "packageX86", "patchX86", ("intel",)),
             ("x64", "packageX64", "patchX64", ("x64", "amd64")),
             ("ARM64", "packageArm64", "patchArm64", ("arm64",)))
# What users meet when a file is shipped with the fault.
ON_USERS = {
    "missing": "the download finds nothing: \"Setup was unable to find the MSI package or patch\"",
    "broken": "Windows Installer cannot open it after the download",
    "version": "the copy beside setup.exe (offline media) is not taken: downloaded instead, or without a network"
               " \"Setup was unable to find the MSI package or patch\"",
    "platform": "Windows Installer refuses it after the download (1633, platform not supported)",
    "language": "the installer may speak another language than the one chosen",
    "foreign": "setup.exe does not take it for its own: \"not trusted\", or the platform's full trust prompt",
    "unsigned": "setup.exe refuses the download: \"Installation failed. ... is not trusted.\"",
    "expiry": "\"not trusted\" once the signing certificate has expired",
}


@dataclass
class Slot:
    """One file the program asks for: a product's language on one platform."""
    product: dict
    lang_id: int
    language: str
    platform: str
    file: str
    kind: str
    fits: tuple

    def label(self):
        return f"{self.product['productName']}, 0x{self.lang_id:04X} {self.language}, {self.platform}"

    def address(self):
        base = self.product.get("downloadBase")
        return base + self.file if base else None


@dataclass
class Problem:
    file: str
    label: str
    what: str
    on_users: str
    fault: bool = True

    def __str__(self):
        return (f"{'FAULT' if self.fault else 'warning'} {self.file} ({self.label}): {self.what}\n"
                f"    on users' machines: {self.on_users}")


def read_cache(build):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        lines = [line.rstrip("\n") for line in f if not line.startswith(("#", "//"))]
    return {line.split(":", 1)[0]: line.split("=", 1)[1] for line in lines if ":" in line and "=" in line}


def slots(tables):
    for product in tables["products"]:
        for language in product["languages"]:
            lang_id = language["langId"]
            lang_id = int(lang_id, 16) if isinstance(lang_id, str) else lang_id
            for platform, package, patch, fits in PLATFORMS:
                name, kind = language.get(package), "package"
                if not name:
                    name, kind = language.get(patch), "patch"
                if name:
                    yield Slot(product, lang_id, language["displayName"], platform, name, kind, fits)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()


class ReleaseSet:
    def __init__(self, build, packages, work):
        self.build, self.packages, self.work = build, packages, work
        cache = read_cache(build)
        with open(cache["SETUP_PRODUCT_FILE"], encoding="utf-8") as f:
            self.tables = json.load(f)
        self.timestamped = bool(cache.get("SETUP_SIGN_TIMESTAMP_URL"))
        self.setup = os.path.join(build, "signed", "setup.exe")
        self.out = os.path.join(work, "dist")
        os.mkdir(self.out)
        self.problems, self.redist = [], []
        self.signer = self.setup_signer()

    def setup_signer(self):
        """setup.exe's own signature, and the certificates it carries as the trust for the
        others' verification (beside the system's roots)."""
        found, _ = installer_file.signatures(self.setup)
        if not found:
            sys.exit(f"release: {self.setup} is not signed")
        pkcs7, self.trust = os.path.join(self.work, "setup.p7"), os.path.join(self.work, "trust.pem")
        subprocess.run(["osslsigncode", "extract-signature", "-pem", "-in", self.setup, "-out", pkcs7],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs7", "-print_certs", "-in", pkcs7, "-out", self.trust],
                       check=True, capture_output=True)
        with open(self.trust, "a") as out, open(SYSTEM_ROOTS) as roots:
            out.write(roots.read())
        return found[0]

    def fault(self, where, what, on_users, fault=True):
        """A problem of the files named by `where`: slots, or (file, label) pairs."""
        for place in where:
            file, label = (place.file, place.label()) if isinstance(place, Slot) else place
            self.problems.append(Problem(file, label, what, ON_USERS[on_users], fault))

    def faults(self):
        return sum(p.fault for p in self.problems)

    def check_arrival(self, slot, path):
        """Faults of a file as it arrives; true when it is worth signing."""
        before = self.faults()
        if not os.path.isfile(path):
            self.fault([slot], f"missing: no such file in {self.packages}", "missing")
            return False
        found = installer_file.kind(path)
        if found != slot.kind:
            self.fault([slot], f"is a Windows Installer {found}, not a {slot.kind}" if found else
                       f"is not a Windows Installer {slot.kind}", "broken")
            return False
        info = installer_file.summary(path)
        table = installer_file.properties(path) if slot.kind == "package" else {}
        if info is None or table is None:
            self.fault([slot], "does not open with msitools (summary information or Property table)", "broken")
            return False
        if slot.kind == "package":
            self.check_package(slot, info, table)
        arrived, _ = installer_file.signatures(path)
        if arrived and arrived[0].signer() != self.signer.signer():
            self.fault([slot], f"arrives signed by another identity ({arrived[0].subject}, serial {arrived[0].serial}),"
                       f" not setup.exe's ({self.signer.subject}): not signed again", "foreign")
        return before == self.faults()

    def check_package(self, slot, info, table):
        wanted, version = slot.product.get("productVersion"), table.get("ProductVersion")
        # The program's comparison: English (United States) text, case ignored.
        if wanted and not (version and len(version) < VERSION_CAPACITY and version.lower() == wanted.lower()):
            found = f"ProductVersion \"{version}\"" if version else "no ProductVersion"
            self.fault([slot], f"{found} is not the table's \"{wanted}\"", "version")
        platforms = [p.strip() for p in info["Template"].split(";")[0].split(",")]
        if not all(p.lower() in slot.fits for p in platforms):
            self.fault([slot], f"platform \"{','.join(platforms)}\" (summary Template) does not fit the {slot.platform}"
                       " slot", "platform")
        language = table.get("ProductLanguage", "")
        if not (language.isdigit() and int(language) == slot.lang_id):
            self.fault([slot], f"ProductLanguage {language or 'missing'} is not the slot's 0x{slot.lang_id:04X}"
                       " (right for a language-neutral package)", "language", fault=False)

    def check_signed(self, slots, path):
        found, verified = installer_file.signatures(path, self.trust)
        if not found or found[0].signer() != self.signer.signer():
            self.fault(slots, "its first signature's signer is not setup.exe's", "foreign")
        elif not verified:
            self.fault(slots, "its signature does not verify", "unsigned")
        if self.timestamped and not all(s.timestamped for s in found):
            self.fault(slots, "carries no time stamp, though the build has a time-stamp server", "expiry")

    def make(self):
        self.check_signed([("setup.exe", f"signed by the build, {self.setup}")], self.setup)
        all_slots = list(slots(self.tables))
        worth = {}
        for slot in all_slots:
            fine = self.check_arrival(slot, os.path.join(self.packages, slot.file))
            worth[slot.file] = worth.get(slot.file, True) and fine
        for name in (n for n, fine in worth.items() if fine):
            named = [s for s in all_slots if s.file == name]
            done = subprocess.run(["bash", SIGN, "--build", self.build, "--out", self.out,
                                   os.path.join(self.packages, name)], capture_output=True, text=True)
            if done.returncode:
                reason = done.stderr.strip().splitlines() or ["tools/sign.sh failed"]
                self.fault(named, f"not signed: {reason[0]}", "unsigned")
            else:
                self.check_signed(named, os.path.join(self.out, name))
        if not self.faults():
            shutil.copy(self.setup, os.path.join(self.out, "setup.exe"))
            self.write_lists(all_slots)

    def write_lists(self, all_slots):
        def described(name):
            path = os.path.join(self.out, name)
            return {"file": name, "size": os.path.getsize(path), "sha256": sha256(path)}

        files = []
        for slot in all_slots:
            entry = {**described(slot.file), "kind": slot.kind, "product": slot.product["productName"],
                     "language": {"id": f"0x{slot.lang_id:04X}", "name": slot.language}, "platform": slot.platform,
                     "address": slot.address()}
            if slot.kind == "package":
                table = installer_file.properties(os.path.join(self.out, slot.file))
                entry.update(productVersion=table.get("ProductVersion"), productCode=table.get("ProductCode"))
            files.append(entry)
        settings = self.tables["settings"]
        # Microsoft's redistributable is not ours to sign: only where it is fetched from.
        redist = [{"file": settings[field], "platform": platform,
                   "address": settings["redistBaseUrl"] + settings[field]}
                  for field, platform in (("redistFile9x", "9x"), ("redistFileNT", "x86")) if settings.get(field)]
        setup = {**described("setup.exe"), "signer": {"subject": self.signer.subject, "issuer": self.signer.issuer,
                                                      "serial": self.signer.serial}}
        with open(os.path.join(self.out, "release.json"), "w", encoding="utf-8") as f:
            json.dump({"setup": setup, "files": files, "redistributables": redist}, f, indent=2, ensure_ascii=False)
        names = sorted({"setup.exe", *(e["file"] for e in files)})
        with open(os.path.join(self.out, "SHA256SUMS"), "w", encoding="utf-8") as f:
            f.writelines(f"{sha256(os.path.join(self.out, n))}  {n}\n" for n in names)
        self.redist = redist


def main(build, packages, dist):
    dist = os.path.abspath(dist)
    work = tempfile.mkdtemp(prefix=f".{os.path.basename(dist)}.", dir=os.path.dirname(dist))
    try:
        release = ReleaseSet(build, packages, work)
        release.make()
        for problem in release.problems:
            print(problem)
        faults = release.faults()
        if faults:
            print(f"release: {faults} faults, {len(release.problems) - faults} warnings; nothing written to {dist}")
            return 1
        if os.path.exists(dist):
            os.rename(dist, os.path.join(work, "earlier"))
        os.rename(release.out, dist)
        print(f"release: {dist} is ready; upload the files as its release.json lists them")
        for entry in release.redist:
            print(f"    not ours, not signed, fetched from {entry['address']}")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
