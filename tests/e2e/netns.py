"""Runs a command in the private network and mount namespaces that `unshare -m -n` made:
loopback up, the download host names mapped to 127.0.0.1 by a bind-mounted hosts file, the
test CA added to a bind-mounted copy of the system CA bundle (which Wine's crypt32 reads),
and the test HTTPS server listening. Nothing here reaches any other address.

    unshare -m -n python3 netns.py ROUTES.json SERVER_LOG CA CERT KEY -- COMMAND..."""
import os
import subprocess
import sys
import tempfile
import time

HOSTS = ("prenos.quorvel.example", "msi.quorvel.example")
BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


def bind(content, target):
    handle, path = tempfile.mkstemp(prefix="netns-")
    with os.fdopen(handle, "w") as f:
        f.write(content)
    subprocess.run(["mount", "--bind", path, target], check=True)


def main():
    split = sys.argv.index("--")
    routes, log, ca, cert, key = sys.argv[1:split]
    command = sys.argv[split + 1:]
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    with open("/etc/hosts") as f:
        hosts = f.read()
    bind(hosts + "".join(f"127.0.0.1 {h}\n" for h in HOSTS), "/etc/hosts")
    with open(BUNDLE) as f, open(ca) as extra:
        bind(f.read() + "\n" + extra.read(), BUNDLE)
    ready = tempfile.mktemp(prefix="server-ready-")
    here = os.path.dirname(os.path.abspath(__file__))
    server = subprocess.Popen([sys.executable, os.path.join(here, "server.py"), routes, log, cert, key, ready])
    deadline = time.time() + 20
    while not os.path.exists(ready):
        if time.time() > deadline or server.poll() is not None:
            sys.exit("the test HTTPS server did not start")
        time.sleep(0.05)
    try:
        code = subprocess.run(command).returncode
        # The wineserver that this run started lives in these namespaces: end it with them.
        subprocess.run(["wineserver", "-k"], capture_output=True)
        subprocess.run(["wineserver", "-w"], capture_output=True)
        sys.exit(code)
    finally:
        server.kill()


if __name__ == "__main__":
    main()
