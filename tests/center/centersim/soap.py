"""Building and reading the SOAP 1.1 messages of a center conversation."""

import time
import xml.etree.ElementTree as ET
import xml.parsers.expat

ENV_NS = "http://schemas.xmlsoap.org/soap/envelope/"
MSG_NS = "http://pelorin.korvane.example/2001/DRAFT"

# Canonical spelling of the methods we know; lookups are case-insensitive.
METHODS = (
    "RequestAuthentication", "RequestAuthenticationResponse",
    "GetFile", "GetFileResponse",
    "PutFile", "PutFileResponse",
    "ReportStatus", "ReportStatusResponse",
    "RegistTerminal", "RegistTerminalResponse", "RegistResponse",
)
_CANONICAL = {m.lower(): m for m in METHODS}


class SoapError(Exception):
    """A message that cannot be read as one of ours."""


def now_long(t=None):
    """SOAP time text: YYYY/MM/DD hh:mm.ss, local time, a point before seconds."""
    return time.strftime("%Y/%m/%d %H:%M.%S", time.localtime(t))


def now_stamp(t=None):
    return time.strftime("%Y%m%d%H%M%S", time.localtime(t))


def escape(text):
    return (str(text).replace("&", "&amp;").replace("<", "&lt;")
            .replace(">", "&gt;"))


def _render(items, out):
    for name, value in items:
        if value is None:
            continue
        if isinstance(value, (list, tuple)):
            out.append("<%s>" % name)
            _render(value, out)
            out.append("</%s>" % name)
        elif isinstance(value, Raw):
            out.append("<%s>%s</%s>" % (name, value.text, name))
        else:
            out.append("<%s>%s</%s>" % (name, escape(value), name))


class Raw:
    """Element text written as given (Base64, or deliberately broken text)."""

    def __init__(self, text):
        self.text = text


def build(method, items, ns=MSG_NS, prefix="", pad=""):
    """One message as bytes: no declaration, no whitespace between elements.

    items is a list of (name, value) where value is text, a nested list,
    a Raw, or None to leave the element out. prefix goes before the
    envelope (used to inject a DOCTYPE); pad goes right after the method's
    start tag (used to push Entity past a reader's look-ahead window).
    """
    out = [prefix,
           '<SOAP-ENV:Envelope xmlns:SOAP-ENV="%s"><SOAP-ENV:Body>' % ENV_NS,
           '<%s xmlns="%s">' % (method, ns), pad]
    _render(items, out)
    out.append("</%s></SOAP-ENV:Body></SOAP-ENV:Envelope>" % method)
    return "".join(out).encode("utf-8")


def parse(data):
    """Parse a message into an ElementTree element, prefixes kept as written.

    Namespace processing is off on purpose: the peer must spell the
    "SOAP-ENV" prefix literally. Any DOCTYPE or entity declaration is
    refused rather than expanded.
    """
    root = []
    stack = []

    def start(name, attrs):
        el = ET.Element(name, attrs)
        if stack:
            stack[-1].append(el)
        else:
            root.append(el)
        stack.append(el)

    def end(name):
        stack.pop()

    def chars(text):
        el = stack[-1] if stack else None
        if el is None:
            return
        if len(el):
            last = el[-1]
            last.tail = (last.tail or "") + text
        else:
            el.text = (el.text or "") + text

    def doctype(*args):
        raise SoapError("DOCTYPE refused")

    def entity_decl(*args):
        raise SoapError("entity declaration refused")

    p = xml.parsers.expat.ParserCreate()
    p.StartElementHandler = start
    p.EndElementHandler = end
    p.CharacterDataHandler = chars
    p.StartDoctypeDeclHandler = doctype
    p.EntityDeclHandler = entity_decl
    p.ExternalEntityRefHandler = lambda *a: 0
    p.SetParamEntityParsing(xml.parsers.expat.XML_PARAM_ENTITY_PARSING_NEVER)
    try:
        p.Parse(data, True)
    except SoapError:
        raise
    except xml.parsers.expat.ExpatError as e:
        raise SoapError("not well-formed: %s" % e) from None
    if not root:
        raise SoapError("no element")
    return root[0]


def child(el, name):
    """First child whose name equals name, without regard to case."""
    if el is None:
        return None
    want = name.lower()
    for c in el:
        if c.tag.lower() == want:
            return c
    return None


def text(el, *path):
    """Text at a path of child names; "" when any step is missing."""
    for name in path:
        el = child(el, name)
        if el is None:
            return ""
    if el is None:
        return ""
    return el.text or ""


def number(value):
    """Decimal text as int, None when empty or not a number."""
    value = (value or "").strip()
    try:
        return int(value, 10)
    except ValueError:
        return None


class Message:
    """A parsed message: method name, its element, and style notes."""

    def __init__(self, method, element, ns, warnings):
        self.method = method
        self.element = element
        self.ns = ns
        self.warnings = warnings

    def get(self, *path):
        return text(self.element, *path)


def read_message(data, expect_ns=MSG_NS):
    """Parse bytes and find Envelope/Body/method; raise SoapError if absent."""
    warnings = []
    head = data.lstrip()[:5]
    if head.startswith(b"<?xml"):
        warnings.append("xml declaration")
    root = parse(data)
    if root.tag.lower() != "soap-env:envelope":
        raise SoapError("root is %r, not SOAP-ENV:Envelope" % root.tag)
    if root.tag != "SOAP-ENV:Envelope":
        warnings.append("envelope spelled %r" % root.tag)
    if root.get("xmlns:SOAP-ENV") != ENV_NS:
        warnings.append("envelope namespace %r" % root.get("xmlns:SOAP-ENV"))
    body = child(root, "SOAP-ENV:Body")
    if body is None or len(body) == 0:
        raise SoapError("no SOAP-ENV:Body with a method")
    el = body[0]
    method = _CANONICAL.get(el.tag.lower(), el.tag)
    ns = el.get("xmlns")
    if ns != expect_ns:
        warnings.append("method namespace %r" % ns)
    if _has_whitespace_between_elements(root):
        warnings.append("whitespace between elements")
    return Message(method, el, ns, warnings)


def _has_whitespace_between_elements(el):
    for c in el.iter():
        if len(c) and (c.text or "").strip() == "" and c.text:
            return True
        if c.tail and c.tail.strip() == "":
            return True
    return False
