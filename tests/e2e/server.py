"""The download host of the tests: HTTPS on 127.0.0.1:443, serving files by the name at the
end of the address (after "paket=" or the last slash), and misbehaving on purpose where a
route says so. Every request is appended to a log as one JSON line.

    python3 server.py ROUTES.json LOG CERT KEY READY_FILE

ROUTES maps a file name to {"file": path} or {"status": 404} or {"behaviour": ...} with one of
"reset" (connection reset halfway), "truncate" (closed after fewer bytes than announced), "slow"
(a trickle), "silent" (no answer at all), "endless", "headers-only", "oversize",
"redirect-loop", "redirect-away". The name "*" may hold {"certificate": PEM, "key": PEM}: the
host then presents that certificate instead of its own (one for another host, say). The
file is read again whenever it changes (replace it whole), so one host serves many runs."""
import http.server
import json
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse


def file_name(path):
    query = urllib.parse.urlparse(path).query
    params = urllib.parse.parse_qs(query)
    if "paket" in params:
        return params["paket"][0]
    return urllib.parse.unquote(urllib.parse.urlparse(path).path.rsplit("/", 1)[-1])


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    routes_path = ""
    log_path = ""
    lock = threading.Lock()
    _routes, _read = {}, None

    @classmethod
    def routes(cls):
        with cls.lock:
            stamp = os.stat(cls.routes_path).st_mtime_ns
            if stamp != cls._read:
                with open(cls.routes_path) as f:
                    cls._routes, cls._read = json.load(f), stamp
            return cls._routes

    def log_message(self, *args):
        pass

    def record(self, name, outcome):
        with self.lock, open(self.log_path, "a") as log:
            log.write(json.dumps({"path": self.path, "host": self.headers.get("Host", ""),
                                  "name": name, "outcome": outcome}) + "\n")

    def do_HEAD(self):
        self.do_GET(head=True)

    def do_GET(self, head=False):
        name = file_name(self.path)
        route = self.routes().get(name)
        if route is None:
            self.record(name, 404)
            self.send_error(404)
            return
        if "status" in route:
            self.record(name, route["status"])
            self.send_error(route["status"])
            return
        behaviour = route.get("behaviour", "")
        data = open(route["file"], "rb").read() if "file" in route else b"x" * 100000
        self.record(name, behaviour or 200)
        if behaviour == "silent":
            time.sleep(route.get("seconds", 3600))
            return
        if behaviour.startswith("redirect"):
            # A loop between two addresses, or a hop to a host that does not exist.
            again = "&again=1"
            if behaviour == "redirect-away":
                target = "https://elsewhere.invalid/x"
            elif self.path.endswith(again):
                target = self.path[: -len(again)]
            else:
                target = self.path + again
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        announced = len(data)
        if behaviour == "oversize":
            announced = len(data) // 2
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if behaviour != "endless":
            self.send_header("Content-Length", str(announced if behaviour != "truncate" else len(data)))
        self.end_headers()
        if head or behaviour == "headers-only":
            if behaviour == "headers-only":
                time.sleep(route.get("seconds", 3600))
            return
        try:
            if behaviour == "endless":
                while True:
                    self.wfile.write(b"\0" * 65536)
                    time.sleep(route.get("delay", 0))
            elif behaviour == "truncate":
                # Half, then the connection closed as if the whole had been sent.
                self.wfile.write(data[: len(data) // 2])
                self.wfile.flush()
                self.close_connection = True
            elif behaviour == "reset":
                # Half, and once the client has had time to read it, the connection reset: a
                # reset that overtook the data would make the client's answer a matter of timing.
                self.wfile.write(data[: len(data) // 2])
                self.wfile.flush()
                time.sleep(0.3)
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\1\0\0\0\0\0\0\0")
                self.connection.close()  # at once: no orderly end goes before the reset
                self.close_connection = True
            elif behaviour == "slow":
                step = max(1, len(data) // route.get("steps", 50))
                for at in range(0, len(data), step):
                    self.wfile.write(data[at: at + step])
                    self.wfile.flush()
                    time.sleep(route.get("delay", 0.05))
            else:
                self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass


class Server(http.server.ThreadingHTTPServer):
    """Each connection's TLS handshake happens on its own thread, with the certificate the
    routes name at the time it was accepted."""
    daemon_threads = True

    def __init__(self, cert, key):
        super().__init__(("127.0.0.1", 443), Handler)
        self.own = (cert, key)
        self.contexts = {}

    def context(self, cert, key):
        if (cert, key) not in self.contexts:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            self.contexts[cert, key] = context
        return self.contexts[cert, key]

    def get_request(self):
        connection, address = self.socket.accept()
        other = Handler.routes().get("*", {})
        context = self.context(other["certificate"], other["key"]) if "certificate" in other else self.context(*self.own)
        return context.wrap_socket(connection, server_side=True, do_handshake_on_connect=False), address

    def handle_error(self, request, address):
        # A client that refuses the certificate or drops the connection is what some routes
        # are for.
        if not isinstance(sys.exc_info()[1], (ssl.SSLError, ConnectionError, TimeoutError)):
            super().handle_error(request, address)


def main():
    routes_path, log_path, cert, key, ready = sys.argv[1:6]
    Handler.routes_path = routes_path
    Handler.routes()
    Handler.log_path = log_path
    open(log_path, "a").close()
    server = Server(cert, key)
    open(ready, "w").close()
    server.serve_forever()


if __name__ == "__main__":
    main()
