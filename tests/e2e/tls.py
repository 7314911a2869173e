"""A test certificate authority and the HTTPS certificate of the download hosts, made with
openssl once per run and kept under the work folder."""
import os
import subprocess

from harness import WORK, made_once

HOSTS = ("prenos.quorvel.example", "msi.quorvel.example")
# What every certificate the test CA issues carries besides its own extensions.
LEAF = "basicConstraints=CA:FALSE\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid,issuer\n"


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


def server_credentials():
    """Returns (ca_cert, server_cert, server_key) paths, making them on first use."""
    folder = made_once(os.path.join(WORK, "tls"), _make_credentials)
    return tuple(os.path.join(folder, n) for n in ("ca.pem", "server.pem", "server.key"))


def _make_credentials(folder):
    # Shaped as RFC 5280 wants, which strict verifiers insist on (Python 3.13's default).
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
             "-days", "30", "-subj", "/CN=Quorvel Test Root", "-addext", "keyUsage=critical,keyCertSign,cRLSign",
             cwd=folder)
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("subjectAltName=" + ",".join("DNS:" + h for h in HOSTS) + "\n"
                "extendedKeyUsage=serverAuth\n" + LEAF)
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
             "-subj", "/CN=" + HOSTS[0], cwd=folder)
    _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
             "-CAcreateserial", "-out", "server.pem", "-days", "30", "-extfile", "server.ext", cwd=folder)


def certificate_for_another_host():
    """{"certificate", "key"} paths of an HTTPS certificate from the test CA for a host other than
    the download hosts: what a host that is not the one asked for presents."""
    def make(folder):
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", os.path.join(folder, "key.pem"), "-out",
                 os.path.join(folder, "request.csr"), "-subj", "/CN=elsewhere.quorvel.example", cwd=folder)
        ca, _, _ = server_credentials()
        with open(os.path.join(folder, "cert.ext"), "w") as f:
            f.write("subjectAltName=DNS:elsewhere.quorvel.example\nextendedKeyUsage=serverAuth\n" + LEAF)
        _openssl("x509", "-req", "-in", "request.csr", "-CA", ca, "-CAkey", os.path.join(os.path.dirname(ca), "ca.key"),
                 "-set_serial", str(int.from_bytes(os.urandom(8), "big")), "-out", "cert.pem", "-days", "30",
                 "-extfile", "cert.ext", cwd=folder)
    folder = made_once(os.path.join(WORK, "tls-elsewhere"), make)
    return {"certificate": os.path.join(folder, "cert.pem"), "key": os.path.join(folder, "key.pem")}


def issue_certificate(public_key, subject, extensions, dest):
    """A certificate from the test CA for a public key (PEM) whose private key this side
    never sees, with the given extension lines; written to dest (PEM)."""
    ca = server_credentials()[0]
    folder = os.path.dirname(ca)
    ext = dest + ".ext"
    with open(ext, "w") as f:
        f.write("\n".join(extensions) + "\n" + LEAF)
    _openssl("x509", "-new", "-force_pubkey", public_key, "-subj", subject, "-CA", ca, "-CAkey", "ca.key",
             "-set_serial", str(int.from_bytes(os.urandom(8), "big")), "-days", "30", "-extfile", ext, "-out", dest,
             cwd=folder)
    return dest
