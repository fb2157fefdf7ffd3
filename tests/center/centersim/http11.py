"""HTTP/1.1 framing over a plain or TLS socket: Content-Length only."""

import socket
import ssl
import time

MAX_HEADER = 64 * 1024
SLICE = 0.25  # how often a blocking read looks at the stop flag


class HttpError(Exception):
    """The peer broke framing; the connection cannot go on."""


class Timeout(HttpError):
    pass


class Closed(HttpError):
    pass


class Message:
    """A received request or reply. Header names keep their spelling."""

    def __init__(self, start_line, headers, body, raw_head):
        self.start_line = start_line
        self.headers = headers
        self.body = body
        self.raw_head = raw_head

    def header(self, name):
        name = name.lower()
        for n, v in self.headers:
            if n.lower() == name:
                return v
        return None

    @property
    def method(self):
        return self.start_line.split(" ")[0]

    @property
    def target(self):
        parts = self.start_line.split(" ")
        return parts[1] if len(parts) > 1 else ""

    @property
    def version(self):
        if self.start_line.startswith("HTTP/"):
            return self.start_line.split(" ")[0]
        return self.start_line.split(" ")[-1]

    def cookie(self):
        """(name, value) of the first Set-Cookie or Cookie header.

        The value is the text after the first "=", cut at a ";" as the
        terminal does; None when there is no such header, value None
        when it has no "=".
        """
        for n, v in self.headers:
            if n.lower() in ("set-cookie", "cookie"):
                if "=" not in v:
                    return (v, None)
                name, value = v.split("=", 1)
                return (name, value.split(";", 1)[0])
        return None

    def wants_close(self):
        conn = (self.header("Connection") or self.header("Proxy-Connection")
                or "").lower()
        if conn == "close":
            return True
        return self.version == "HTTP/1.0" and conn != "keep-alive"


def split_head(buf):
    """Index of the header end and the separator length, or None.

    Whichever of CRLFCRLF and LFLF comes first ends the header, so a
    blank line inside the body cannot be mistaken for it.
    """
    a = buf.find(b"\r\n\r\n")
    b = buf.find(b"\n\n")
    found = [(i, n) for i, n in ((a, 4), (b, 2)) if i >= 0]
    return min(found) if found else None


def parse_head(head):
    text = head.decode("latin-1")
    lines = [l.rstrip("\r") for l in text.split("\n")]
    start = lines[0]
    headers = []
    for line in lines[1:]:
        if ":" not in line:
            continue
        name, value = line.split(":", 1)
        headers.append((name.strip(), value.strip(" \t")))
    return start, headers


class Channel:
    """A connection with a read buffer, bounded waits and a stop flag."""

    def __init__(self, sock, stop=None):
        self.sock = sock
        self.stop = stop
        self.buf = bytearray()

    def _wait_recv(self, deadline):
        while True:
            if self.stop is not None and self.stop.is_set():
                raise Closed("stopping")
            left = deadline - time.monotonic()
            if left <= 0:
                raise Timeout("no data in time")
            self.sock.settimeout(min(SLICE, left))
            try:
                return self.sock.recv(65536)
            except (socket.timeout, ssl.SSLWantReadError):
                continue
            except (ConnectionError, ssl.SSLError, OSError) as e:
                raise Closed(str(e)) from None

    def _fill(self, deadline):
        data = self._wait_recv(deadline)
        if not data:
            return False
        self.buf += data
        return True

    def read_message(self, first_timeout, timeout, max_body,
                     need_length=True):
        """Read one message; None when the peer closed before a byte.

        first_timeout bounds the wait for the first byte, timeout every
        later read. Without Content-Length a POST or a reply is refused
        unless need_length is False (then the body runs to the close).
        """
        if not self.buf and not self._fill(time.monotonic() + first_timeout):
            return None
        while True:
            cut = split_head(self.buf)
            if cut:
                break
            if len(self.buf) > MAX_HEADER:
                raise HttpError("header over %d bytes" % MAX_HEADER)
            if not self._fill(time.monotonic() + timeout):
                raise Closed("closed inside the header")
        at, sep = cut
        raw_head = bytes(self.buf[:at])
        del self.buf[:at + sep]
        start, headers = parse_head(raw_head)
        msg = Message(start, headers, b"", raw_head)
        if msg.header("Transfer-Encoding"):
            raise HttpError("Transfer-Encoding is not used here")
        length = msg.header("Content-Length")
        if length is None:
            is_request = not start.startswith("HTTP/")
            if is_request and msg.method.upper() in ("GET", "HEAD"):
                return msg
            if need_length:
                raise HttpError("no Content-Length")
            while self._fill(time.monotonic() + timeout):
                if len(self.buf) > max_body:
                    raise HttpError("body too large")
            msg.body = bytes(self.buf)
            self.buf.clear()
            return msg
        try:
            n = int(length.strip(), 10)
        except ValueError:
            raise HttpError("bad Content-Length %r" % length) from None
        if n < 0 or n > max_body:
            raise HttpError("Content-Length %d out of range" % n)
        while len(self.buf) < n:
            if not self._fill(time.monotonic() + timeout):
                raise Closed("closed after %d of %d body bytes"
                             % (len(self.buf), n))
        msg.body = bytes(self.buf[:n])
        del self.buf[:n]
        return msg

    def send(self, data, timeout=60):
        self.sock.settimeout(timeout)
        try:
            self.sock.sendall(data)
        except (OSError, ssl.SSLError) as e:
            raise Closed(str(e)) from None

    def hold(self, seconds):
        """Keep the connection open without answering, for at most seconds."""
        deadline = time.monotonic() + seconds
        try:
            while time.monotonic() < deadline:
                if not self._fill(deadline):
                    return
        except HttpError:
            return

    def close(self):
        try:
            if isinstance(self.sock, ssl.SSLSocket):
                self.sock.settimeout(1)
                try:
                    self.sock.unwrap()
                except (OSError, ssl.SSLError, ValueError):
                    pass
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        try:
            self.sock.close()
        except OSError:
            pass


def build(start_line, headers, body=b"", with_length=True):
    """Start line, headers in the given order, Content-Length last."""
    lines = [start_line]
    lines += ["%s: %s" % (n, v) for n, v in headers]
    if with_length:
        lines.append("Content-Length: %d" % len(body))
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body
