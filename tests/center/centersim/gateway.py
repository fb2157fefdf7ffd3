"""Gateway role: the center's gateway calling the terminal's own server.

One connection, one conversation: RequestAuthentication, then GetFile
(fetch a staged file) or PutFile (deliver a file), then ReportStatus,
each request sent after the previous reply.
"""

import os
import socket
import ssl
import tempfile
import threading
import warnings

from . import faults as faultmod
from . import filebody
from . import http11
from . import soap

DOCTYPE = ('<!DOCTYPE SOAP-ENV:Envelope [<!ENTITY xxe SYSTEM '
           '"file:///etc/hostname">]>')
# Longer than the 2047 bytes a reader looks at for "<Entity".
PAD = "<!--" + "p" * 2100 + "-->"
STALE_COOKIE = "1999/01/01 00:00.00"


class Abort(Exception):
    """The conversation cannot go on."""


class Refused(Abort):
    """The terminal refused the file message; its code is reported back."""

    def __init__(self, message, code):
        super().__init__(message)
        self.code = code


def client_context(ca=None, cert=None, key=None):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname = False
    ctx.set_ciphers("ALL:@SECLEVEL=0")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        ctx.minimum_version = ssl.TLSVersion.TLSv1
    if ca:
        ctx.load_verify_locations(ca)
        ctx.verify_mode = ssl.CERT_REQUIRED
    else:
        ctx.verify_mode = ssl.CERT_NONE
    if cert:
        ctx.load_cert_chain(cert, key or cert)
    return ctx


