#!/usr/bin/env python3
"""A stand-in for the two Nimbrel services Faultpost talks to, on loopback:
the dump upload service (server-time GET and dump POST) and the crash
statistics service (statistics POST).

It records every request exactly as it came (request line, headers, body
bytes) and checks it with its own code, not Faultpost's: it recomputes the
sign from the posted archive, the time it served and the query fields,
unpacks the archive with Python's gzip and tar readers, and deciphers the
statistics body with RC4 under the stored key.

It can be told to misbehave per scheme and exchange: any status code, close
without a status line, reset in the middle of the body, answer late, send a
malformed status line or a huge body, or a time reply of any text. A port
that is simply not served refuses connections. TLS uses a self-signed
certificate made on the spot with the openssl command.

Use it from Python (NimbrelService) or from the command line:
    nimbrel_service.py --http-port 8080 [--https-port 8443] [--time N]
                       [--behave SCHEME:EXCHANGE=MODE[,key=value]...] [--log FILE]
"""

import argparse
import gzip
import hashlib
import io
import json
import os
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tarfile
import tempfile
import threading
import time

STATISTICS_KEY = b"3C9A5E0B71D4F8266E0AB3C59D17F24E"
BOUNDARY = b"----MULTI-PARTS-FORM-DATA-BOUNDARY"
CLOSING = b"\r\n" + BOUNDARY + b"--\r\n"
TIME_PATH = "/rest/2.0/cumulo/dumptimestamp"
DUMP_PATH = "/rest/2.0/cumulo/dump"


def part_header(name, filename):
    return (BOUNDARY + b"\r\nContent-Disposition: form-data; name=\"" + name + b"\"; filename=\"" + filename +
            b"\"\r\nContent-Type: application/octet-stream\r\n\r\n")


DUMP_PART = part_header(b"file", b"filename")
STATISTICS_PART = part_header(b"userfile", b"file")


def rc4(key, data):
    state = list(range(256))
    j = 0
    for i in range(256):
        j = (j + state[i] + key[i % len(key)]) & 0xFF
        state[i], state[j] = state[j], state[i]
    out = bytearray(len(data))
    i = j = 0
    for n, byte in enumerate(data):
        i = (i + 1) & 0xFF
        j = (j + state[i]) & 0xFF
        state[i], state[j] = state[j], state[i]
        out[n] = byte ^ state[(state[i] + state[j]) & 0xFF]
    return bytes(out)


def md5_hex(data):
    return hashlib.md5(data).hexdigest()


def expected_sign(archive, time_text, device_id, device_type, cookie=""):
    text = "%s^%s^%s" % (md5_hex(archive[:512]), device_id, device_type) + "^" + time_text
    if cookie:
        text = cookie + "^" + text
    return md5_hex(text.encode("utf-8"))


def query_fields(query):
    """The query's fields in order, as raw text (Faultpost does not escape)."""
    fields = []
    for piece in query.split("&"):
        if piece:
            name, _, value = piece.partition("=")
            fields.append((name, value))
    return fields


def unpack_multipart(body, part):
    """The part's content when the body is exactly header + content + closing."""
    if body.startswith(part) and body.endswith(CLOSING) and len(body) >= len(part) + len(CLOSING):
        return body[len(part):len(body) - len(CLOSING)]
    return None


def read_archive(data):
    """Members of a gzip-compressed tar as (name, size, mtime, bytes), or an error text."""
    try:
        raw = gzip.decompress(data)
        with tarfile.open(fileobj=io.BytesIO(raw), mode="r:") as tar:
            members = []
            for info in tar.getmembers():
                content = tar.extractfile(info).read() if info.isfile() else b""
                members.append({"name": info.name, "size": info.size, "mtime": info.mtime, "mode": info.mode,
                                "type": info.type.decode("latin-1"), "magic": raw[257:265].hex(), "data": content})
            return members, len(raw)
    except Exception as error:  # noqa: BLE001 - the record says what went wrong
        return "unreadable archive: %r" % error, None


def make_certificate(directory):
    cert = os.path.join(directory, "service-cert.pem")
    key = os.path.join(directory, "service-key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=nimbrel-test-service"],
                   check=True, capture_output=True, timeout=60)
    return cert, key


class Record(dict):
    """One request: exchange, scheme, port, request_line, method, target,
    path, query, fields, headers, head (raw bytes), body (raw bytes), and the
    service's own findings: served_time, part, sign_expected, sign_ok,
    archive, statistics_text, complete."""

    def field(self, name):
        for key, value in self.get("fields", []):
            if key == name:
                return value
        return None

    def header(self, name):
        for key, value in self.get("headers", []):
            if key.lower() == name.lower():
                return value
        return None


class _Handler(socketserver.BaseRequestHandler):
    def handle(self):
        self.server.service._serve(self.request, self.server.scheme, self.server.server_address[1])


