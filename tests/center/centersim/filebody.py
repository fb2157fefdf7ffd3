"""The File element's body: Base64 of the data, gzip first when asked."""

import base64
import gzip
import hashlib
import zlib


def md5hex(data):
    return hashlib.md5(data).hexdigest()


def record_number(size, record_length):
    """Records in size bytes; a part record counts as one, RecordLength<=0 as 1."""
    rl = record_length if record_length > 0 else 1
    return -(-size // rl)


def encode(data, compress):
    payload = gzip.compress(data) if compress else data
    return base64.b64encode(payload).decode("ascii")


def file_items(data, record_length, compress, md5=None, entity=None):
    """The seven File children in order, as the sender of a file writes them.

    A record length of -1 means variable-length records: RecordLength goes
    out as 1 and RecordFlag as 1.
    """
    written = record_length if record_length > 0 else 1
    return [
        ("Length", str(len(data))),
        ("RecordLength", str(written)),
        ("RecordNumber", str(record_number(len(data), written))),
        ("RecordFlag", "1" if record_length == -1 else "0"),
        ("CompressFlag", "1" if compress else "0"),
        ("MD5", md5 if md5 is not None else md5hex(data)),
        ("Entity", entity if entity is not None else encode(data, compress)),
    ]


def read_fields(get):
    """File values from a getter of child text: numbers parsed, text kept."""
    from .soap import number
    return {
        "length": number(get("Length")),
        "record_length": number(get("RecordLength")),
        "record_number": number(get("RecordNumber")),
        "record_flag": get("RecordFlag"),
        "compress_flag": get("CompressFlag"),
        "md5": get("MD5"),
    }


def decode(info, entity):
    """(code, reason, data) after the checks a careful receiver makes.

    The codes are the center result codes for the failure: 41 length or
    missing values, 43 record count, 44 record flag, 50 compression flag,
    51 data that cannot be restored or whose MD5 differs.
    """
    n, rl, rn = info["length"], info["record_length"], info["record_number"]
    if n is None or n < 0 or rn is None or rn < 0 or rl is None:
        return 41, "Length, RecordLength or RecordNumber missing", None
    if not info["md5"]:
        return 41, "MD5 empty", None
    if info["record_flag"] not in ("", "0", "1"):
        return 44, "RecordFlag %r" % info["record_flag"], None
    if info["compress_flag"] not in ("0", "1"):
        return 50, "CompressFlag %r" % info["compress_flag"], None
    try:
        # validate=True also refuses line breaks: the terminal's decoder
        # does not skip them, so a sender must not write them.
        raw = base64.b64decode(entity, validate=True)
    except ValueError:
        return 41, "Entity is not one line of Base64", None
    data = raw
    if info["compress_flag"] == "1":
        try:
            data = gzip.decompress(raw)
        except (OSError, EOFError, zlib.error):
            return 51, "Entity is not gzip data", None
    info["md5_actual"] = md5hex(data)
    if len(data) != n:
        return 41, "Length %d but %d bytes" % (n, len(data)), None
    if rl > 0 and rn != record_number(n, rl):
        return 43, "RecordNumber %d, expected %d" % (
            rn, record_number(n, rl)), None
    if info["md5"] != info["md5_actual"]:
        return 51, "MD5 differs", None
    return 0, "", data