class Gateway:
    def __init__(self, opts, stop=None):
        self.o = opts
        self.stop = stop or threading.Event()
        self.faults = faultmod.FaultSet(faultmod.GATEWAY_FAULTS, opts.fault)
        self.ch = None
        self.cookie = None
        self.summary = {
            "mode": opts.mode, "host": opts.host, "port": opts.port,
            "tls": bool(opts.tls), "results": {"auth": None, "file": None,
                                               "report": None},
            "cookie": None, "file": None, "md5": None, "length": None,
            "verified": None, "exchanges": [], "errors": [],
            "faults": list(opts.fault), "ok": False,
        }

    # ----- connection

    def connect(self):
        sock = socket.create_connection((self.o.host, self.o.port),
                                        timeout=self.o.connect_timeout)
        if self.o.tls:
            ctx = client_context(self.o.ca, self.o.client_cert,
                                 self.o.client_key)
            sock.settimeout(self.o.connect_timeout)
            sock = ctx.wrap_socket(sock)
        self.ch = http11.Channel(sock, self.stop)

    def close(self):
        if self.ch:
            self.ch.close()
            self.ch = None

    def _cookie_header(self, rules):
        names = {r.name for r in rules}
        if "no-cookie" in names or self.cookie is None:
            return []
        if "empty-cookie" in names:
            return [("Cookie", "ZORVANTIKE=")]
        if "wrong-cookie" in names:
            return [("Cookie", "ZORVANTIKE=" + STALE_COOKIE)]
        return [("Cookie", "ZORVANTIKE=" + self.cookie)]

    def exchange(self, stage, method, target, items, rules, prefix="",
                 pad=""):
        """Send one request, read its reply; returns the parsed reply."""
        slow = faultmod.first(rules, "slow")
        if slow:
            self.stop.wait(float(slow.arg or 5))
        body = soap.build(method, items, self.o.namespace, prefix=prefix,
                          pad=pad)
        headers = [("Host", "%s:%d" % (self.o.host, self.o.port))]
        headers += self._cookie_header(rules)
        headers += [("Content-Type", 'text/xml; charset="utf-8"'),
                    ("Connection", "keep-alive")]
        data = http11.build("POST %s HTTP/1.1" % target, headers, body,
                            with_length=not faultmod.first(rules,
                                                           "no-length"))
        record = {"stage": stage, "method": method, "target": target,
                  "faults": [r.text for r in rules], "status_line": None,
                  "headers": None, "reply": None, "result": None,
                  "notes": []}
        self.summary["exchanges"].append(record)
        if faultmod.first(rules, "truncate"):
            # The whole length announced, half the body sent, then gone.
            head = data.index(b"\r\n\r\n") + 4
            self.ch.send(data[:head + (len(data) - head) // 2])
            raise Abort("%s: body cut off after half of it" % method)
        try:
            self.ch.send(data)
            reply = self.ch.read_message(self.o.timeout, self.o.timeout,
                                         1 << 31)
        except http11.HttpError as e:
            raise Abort("%s: %s" % (method, e)) from None
        if reply is None:
            raise Abort("%s: connection closed without a reply" % method)
        record["status_line"] = reply.start_line
        record["headers"] = [[n, v] for n, v in reply.headers]
        if not reply.start_line.startswith("HTTP/"):
            raise Abort("%s: reply does not start with HTTP/" % method)
        try:
            msg = soap.read_message(reply.body, self.o.namespace)
        except soap.SoapError as e:
            raise Abort("%s: unreadable reply: %s" % (method, e)) from None
        record["reply"] = msg.method
        record["notes"] = msg.warnings
        code = soap.number(msg.get("ResultCode"))
        record["result"] = code
        self.summary["results"][stage] = code
        return reply, msg

    def header_items(self):
        return [("Time", soap.now_long()),
                ("TerminalID", self.o.center_id),
                ("TargetTerminalID", self.o.terminal_id),
                ("SessionID", self.o.session_id)]

    @staticmethod
    def _result_text(rules, default="0"):
        r = faultmod.first(rules, "result")
        return r.arg if r else default

    # ----- the conversation

    def run(self):
        try:
            self.connect()
            self.authenticate()
            rules = self.faults.take("GetFile" if self.o.mode == "fetch"
                                     else "PutFile")
            if faultmod.first(rules, "drop-after-auth"):
                raise Abort("dropped the connection after authentication")
            try:
                code = (self.fetch(rules) if self.o.mode == "fetch"
                        else self.deliver(rules))
            except Refused as refused:
                # As a center does: the refusal's code in the report.
                self.report(refused.code)
                raise
            self.report(code)
        except Abort as e:
            self.summary["errors"].append(str(e))
        except (OSError, ssl.SSLError) as e:
            self.summary["errors"].append("connection: %s" % e)
        finally:
            self.close()
        r = self.summary["results"]
        self.summary["ok"] = (not self.summary["errors"]
                              and all(r[k] == 0 for k in r)
                              and self.summary["verified"] is not False)
        return self.summary

    def target(self):
        if self.o.target:
            return self.o.target
        return "/getfile" if self.o.mode == "fetch" else "/putfile"

    def authenticate(self):
        rules = self.faults.take("RequestAuthentication")
        prefix = DOCTYPE if faultmod.first(rules, "doctype") else ""
        session_id = soap.Raw("&xxe;") if prefix else self.o.session_id
        items = [
            ("Header", self.header_items()[:3] + [("SessionID", session_id)]),
            ("Authenticate", [("Password", self.o.password),
                              ("ProtocolVersion", self.o.protocol_version),
                              ("ServiceNo", self.o.service_no)]),
            ("FileInfo", [("ProtocolFileName", self.o.protocol_file_name),
                          ("AccessKey", self.o.access_key),
                          ("ResendFlag", self.o.resend_flag)]),
            ("FileRecord", [("DataFileName", self.o.data_file_name),
                            ("FileLoadNo", self.o.load_no),
                            ("FileRecordKey", self.o.record_key)]),
        ]
        reply, msg = self.exchange("auth", "RequestAuthentication",
                                   self.target(), items, rules,
                                   prefix=prefix)
        self._expect(msg, "RequestAuthenticationResponse")
        c = reply.cookie()
        if c is not None and c[1] is not None:
            self.cookie = c[1]
            self.summary["cookie"] = c[1]
        code = self.summary["results"]["auth"]
        if code != 0:
            raise Abort("authentication refused with %s" % code)
        if self.cookie is None:
            raise Abort("authentication reply without a cookie")

    def _expect(self, msg, name):
        if msg.method != name:
            raise Abort("expected %s, got %s" % (name, msg.method))

    def fetch(self, rules):
        if faultmod.first(rules, "swap-method"):
            return self._put_file(rules, "PutFileResponse")
        items = [("ResultCode", self._result_text(rules)),
                 ("Header", self.header_items())]
        reply, msg = self.exchange("file", "GetFile", self.target(), items,
                                   rules)
        self._expect(msg, "GetFileResponse")
        self._note_cookie_echo(reply)
        if self.summary["results"]["file"] != 0:
            raise Refused("GetFile refused with %s"
                          % self.summary["results"]["file"],
                          self.summary["results"]["file"])
        info = filebody.read_fields(lambda n: msg.get("File", n))
        code, why, data = filebody.decode(info, msg.get("File", "Entity"))
        self.summary.update(length=info["length"], md5=info["md5"],
                            record_length=info["record_length"],
                            record_number=info["record_number"],
                            record_flag=info["record_flag"],
                            compress_flag=info["compress_flag"])
        self.summary["verified"] = code == 0
        if code:
            self.summary["errors"].append("fetched file: %s" % why)
            return code
        path = self.o.out or os.path.join(
            tempfile.gettempdir(), "center-sim-fetched-%d.dat" % os.getpid())
        with open(path, "wb") as f:
            f.write(data)
        self.summary["file"] = os.path.abspath(path)
        return 0

    def deliver(self, rules):
        if faultmod.first(rules, "swap-method"):
            items = [("ResultCode", "0"), ("Header", self.header_items())]
            reply, msg = self.exchange("file", "GetFile", self.target(),
                                       items, rules)
            self._expect(msg, "GetFileResponse")
            code = self.summary["results"]["file"]
            if code:
                raise Refused("GetFile refused with %s" % code, code)
            return 0
        return self._put_file(rules, "PutFileResponse")

    def _payload(self):
        if self.o.file:
            with open(self.o.file, "rb") as f:
                return f.read()
        return (self.o.data or "").encode("utf-8")

    def _put_file(self, rules, expect):
        data = self._payload()
        compress = int(self.o.compress) == 1
        items = filebody.file_items(data, self.o.record_length, compress)
        fields = dict(items)
        entity, pad = fields["Entity"], ""
        if faultmod.first(rules, "bad-md5"):
            fields["MD5"] = filebody.md5hex(data + b"x")
        if faultmod.first(rules, "upper-md5"):
            fields["MD5"] = fields["MD5"].upper()
        if faultmod.first(rules, "wrapped-entity"):
            entity = "\r\n".join(entity[i:i + 76]
                                 for i in range(0, len(entity), 76))
        if faultmod.first(rules, "late-entity"):
            pad = PAD
        path_rule = faultmod.first(rules, "entity-path")
        if path_rule:
            # Entity naming a local file, out of the reader's window, with
            # that file's size and digest: only a reader that trusts the
            # text as a path would take it.
            pad = PAD
            entity = path_rule.arg
            with open(path_rule.arg, "rb") as f:
                target_data = f.read()
            fields["Length"] = str(len(target_data))
            fields["MD5"] = filebody.md5hex(target_data)
            fields["RecordNumber"] = str(filebody.record_number(
                len(target_data), int(fields["RecordLength"])))
            fields["CompressFlag"] = "0"
        fields["Entity"] = soap.Raw(soap.escape(entity))
        file_items = [(name, fields[name]) for name, _ in items]
        body_items = [("ResultCode", self._result_text(rules)),
                      ("Header", self.header_items()),
                      ("File", file_items)]
        reply, msg = self.exchange("file", "PutFile", self.target(),
                                   body_items, rules, pad=pad)
        self._expect(msg, expect)
        self._note_cookie_echo(reply)
        self.summary.update(length=len(data), md5=filebody.md5hex(data),
                            file=os.path.abspath(self.o.file)
                            if self.o.file else None)
        code = self.summary["results"]["file"]
        if code != 0:
            raise Refused("PutFile refused with %s" % code, code)
        return 0

    def _note_cookie_echo(self, reply):
        c = reply.cookie()
        if c is None or c[1] != self.cookie:
            self.summary["exchanges"][-1]["notes"].append(
                "reply does not repeat the cookie")

    def report(self, code):
        rules = self.faults.take("ReportStatus")
        items = [("ResultCode", self._result_text(rules, str(code))),
                 ("Header", self.header_items())]
        reply, msg = self.exchange("report", "ReportStatus", self.target(),
                                   items, rules)
        self._expect(msg, "ReportStatusResponse")
        self._note_cookie_echo(reply)