class _Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, address, service, scheme):
        self.service = service
        self.scheme = scheme
        super().__init__(address, _Handler)


class NimbrelService:
    def __init__(self, http_port=0, https_port=None, served_time=1700000000, cert_dir=None, host="127.0.0.1"):
        self.served_time = served_time
        self.records = []
        self.events = []          # connections that never made a request (TLS failures, resets)
        self.behaviour = {}       # (scheme, exchange) or ("*", exchange) -> dict
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._servers = []
        self._threads = []
        self._tls = None
        self.http_port = self._listen(host, http_port, "http") if http_port is not None else None
        self.https_port = None
        if https_port is not None:
            self._cert_dir = cert_dir or tempfile.mkdtemp(prefix="nimbrel-cert-")
            cert, key = make_certificate(self._cert_dir)
            self._tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._tls.load_cert_chain(cert, key)
            self.https_port = self._listen(host, https_port, "https")

    def _listen(self, host, port, scheme):
        server = _Server((host, port), self, scheme)
        thread = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        thread.start()
        self._servers.append(server)
        self._threads.append(thread)
        return server.server_address[1]

    def close(self):
        self._stop.set()
        for server in self._servers:
            server.shutdown()
            server.server_close()
        for thread in self._threads:
            thread.join(5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- telling it what to do --------------------------------------------
    def behave(self, exchange, mode="ok", scheme="*", **options):
        """exchange: "time", "dump", "statistics" or "*". Modes:
        ok (status= code, default 200; body= for the time reply),
        close (read the request, then close without a status line),
        reset (read half of the body, then reset the connection),
        delay (seconds=, then answer as ok),
        silent (read the request, then hold the connection seconds= long),
        malformed (a reply line that is no status line),
        huge (status 200 and size= bytes of body, default 8 MiB)."""
        options["mode"] = mode
        with self._lock:
            self.behaviour[(scheme, exchange)] = options

    def _behaviour(self, scheme, exchange):
        with self._lock:
            for key in ((scheme, exchange), ("*", exchange), (scheme, "*"), ("*", "*")):
                if key in self.behaviour:
                    return dict(self.behaviour[key])
        return {"mode": "ok"}

    # --- looking at what came in -------------------------------------------
    def requests(self, exchange=None, scheme=None):
        with self._lock:
            return [r for r in self.records
                    if (exchange is None or r["exchange"] == exchange) and (scheme is None or r["scheme"] == scheme)]

    def wait_for(self, count, exchange=None, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if len(self.requests(exchange)) >= count:
                return self.requests(exchange)
            time.sleep(0.05)
        return self.requests(exchange)

    # --- serving ------------------------------------------------------------
    def _serve(self, connection, scheme, port):
        connection.settimeout(30)
        if scheme == "https":
            try:
                connection = self._tls.wrap_socket(connection, server_side=True)
            except (ssl.SSLError, OSError) as error:
                with self._lock:
                    self.events.append({"scheme": scheme, "port": port, "event": "tls handshake failed",
                                        "detail": str(error), "time": time.time()})
                return
        try:
            head = b""
            while b"\r\n\r\n" not in head:
                chunk = connection.recv(65536)
                if not chunk:
                    with self._lock:
                        self.events.append({"scheme": scheme, "port": port, "event": "closed before a request",
                                            "head": head, "time": time.time()})
                    return
                head += chunk
                if len(head) > 1 << 20:
                    return
            head, _, body = head.partition(b"\r\n\r\n")
            lines = head.split(b"\r\n")
            request_line = lines[0].decode("latin-1")
            headers = []
            for line in lines[1:]:
                name, _, value = line.decode("latin-1").partition(":")
                headers.append((name.strip(), value.strip()))
            record = Record(scheme=scheme, port=port, request_line=request_line, headers=headers,
                            head=head + b"\r\n\r\n", time=time.time())
            parts = request_line.split(" ")
            record["method"] = parts[0]
            record["target"] = parts[1] if len(parts) > 1 else ""
            record["version"] = parts[2] if len(parts) > 2 else ""
            path, _, query = record["target"].partition("?")
            record.update(path=path, query=query, fields=query_fields(query))
            record["exchange"] = ("time" if path == TIME_PATH else "dump" if path == DUMP_PATH
                                  else "statistics" if record["method"] == "POST" else "other")
            behaviour = self._behaviour(scheme, record["exchange"])
            length = int(record.header("Content-Length") or 0)
            if behaviour["mode"] == "reset":
                wanted = length // 2
                while len(body) < wanted:
                    chunk = connection.recv(min(65536, wanted - len(body)))
                    if not chunk:
                        break
                    body += chunk
                record.update(body=body, complete=False)
                self._add(record)
                connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                connection.close()
                return
            while len(body) < length:
                chunk = connection.recv(min(1 << 20, length - len(body)))
                if not chunk:
                    break
                body += chunk
            record.update(body=body, complete=len(body) == length)
            self._check(record)
            self._add(record)
            self._answer(connection, record, behaviour)
        except (OSError, ssl.SSLError) as error:
            with self._lock:
                self.events.append({"scheme": scheme, "port": port, "event": "connection error",
                                    "detail": str(error), "time": time.time()})
        finally:
            try:
                connection.close()
            except OSError:
                pass

    def _add(self, record):
        with self._lock:
            self.records.append(record)

    def _check(self, record):
        body = record["body"]
        if record["exchange"] == "dump":
            archive = unpack_multipart(body, DUMP_PART)
            record["part"] = archive
            if archive is not None:
                with self._lock:
                    served = [r.get("served_time") for r in self.records
                              if r["exchange"] == "time" and r.get("served_time") is not None]
                time_text = record.field("time") or ""
                record["sign_expected"] = expected_sign(archive, time_text, record.field("device_id") or "",
                                                        record.field("device_type") or "")
                record["sign_ok"] = record["sign_expected"] == record.field("sign")
                record["time_was_served"] = bool(served) and time_text == str(served[-1])
                record["archive"], record["archive_tar_size"] = read_archive(archive)
        elif record["exchange"] == "statistics":
            content = unpack_multipart(body, STATISTICS_PART)
            record["part"] = content
            if content is not None:
                plain = rc4(STATISTICS_KEY, content)
                record["statistics_bytes"] = plain
                record["statistics_text"] = plain.decode("utf-8", errors="replace")

    def _answer(self, connection, record, behaviour):
        mode = behaviour["mode"]
        if mode == "close":
            return
        if mode == "silent":
            self._stop.wait(float(behaviour.get("seconds", 20)))
            return
        if mode == "delay":
            self._stop.wait(float(behaviour.get("seconds", 7)))
        if mode == "malformed":
            connection.sendall(b"NIMBREL SAYS NO\r\n\r\n")
            return
        status = int(behaviour.get("status", 200))
        if mode == "huge":
            size = int(behaviour.get("size", 8 << 20))
            connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                               b"Connection: close\r\n\r\n" % size)
            block = b"{" + b" " * 65534 + b"}"
            sent = 0
            try:
                while sent < size and not self._stop.is_set():
                    piece = block[:min(len(block), size - sent)]
                    connection.sendall(piece)
                    sent += len(piece)
            except OSError:
                pass
            record["reply_sent"] = sent
            return
        if record["exchange"] == "time":
            if "body" in behaviour:
                reply = behaviour["body"]
                reply = reply.encode("utf-8") if isinstance(reply, str) else reply
            else:
                reply = json.dumps({"dumptimestamp": self.served_time}).encode()
                if status == 200:
                    record["served_time"] = self.served_time
        else:
            reply = b"{\"errno\":0}"
        reason = {200: "OK", 404: "Not Found", 500: "Internal Server Error", 403: "Forbidden"}.get(status, "Status")
        connection.sendall(b"HTTP/1.1 %d %s\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
                           b"Connection: close\r\n\r\n" % (status, reason.encode(), len(reply)) + reply)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--http-port", type=int, default=8080)
    parser.add_argument("--https-port", type=int)
    parser.add_argument("--time", type=int, default=1700000000, help="the dumptimestamp served")
    parser.add_argument("--behave", action="append", default=[],
                        help="SCHEME:EXCHANGE=MODE[,key=value]... e.g. https:dump=close, *:statistics=ok,status=500")
    parser.add_argument("--log", help="append one JSON line per request here")
    parser.add_argument("--seconds", type=float, default=0, help="stop after this long (0: on Ctrl-C)")
    args = parser.parse_args()
    service = NimbrelService(http_port=args.http_port, https_port=args.https_port, served_time=args.time)
    for rule in args.behave:
        target, _, spec = rule.partition("=")
        scheme, _, exchange = target.rpartition(":")
        mode, *options = spec.split(",")
        service.behave(exchange, mode, scheme or "*", **dict(o.split("=", 1) for o in options))
    print("serving http on %s, https on %s" % (service.http_port, service.https_port), flush=True)
    shown = 0
    started = time.time()
    try:
        while not args.seconds or time.time() - started < args.seconds:
            time.sleep(0.2)
            for record in service.requests()[shown:]:
                summary = {k: v for k, v in record.items() if k not in ("head", "body", "part", "statistics_bytes")}
                if isinstance(summary.get("archive"), list):
                    summary["archive"] = [{k: v for k, v in m.items() if k != "data"} for m in summary["archive"]]
                summary["body_length"] = len(record["body"])
                line = json.dumps(summary, default=str)
                print(line, flush=True)
                if args.log:
                    with open(args.log, "a") as log:
                        log.write(line + "\n")
            shown = len(service.requests())
    except KeyboardInterrupt:
        pass
    service.close()


if __name__ == "__main__":
    main()
