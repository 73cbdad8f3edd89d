#!/usr/bin/env python3
"""Stand-in update server: serves /client/ver.ini and /client/setup.exe.

    update_server.py start --dir DIR --port PORT [--tls-dir CERTS]
                                                   detach, serve DIR/client/*, return once listening
    update_server.py stop --dir DIR                stop the server started on DIR
    update_server.py serve --dir DIR --port PORT [--tls-dir CERTS]
                                                   serve in the foreground

Listens on 127.0.0.1 only. With --tls-dir it also serves the same over TLS on
a port of the system's choosing, written to DIR/tls_port, with the
certificate CERTS/server.crt (key CERTS/server.key). Behaviour is switched
through DIR/control, a file of
"key=value" lines that tests rewrite; the server applies it within about 50 ms
and then writes the control's "gen" value to DIR/applied, so a test knows the
switch has taken effect. Keys (all optional):

    gen=N             any token, echoed to DIR/applied once applied
    down=1            close the listening socket (connections are refused)
    no_length=1       send bodies without Content-Length
    missing=a,b       answer 404 for these names (ver.ini, setup.exe)
    slow_ms=N         pause N ms before each chunk of the body
    chunk=N           body chunk size in bytes (default 65536)
    cut=N             announce the full length, send N bytes, then close
    setup_file=NAME   serve DIR/client/NAME as /client/setup.exe
    hang=a,b          for these names read the request, then send nothing at all
    stall_after=N     send the head and N bytes of the body, then nothing more
    oversize=N        serve N bytes of filler as /client/setup.exe
    trickle=a,b       for these names send the body one byte every 250 ms (never stalls)
    tls_cert=untrusted  TLS uses CERTS/untrusted.crt (same key), from a root nobody trusts

A connection held open by hang or stall_after ends when the client closes it.

Every request is appended to DIR/requests.log as "<path> <status>", and a body
the client stopped taking before its end as "<path> aborted". The server
stops by itself after --lifetime seconds (default 3600).
"""
import argparse
import os
import select
import signal
import socket
import ssl
import sys
import threading
import time

NAMES = ("ver.ini", "setup.exe")


def read_control(path):
    settings = {}
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                key, sep, value = line.strip().partition("=")
                if sep:
                    settings[key.strip()] = value.strip()
    except OSError:
        pass
    return settings


def as_int(settings, key, default=0):
    try:
        return max(0, int(settings.get(key, default)))
    except ValueError:
        return default


