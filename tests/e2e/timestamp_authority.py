"""An RFC 3161 timestamp authority on 127.0.0.1 for the signing tests: OpenSSL's ts command
answers each request behind a small HTTP server, signing with a certificate of its own from
the test CA whose extended key usage is time stamping. On request it answers garbage, or
takes the request and never answers."""
import http.server
import os
import subprocess
import tempfile
import threading

from harness import WORK, made_once
from tls import issue_certificate

FOLDER = os.path.join(WORK, "tsa")


def _credentials():
    """The ts configuration, with the key and certificate it names, made once per run."""
    return os.path.join(made_once(FOLDER, _make_credentials), "tsa.cnf")


def _make_credentials(folder):
    key, cert = (os.path.join(folder, n) for n in ("tsa.key", "tsa.pem"))
    subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-out", key], check=True, capture_output=True)
    subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-out", key + ".pub"], check=True, capture_output=True)
    issue_certificate(key + ".pub", "/CN=Quorvel Test Timestamps",
                      ["extendedKeyUsage=critical,timeStamping", "keyUsage=critical,digitalSignature"], cert)
    # The configuration names where the files will be, once the folder is in place.
    with open(os.path.join(folder, "tsa.cnf"), "w") as f:
        f.write(f"""[ tsa ]
default_tsa = quorvel
[ quorvel ]
serial = {FOLDER}/serial
crypto_device = builtin
signer_cert = {FOLDER}/tsa.pem
signer_key = {FOLDER}/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
""")


class TimestampAuthority:
    """Use as a context manager; `url` is its address. behaviour: "answer" (a real timestamp),
    "garbage" (a reply that is no timestamp) or "silent" (never answers until stopped)."""

    def __init__(self, behaviour="answer"):
        self.behaviour = behaviour
        self.config = _credentials()
        self.requests = 0
        self.stopping = threading.Event()

    def reply(self, query):
        if self.behaviour == "garbage":
            return b"no timestamp here " * 8
        with tempfile.TemporaryDirectory() as folder:
            request, response = os.path.join(folder, "request"), os.path.join(folder, "response")
            with open(request, "wb") as f:
                f.write(query)
            subprocess.run(["openssl", "ts", "-reply", "-config", self.config, "-queryfile", request, "-out", response],
                           check=True, capture_output=True)
            with open(response, "rb") as f:
                return f.read()

    def __enter__(self):
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
                authority.requests += 1
                if authority.behaviour == "silent":
                    authority.stopping.wait(120)
                    return
                body = authority.reply(query)
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.url = f"http://127.0.0.1:{self.server.server_port}/"
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()
