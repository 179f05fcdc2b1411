#!/usr/bin/env python3
"""Local update server for the install tests and the demonstration.

Serves the files under --root on 127.0.0.1 only. The tests steer it through
files they write into the root (through Wine's Z: drive):

  <root><url-path>          the body served for that path (absent: 404)
  <root><url-path>.mode     optional, one line: how to serve it
      404 | 500             that status with a small error page
      nolength              the body without Content-Length
      slow <bytes> <ms>     the body in pieces of <bytes>, <ms> apart
      stall <bytes>         Content-Length of the whole body, <bytes> of it, then silence
      short <bytes>         Content-Length of the whole body, <bytes> of it, then close
      redirect <path>       302 to <path> on this server
  <root>/_offline           while present, the port is closed (connection refused)
  <root>/_requests.log      the server appends "<path> <status>" per request

  update_server.py start --port N --root DIR --pidfile F [--lifetime S]
  update_server.py stop --pidfile F
  update_server.py serve ...  (the server itself, in the foreground)
  update_server.py stage --root DIR --fixture SETUP.exe [--package main|sp]
                   [--version TEXT] [--result TEXT] [--install FILE ...] [--mode MODE]
                   [--delay MS]
      puts a package on the server: its version file and the setup fixture
      (tests/install/SetupFixture.cpp) with a script that installs that
      version file and the given files (Unix paths, each optionally with
      "=<name>" to install it under another name) into the install dir;
      --mode is how the setup program is served (for example "slow 8192 100")

The server stops by itself after --lifetime seconds, and a stalled response
ends after at most 120 seconds or when the server stops.
"""
import argparse
import http.server
import os
import signal
import socket
import subprocess
import sys
import threading
import time

STALL_LIMIT = 120.0
stopping = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."

    def log_message(self, fmt, *args):
        pass

    def note(self, status):
        try:
            with open(os.path.join(self.root, "_requests.log"), "a") as log:
                log.write("%s %s\n" % (self.path.split("?")[0], status))
        except OSError:
            pass

    def do_GET(self):
        path = self.path.split("?")[0]
        local = os.path.normpath(os.path.join(self.root, path.lstrip("/")))
        if not local.startswith(os.path.abspath(self.root)) or os.path.basename(local).startswith("_"):
            return self.error(404)
        mode = []
        try:
            with open(local + ".mode") as f:
                mode = f.read().split()
        except OSError:
            pass
        if mode and mode[0] in ("404", "500"):
            return self.error(int(mode[0]))
        if mode and mode[0] == "redirect":
            self.note(302)
            self.send_response(302)
            self.send_header("Location", mode[1])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        try:
            with open(local, "rb") as f:
                body = f.read()
        except OSError:
            return self.error(404)

        kind = mode[0] if mode else "plain"
        self.note(200)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Cache-Control", "no-cache")
        if kind == "nolength":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()

        if kind == "slow":
            piece, pause = int(mode[1]), int(mode[2]) / 1000.0
            for at in range(0, len(body), piece):
                if stopping.is_set():
                    break
                self.wfile.write(body[at:at + piece])
                self.wfile.flush()
                time.sleep(pause)
        elif kind == "stall":
            self.wfile.write(body[:int(mode[1])])
            self.wfile.flush()
            stopping.wait(STALL_LIMIT)
            self.close_connection = True
        elif kind == "short":
            self.wfile.write(body[:int(mode[1])])
            self.wfile.flush()
            self.close_connection = True
        else:
            self.wfile.write(body)

    def error(self, status):
        page = b"<html><body>error %d</body></html>" % status
        self.note(status)
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)


class Server(http.server.ThreadingHTTPServer):
    allow_reuse_address = True
    daemon_threads = True


