"""The download host against a release folder: every address in the folder's release.json
fetched over HTTPS the way setup.exe asks for it, and what comes back compared byte for byte
with the folder's copy. The redistributable is not in the folder: its address must answer.

    python3 release_host.py DIST TIMEOUT
"""
import hashlib
import http.client
import json
import os
import ssl
import sys
import time
import urllib.parse

# setup.exe appends the file name unescaped; an HTTP request line carries no blanks.
SAFE = "/?&=:;,+$@!*'()~%#[]"
REDIRECTS = 5
REDIST_LIMIT = 64 << 20


class Unfetched(Exception):
    pass


def get(address, limit, timeout):
    """The body at `address`, at most limit + 1 bytes; raises Unfetched with the reason. The
    whole fetch, redirects included, ends within about `timeout` seconds."""
    deadline = time.monotonic() + timeout
    origin = urllib.parse.urlsplit(address)
    context = ssl.create_default_context()
    for _ in range(REDIRECTS + 1):
        url = urllib.parse.urlsplit(address)
        if (url.scheme, url.netloc) != (origin.scheme, origin.netloc):
            raise Unfetched(f"redirected to another host: {address}")
        target = urllib.parse.quote(url.path or "/", safe=SAFE) + (
            "?" + urllib.parse.quote(url.query, safe=SAFE) if url.query else "")
        connection = http.client.HTTPSConnection(url.hostname, url.port or 443, timeout=timeout, context=context)
        try:
            connection.request("GET", target)
            response = connection.getresponse()
            if response.status in (301, 302, 303, 307, 308):
                address = urllib.parse.urljoin(address, response.getheader("Location", ""))
                continue
            if response.status != 200:
                raise Unfetched(f"HTTP {response.status} {response.reason}")
            body = bytearray()
            while len(body) <= limit:
                if time.monotonic() > deadline:
                    raise Unfetched(f"not whole within {timeout:g} s")
                chunk = response.read1(65536)
                if not chunk:
                    break
                body += chunk
            return bytes(body)
        except TimeoutError:
            raise Unfetched(f"no answer within {timeout:g} s") from None
        except (OSError, http.client.HTTPException) as error:
            raise Unfetched(f"cannot be fetched: {error}") from None
        finally:
            connection.close()
    raise Unfetched(f"more than {REDIRECTS} redirects")


def compare(entry, dist, timeout):
    """The fault of one file's address, or None."""
    with open(os.path.join(dist, entry["file"]), "rb") as f:
        ours = f.read()
    served = get(entry["address"], len(ours), timeout)
    if len(served) != len(ours):
        more = "more than " if len(served) > len(ours) else ""
        return f"serves {more}{len(served)} bytes, {entry['file']} in {dist} has {len(ours)}"
    if served != ours:
        return (f"serves other bytes (SHA-256 {hashlib.sha256(served).hexdigest()}) than {entry['file']} in {dist}"
                f" ({hashlib.sha256(ours).hexdigest()})")
    return None


def main(dist, timeout):
    timeout = float(timeout)
    with open(os.path.join(dist, "release.json"), encoding="utf-8") as f:
        listed = json.load(f)
    checks = {e["address"]: e for e in listed["files"] if e["address"]}
    checks.update({e["address"]: None for e in listed["redistributables"]})
    faults = 0
    for address, entry in checks.items():
        try:
            if entry:
                problem = compare(entry, dist, timeout)
            else:
                problem = None if get(address, REDIST_LIMIT, timeout) else "serves an empty file"
        except Unfetched as error:
            problem = str(error)
        faults += problem is not None
        print(f"FAULT {address}: {problem}" if problem else f"ok {address}")
    print(f"check-host: {faults} of {len(checks)} addresses at fault" if faults else
          f"check-host: all {len(checks)} addresses serve what {dist} holds")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