class Server:
    def __init__(self, root, port, lifetime, tls_dir=None):
        self.root = root
        self.port = port
        self.deadline = time.monotonic() + lifetime
        self.settings = {}
        self.control_stamp = None
        self.listener = None
        self.tls_dir = tls_dir
        self.tls_listener = None
        self.log_lock = threading.Lock()

    def log(self, text):
        with self.log_lock:
            with open(os.path.join(self.root, "requests.log"), "a", encoding="utf-8") as f:
                f.write(text + "\n")

    def open_listener(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("127.0.0.1", self.port))
        s.listen(16)
        self.listener = s

    def close_listener(self):
        if self.listener is not None:
            self.listener.close()
            self.listener = None

    def open_tls_listener(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.bind(("127.0.0.1", 0))
        s.listen(16)
        self.tls_listener = s
        tmp = os.path.join(self.root, "tls_port.tmp")
        with open(tmp, "w", encoding="utf-8") as f:
            f.write(str(s.getsockname()[1]))
        os.replace(tmp, os.path.join(self.root, "tls_port"))

    def tls_context(self, settings):
        name = "untrusted.crt" if settings.get("tls_cert") == "untrusted" else "server.crt"
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(self.tls_dir, name),
                                os.path.join(self.tls_dir, "server.key"))
        return context

    def apply_control(self):
        path = os.path.join(self.root, "control")
        try:
            st = os.stat(path)
            stamp = (st.st_mtime_ns, st.st_size, st.st_ino)
        except OSError:
            stamp = None
        if stamp == self.control_stamp and (self.listener is not None or self.settings.get("down") == "1"):
            return
        self.control_stamp = stamp
        self.settings = read_control(path)
        if self.settings.get("down") == "1":
            self.close_listener()
        elif self.listener is None:
            self.open_listener()
        tmp = os.path.join(self.root, "applied.tmp")
        with open(tmp, "w", encoding="utf-8") as f:
            f.write(self.settings.get("gen", ""))
        os.replace(tmp, os.path.join(self.root, "applied"))

    def run(self):
        if self.tls_dir:
            self.open_tls_listener()
        self.apply_control()
        while time.monotonic() < self.deadline:
            self.apply_control()
            listeners = [l for l in (self.listener, self.tls_listener) if l is not None]
            if not listeners:
                time.sleep(0.05)
                continue
            ready, _, _ = select.select(listeners, [], [], 0.05)
            for listener in ready:
                try:
                    conn, _ = listener.accept()
                except OSError:
                    continue
                settings = dict(self.settings)
                tls = listener is self.tls_listener
                threading.Thread(target=self.handle, args=(conn, settings, tls), daemon=True).start()
        self.close_listener()

    def hold(self, conn):
        """Keeps the connection open, sending nothing, until the client closes it."""
        while time.monotonic() < self.deadline:
            ready, _, _ = select.select([conn], [], [], 0.5)
            if ready:
                try:
                    if not conn.recv(4096):
                        return
                except (OSError, ssl.SSLError):
                    return

    def filler(self, size, chunk):
        block = b"\0" * chunk
        for start in range(0, size, chunk):
            yield block[:min(chunk, size - start)]

    def handle(self, conn, settings, tls=False):
        conn.settimeout(30)
        try:
            if tls:
                try:
                    conn = self.tls_context(settings).wrap_socket(conn, server_side=True)
                except (OSError, ssl.SSLError):
                    self.log("tls handshake failed")
                    return
            request = b""
            while b"\r\n\r\n" not in request and len(request) < 65536:
                data = conn.recv(4096)
                if not data:
                    return
                request += data
            parts = request.split(b"\r\n", 1)[0].decode("latin-1").split()
            path = parts[1] if len(parts) >= 2 else ""
            name = path[len("/client/"):] if path.startswith("/client/") else None
            names = lambda key: [n.strip() for n in settings.get(key, "").split(",") if n.strip()]
            if name in names("hang"):
                self.log(f"{path} hang")
                self.hold(conn)
                return
            chunk = as_int(settings, "chunk", 65536) or 65536
            body = None
            size = 0
            if name in NAMES and name not in names("missing"):
                if name == "setup.exe" and "oversize" in settings:
                    size = as_int(settings, "oversize")
                    body = self.filler(size, chunk)
                else:
                    try:
                        served = name
                        if name == "setup.exe" and settings.get("setup_file"):
                            served = os.path.basename(settings["setup_file"])
                        with open(os.path.join(self.root, "client", served), "rb") as f:
                            data = f.read()
                        size = len(data)
                        body = (data[i:i + chunk] for i in range(0, len(data), chunk))
                    except OSError:
                        body = None
            if body is None:
                self.log(f"{path} 404")
                page = b"<html><body><h1>404 Not Found</h1></body></html>"
                conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n"
                             b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(page) + page)
                return
            self.log(f"{path} 200")
            head = b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n"
            if settings.get("no_length") != "1":
                head += b"Content-Length: %d\r\n" % size
            conn.sendall(head + b"\r\n")
            limit = as_int(settings, "cut", size) if "cut" in settings else size
            stall = as_int(settings, "stall_after", -1) if "stall_after" in settings else None
            if stall is not None:
                limit = min(limit, stall)
            slow = as_int(settings, "slow_ms") / 1000.0
            if name in names("trickle"):
                slow = 0.25
                body = (bytes([b]) for piece in body for b in piece)
            sent = 0
            for piece in body:
                if sent >= limit:
                    break
                piece = piece[:limit - sent]
                if slow:
                    time.sleep(slow)
                try:
                    conn.sendall(piece)
                except (OSError, ssl.SSLError):
                    self.log(f"{path} aborted")
                    raise
                sent += len(piece)
            if stall is not None:
                self.hold(conn)
        except (OSError, ssl.SSLError):
            pass
        finally:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except (OSError, ssl.SSLError):
                pass
            conn.close()


def pid_file(root):
    return os.path.join(root, "server.pid")


def start(args):
    os.makedirs(os.path.join(args.dir, "client"), exist_ok=True)
    stop(args)
    for name in ("applied", "requests.log", "tls_port"):
        try:
            os.remove(os.path.join(args.dir, name))
        except OSError:
            pass
    with open(os.path.join(args.dir, "control"), "w", encoding="utf-8") as f:
        f.write("gen=start\n")
    pid = os.fork()
    if pid == 0:
        # Detach fully: CTest waits for every holder of its output pipe.
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        log = os.open(os.path.join(args.dir, "server.log"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.dup2(devnull, 0)
        os.dup2(log, 1)
        os.dup2(log, 2)
        try:
            Server(args.dir, args.port, args.lifetime, args.tls_dir).run()
        finally:
            os._exit(0)
    with open(pid_file(args.dir), "w") as f:
        f.write(str(pid))
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            with open(os.path.join(args.dir, "applied"), encoding="utf-8") as f:
                if f.read() == "start":
                    print(f"update server on 127.0.0.1:{args.port}, pid {pid}")
                    return 0
        except OSError:
            pass
        if os.waitpid(pid, os.WNOHANG) != (0, 0):
            break
        time.sleep(0.05)
    print("update server did not start; see server.log", file=sys.stderr)
    return 1


def stop(args):
    try:
        with open(pid_file(args.dir)) as f:
            pid = int(f.read().strip())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            os.kill(pid, 0)
            time.sleep(0.05)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        os.remove(pid_file(args.dir))
    except OSError:
        pass
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("action", choices=("start", "stop", "serve"))
    parser.add_argument("--dir", required=True)
    parser.add_argument("--port", type=int, default=18080)
    parser.add_argument("--lifetime", type=int, default=3600)
    parser.add_argument("--tls-dir", help="server.crt, server.key and untrusted.crt for TLS")
    args = parser.parse_args()
    args.dir = os.path.abspath(args.dir)
    if args.action == "start":
        return start(args)
    if args.action == "stop":
        return stop(args)
    os.makedirs(os.path.join(args.dir, "client"), exist_ok=True)
    Server(args.dir, args.port, args.lifetime, args.tls_dir).run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
