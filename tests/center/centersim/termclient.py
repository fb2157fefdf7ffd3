"""A small terminal-side client: drives the simulator the way the terminal
would, for the simulator's own tests and for quick manual checks."""

import socket

from . import filebody
from . import http11
from . import soap
from .gateway import client_context


class Refused(Exception):
    def __init__(self, stage, code):
        super().__init__("%s answered %s" % (stage, code))
        self.stage = stage
        self.code = code


class TerminalClient:
    def __init__(self, port, host="127.0.0.1", tls=False, terminal_id="T0001",
                 center_id="C0001", password="pw", protocol_file_name="PF01",
                 access_key="AK01", service_no="1", timeout=10):
        self.host, self.port, self.tls = host, port, tls
        self.terminal_id, self.center_id = terminal_id, center_id
        self.password = password
        self.protocol_file_name = protocol_file_name
        self.access_key = access_key
        self.service_no = service_no
        self.timeout = timeout
        self.ch = None
        self.cookie = None
        self.replies = []

    def connect(self):
        sock = socket.create_connection((self.host, self.port), self.timeout)
        if self.tls:
            sock = client_context().wrap_socket(sock)
        self.ch = http11.Channel(sock)

    def close(self):
        if self.ch:
            self.ch.close()
            self.ch = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def post(self, target, body):
        """One exchange with the terminal's header order; reconnects when
        the previous reply closed the connection."""
        if self.ch is None:
            self.connect()
        headers = []
        if self.cookie is not None:
            headers.append(("Cookie", "ZORVANTIKE=%s" % self.cookie))
        headers += [("Host", self.host.upper()), ("port", str(self.port)),
                    ("Connection", "keep-alive"), ("Pragma", "no-cache")]
        try:
            self.ch.send(http11.build("POST %s HTTP/1.1" % target, headers,
                                      body))
            reply = self.ch.read_message(self.timeout, self.timeout, 1 << 30)
            if reply is None:
                raise http11.Closed("no reply")
        except http11.HttpError:
            self.close()
            raise
        if (reply.header("Connection") or "").lower() != "keep-alive":
            self.close()
        self.replies.append(reply)
        return reply

    def header(self):
        return [("Time", soap.now_long()), ("TerminalID", self.terminal_id),
                ("TargetTerminalID", self.center_id), ("SessionID", "")]

    def authenticate(self, target, resend_flag=""):
        body = soap.build("RequestAuthentication", [
            ("Header", self.header()),
            ("Authenticate", [("Password", self.password),
                              ("ProtocolVersion", "1"),
                              ("ServiceNo", self.service_no)]),
            ("FileInfo", [("ProtocolFileName", self.protocol_file_name),
                          ("AccessKey", self.access_key),
                          ("ResendFlag", resend_flag)]),
            ("FileRecord", [("DataFileName", ""), ("FileLoadNo", ""),
                            ("FileRecordKey", "")])])
        reply = self.post(target, body)
        msg = soap.read_message(reply.body)
        code = soap.number(msg.get("ResultCode")) or 0
        if code:
            raise Refused("auth", code)
        c = reply.cookie()
        self.cookie = c[1] if c else None
        return msg

    def request(self, target, method, items=()):
        body = soap.build(method, [("ResultCode", "0"),
                                   ("Header", self.header())] + list(items))
        reply = self.post(target, body)
        return soap.read_message(reply.body)

    def send(self, data, compress=False, record_length=-1):
        """Terminal-started send; returns the three replies."""
        with self:
            return self._send(data, compress, record_length)

    def _send(self, data, compress, record_length):
        auth = self.authenticate("/putfile")
        items = filebody.file_items(data, record_length, compress)
        items[3] = ("RecordFlag", "")  # the terminal leaves it empty
        put = self.request("/putfile", "PutFile", [("File", items)])
        code = soap.number(put.get("ResultCode"))
        if code:
            raise Refused("file", code)
        report = self.request("/putfile", "ReportStatus")
        return auth, put, report

    def receive(self):
        """Terminal-started receive; returns (data, auth reply, file reply)."""
        with self:
            return self._receive()

    def _receive(self):
        auth = self.authenticate("/getfile")
        got = self.request("/getfile", "GetFile")
        code = soap.number(got.get("ResultCode"))
        if code:
            self.request_report("/getfile", code)
            raise Refused("file", code)
        info = filebody.read_fields(lambda n: got.get("File", n))
        code, why, data = filebody.decode(info, got.get("File", "Entity"))
        if code:
            self.request_report("/getfile", 99)
            raise Refused("check: " + why, code)
        report = self.request("/getfile", "ReportStatus")
        code = soap.number(report.get("ResultCode"))
        if code:
            raise Refused("report", code)
        return data, auth, got

    def request_report(self, target, code):
        body = soap.build("ReportStatus", [("ResultCode", str(code)),
                                           ("Header", self.header())])
        try:
            self.post(target, body)
        except http11.HttpError:
            pass

    def regist(self, csr_text):
        body = soap.build("RegistTerminal", [
            ("Header", self.header()),
            ("Authenticate", [("Password", self.password),
                              ("ProtocolVersion", "1"), ("ServiceNo", "")]),
            ("CSR", csr_text)])
        with self:
            return soap.read_message(self.post("/regist", body).body)