def serve(args):
    Handler.root = os.path.abspath(args.root)
    os.makedirs(Handler.root, exist_ok=True)
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    deadline = time.monotonic() + args.lifetime
    offline_flag = os.path.join(Handler.root, "_offline")
    server = None
    with open(args.pidfile + ".tmp", "w") as f:
        f.write(str(os.getpid()))
    os.replace(args.pidfile + ".tmp", args.pidfile)
    try:
        while not stopping.is_set() and time.monotonic() < deadline:
            offline = os.path.exists(offline_flag)
            if offline and server:
                server.shutdown()
                server.server_close()
                server = None
            elif not offline and not server:
                try:
                    server = Server(("127.0.0.1", args.port), Handler)
                except OSError as e:
                    print("cannot listen yet: %s" % e, flush=True)
                    time.sleep(0.5)
                    continue
                threading.Thread(target=server.serve_forever, args=(0.05,), daemon=True).start()
            time.sleep(0.05)
    finally:
        stopping.set()
        if server:
            server.shutdown()
            server.server_close()
        try:
            if open(args.pidfile).read().strip() == str(os.getpid()):
                os.remove(args.pidfile)
        except OSError:
            pass


def stop(args):
    try:
        pid = int(open(args.pidfile).read().strip())
    except (OSError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    for _ in range(100):
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            break
        time.sleep(0.05)
    try:
        os.remove(args.pidfile)
    except OSError:
        pass
    return 0


def start(args):
    stop(args)
    log = open(args.pidfile + ".log", "w")
    subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", "--port", str(args.port),
                      "--root", args.root, "--pidfile", args.pidfile, "--lifetime", str(args.lifetime)],
                     stdin=subprocess.DEVNULL, stdout=log, stderr=log, close_fds=True, start_new_session=True)
    for _ in range(200):
        try:
            with socket.create_connection(("127.0.0.1", args.port), timeout=0.5):
                pass
            if os.path.exists(args.pidfile):
                print("update server on 127.0.0.1:%d, root %s" % (args.port, args.root))
                return 0
        except OSError:
            pass
        time.sleep(0.05)
    print("update server did not start; see %s.log" % args.pidfile, file=sys.stderr)
    return 1


SCRIPT_MARKER = b"\n@@tavrine-setup-script@@\n"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def stage(args):
    main_package = args.package == "main"
    version_name, setup_name = ("ver.ini", "setup.exe") if main_package else ("spver.ini", "TavrineSSUp.exe")
    folder = os.path.join(args.root, "vude")
    os.makedirs(folder, exist_ok=True)
    version = args.version.encode("cp949")
    with open(os.path.join(folder, version_name), "wb") as f:
        f.write(version)
    script = "mode=normal\nversion=%s\nresult=%s\ndelay=%d\n" % (version.hex(), args.result.encode().hex(),
                                                                 args.delay)
    for item in args.install or []:
        source, _, name = item.partition("=")
        script += "install=%s%s\n" % (windows_path(source), "|" + name if name else "")
    with open(args.fixture, "rb") as f:
        body = f.read() + SCRIPT_MARKER + script.encode("cp949")
    target = os.path.join(folder, setup_name)
    with open(target, "wb") as f:
        f.write(body)
    if args.mode:
        with open(target + ".mode", "w") as f:
            f.write(args.mode)
    elif os.path.exists(target + ".mode"):
        os.remove(target + ".mode")
    print("staged %s package: %s, %s (%d bytes)" % (args.package, version_name, setup_name, len(body)))
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=("start", "stop", "serve", "stage"))
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--root", default=".")
    parser.add_argument("--pidfile")
    parser.add_argument("--lifetime", type=float, default=1800)
    parser.add_argument("--fixture")
    parser.add_argument("--package", choices=("main", "sp"), default="main")
    parser.add_argument("--version", default="[Version]\r\nver=1\r\n")
    parser.add_argument("--result", default="1")
    parser.add_argument("--install", nargs="*")
    parser.add_argument("--mode", default="")
    parser.add_argument("--delay", type=int, default=0, help="ms the setup program waits before its result")
    args = parser.parse_args()
    if args.command == "stage":
        if not args.fixture:
            parser.error("stage needs --fixture")
        return stage(args)
    if not args.pidfile:
        parser.error("%s needs --pidfile" % args.command)
    if args.command == "serve":
        serve(args)
        return 0
    return start(args) if args.command == "start" else stop(args)


if __name__ == "__main__":
    sys.exit(main())
