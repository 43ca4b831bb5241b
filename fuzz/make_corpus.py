#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the reader simulator's scenarios.

Usage: fuzz/make_corpus.py   (from anywhere; rewrites the folders of fuzz/corpus)
"""
import json
import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent.parent
SCENARIOS = ROOT / "tools" / "reader-sim" / "scenarios"
CORPUS = ROOT / "fuzz" / "corpus"


def aap(msg_type, payload=b""):
    out = bytearray()
    if payload or msg_type >= 0x7F:
        rest = len(payload)
        while payload:
            out.append((rest & 0x7F) | 0x80)
            last = rest < 0x80
            rest >>= 7
            if last:
                break
    out += bytes([msg_type]) if msg_type < 0x7F else struct.pack("<BH", 0x7F, msg_type)
    return bytes(out + payload)


def table(t):
    out = struct.pack("<HHHHH", 0, 0, t["recordType"], t.get("headerWords", 0), len(t["fields"]))
    for f in t["fields"]:
        out += struct.pack("<HHBBH", f["id"], f["word"], f.get("shift", 0), f["type"], f["width"])
    return out


def place(buf, base, f, value):
    at = base + 2 * f["word"]
    size = f["width"] // 8
    if f["type"] in (3, 4):
        data = value.encode() if isinstance(value, str) else bytes(value)
        buf[at:at + len(data)] = data
        return
    word = int.from_bytes(buf[at:at + 4].ljust(4, b"\0"), "little")
    mask = (1 << f["width"]) - 1 if f["width"] < 32 else 0xFFFFFFFF
    word |= ((value & mask) << f.get("shift", 0)) & 0xFFFFFFFF
    buf[at:at + max(size, 1)] = word.to_bytes(4, "little")[:max(size, 1)]


def extent(t, base):
    return max([base + 2 * f["word"] + max(f["width"] // 8, 1) for f in t["fields"]] + [base])


def record(schema, rec_type, fields, configuration):
    by_type = {t["recordType"]: t for t in schema}
    body = by_type[rec_type]
    if configuration:
        base, buf = 1, bytearray([rec_type])
    else:
        header = by_type[255]
        base = 2 * header.get("headerWords", 0)
        buf = bytearray(base)
    buf += bytes(max(0, extent(body, base) - len(buf)))
    if len(buf) % 2:
        buf.append(0)
    if not configuration:
        for f in header["fields"]:
            place(buf, 0, f, rec_type if f["id"] == 8 else int(fields.get(str(f["id"]), 0)))
    for f in body["fields"]:
        if str(f["id"]) in fields:
            place(buf, base, f, fields[str(f["id"])])
    return bytes(buf)


def crc32(payload):
    """The ATP checksum: CRC-32/MPEG-2 over 32-bit little-endian words, zero-padded."""
    data = payload + bytes(-len(payload) % 4)
    reg = 0xFFFFFFFF
    for i in range(0, len(data), 4):
        for byte in reversed(data[i:i + 4]):
            reg ^= byte << 24
            for _ in range(8):
                reg = ((reg << 1) ^ 0x04C11DB7 if reg & 0x80000000 else reg << 1) & 0xFFFFFFFF
    return reg


def command(code, payload=b""):
    return (bytes([code, len(payload)]) + payload).ljust(64, b"\0")


def data_packet(seq, payload, good_crc=True):
    crc = crc32(payload) if good_crc else 0x12345678
    return (struct.pack("<BBBBI", 11, len(payload) + 6, 0, seq, crc) + payload).ljust(64, b"\0")


def reader_session(s, answers, good_crc=True):
    reports = command(53, s["identity"].encode()) + command(52, b"\x08") + command(34, b"\x08")
    reply = f"{s['serial']}\r\n{s['secondLine']}\r\nCMD OK\r\n".encode()
    for i in range(0, len(reply), 62):
        reports += command(32, reply[i:i + 62])
    for n, i in enumerate(range(0, len(answers), 56)):
        reports += data_packet(n % 256, answers[i:i + 56], good_crc)
    return reports + bytes([12, 4, 0, 0, 0, 0]).ljust(64, b"\0")


def decode_input(schema, rec, configuration):
    out = bytearray([(len(schema) << 1) | int(configuration)])
    for t in schema:
        out += bytes([len(t)]) + t
    return bytes(out + rec)


def write(name, files):
    folder = CORPUS / name
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for file_name, data in files.items():
        (folder / file_name).write_bytes(data)


def main():
    aap_seeds, decode_seeds, atp_seeds = {}, {}, {}
    for path in sorted(SCENARIOS.glob("*.json")):
        s = json.loads(path.read_text())
        stem = path.stem
        schema = [table(t) for t in s["schema"]]
        config_schema = [table(t) for t in s.get("configSchema", [])]
        answers = b"".join(aap(52, t) for t in schema) + aap(52)
        answers += b"".join(aap(84, t) for t in config_schema) + aap(84)
        for table_id, records in s.get("tables", {}).items():
            for r in records:
                rec = record(s["schema"], r["recordType"], r["fields"], False)
                answers += aap(49, bytes([int(table_id)]) + rec)
                decode_seeds[f"{stem}-table{table_id}"] = decode_input(schema, rec, False)
            answers += aap(49)
        for config_id, r in s.get("config", {}).items():
            rec = record(s["configSchema"], r["recordType"], r["fields"], True)
            answers += aap(81, rec)
            decode_seeds[f"{stem}-config{config_id}"] = decode_input(config_schema, rec, True)
        c = s["clock"]
        answers += aap(65, struct.pack("<BBBBBHB", c["second"], c["minute"], c["hour"],
                                       c["day"], c["month"], c["year"], c.get("extra", 0)))
        # The first byte seeds the chunk sizes: one whole chunk, then ragged ones.
        aap_seeds[f"{stem}-answers-whole"] = b"\0" + answers
        aap_seeds[f"{stem}-answers-ragged"] = b"\x07" + answers
        # Flags byte first: 0 takes the packets as they are; 7 fixes checksums and sequence
        # numbers and delivers after every report.
        atp_seeds[f"{stem}-session"] = b"\0" + reader_session(s, answers)
        atp_seeds[f"{stem}-session-fixed"] = b"\x07" + reader_session(s, answers, False)
    aap_seeds["requests"] = b"\x03" + aap(52) + aap(125) + aap(49, b"\x06") + aap(125) + aap(65)
    aap_seeds["error-and-extended"] = b"\x02" + aap(126) + aap(0x1234, b"xyz") + b"\x80\x31"
    aap_seeds["length-limit"] = b"\x05\x80\x80\x80\x81\x31\x81\x80\x80\x81\x34"
    aap_seeds["long-payload"] = b"\x11" + aap(49, bytes(range(256)) * 3)
    aap_seeds["length-128"] = b"\x09" + aap(49, bytes(128)) + aap(84, bytes(127))
    # A text field without NUL and a bytes field across lines, on the first scenario's header.
    first = json.loads(sorted(SCENARIOS.glob("*.json"))[0].read_text())
    header = [t for t in first["schema"] if t["recordType"] == 255][0]
    body = {"recordType": 9, "fields": [{"id": 1, "word": 0, "type": 3, "width": 32},
                                        {"id": 2, "word": 2, "type": 4, "width": 1040},
                                        {"id": 3, "word": 1, "shift": 3, "type": 2, "width": 5}]}
    schema = [table(header), table(body)]
    rec = record([header, body], 9, {"1": "WXYZ", "2": list(range(130))}, False)
    decode_seeds["text-and-bytes"] = decode_input(schema, rec, False)
    decode_seeds["cut-table"] = decode_input([table(header)[:-3], table(body)], rec, False)
    decode_seeds["no-header"] = decode_input([table(body)], rec, False)
    atp_seeds["out-of-order"] = b"\0" + data_packet(1, aap(52)) + data_packet(0, aap(65), False) + \
        data_packet(0, aap(52)) + command(3, b"debug text") + command(6, b"reader") + b"\x0b\x40"
    write("atp_receive", atp_seeds)
    write("aap_parse", aap_seeds)
    write("record_decode", decode_seeds)


if __name__ == "__main__":
    main()
