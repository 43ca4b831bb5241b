#!/usr/bin/env python3
"""Rewrites the fuzz targets' seed corpora in fuzz/corpus: the worked example's reader as it
answers a download, and inputs at the edges of each target's format."""
import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"
# The worked example: header and body tables, a record of table 6, its configuration record 1.
HEADER = bytes.fromhex("00000000 FF00 0200 0200 0000 0000 0000 1000 0800 0100 0000 1000")
BODY = bytes.fromhex("00000000 0500 0000 0200 5A00 0000 0003 5000 6400 0500 0402 0400")
RECORD = bytes.fromhex("0700 0500 4142 4300 0000 0000 0000 F000")
BODY_AGAIN = bytes.fromhex("00000000 0500 0000 0100 5B00 0000 0000 1000")  # type 5 once more
CONFIG_TABLE = bytes.fromhex("00000000 0100 0000 0100 C800 0000 0000 1000")
CONFIG = bytes.fromhex("01 E803")
CLOCK = bytes([9, 8, 7, 5, 3]) + struct.pack("<H", 2021) + b"\0"


def aap(msg_type, payload=b""):
    out, rest = bytearray(), len(payload)
    while rest:
        out.append(0x80 | rest & 0x7F)
        rest >>= 7
    out += bytes([msg_type]) if msg_type < 0x7F else struct.pack("<BH", 0x7F, msg_type)
    return bytes(out) + payload


def command(code, payload=b""):
    return (bytes([code, len(payload)]) + payload).ljust(64, b"\0")


def data_packet(seq, payload):  # checksum 0: flag 1 of atp_receive fixes it
    return (struct.pack("<BBBBI", 11, len(payload) + 6, 0, seq, 0) + payload).ljust(64, b"\0")


def reader_session(answers):
    """Identity, window, credit, the serial number's reply, the answers, an acknowledgement."""
    reports = command(53, b"LUMORA-SIM EXAMPLE\x01") + command(52, b"\x08") + command(34, b"\x08")
    reports += command(32, b"EX00000001\r\nFW 1.0.0\r\nCMD OK\r\n")
    for n, i in enumerate(range(0, len(answers), 56)):
        reports += data_packet(n % 256, answers[i:i + 56])
    return reports + bytes([12, 4, 0, 0, 0, 0]).ljust(64, b"\0")


def decode_input(tables, record, configuration):
    return bytes([len(tables) << 1 | configuration]) + b"".join(
        bytes([len(t)]) + t for t in tables) + record


def write(name, files):
    (CORPUS / name).mkdir(parents=True, exist_ok=True)
    for old in (CORPUS / name).iterdir():
        old.unlink()
    for file_name, data in files.items():
        (CORPUS / name / file_name).write_bytes(data)


def main():
    answers = aap(52, HEADER) + aap(52, BODY) + aap(52) + aap(84, CONFIG_TABLE) + aap(84)
    answers += aap(49, b"\x06" + RECORD) + aap(49) + aap(49) + aap(81, CONFIG) + aap(65, CLOCK)
    # The first byte seeds the chunk sizes: one whole chunk, ragged ones.
    write("aap_parse", {
        "worked-example-answers-whole": b"\0" + answers,
        "worked-example-answers-ragged": b"\x07" + answers,
        "requests": b"\x03" + aap(52) + aap(125) + aap(49, b"\x06") + aap(125) + aap(65),
        "error-and-extended": b"\x02" + aap(126) + aap(0x1234, b"xyz") + b"\x80\x31",
        "length-limit": b"\x05\x80\x80\x80\x81\x31\x81\x80\x80\x81\x34",
        "long-payload": b"\x11" + aap(49, bytes(range(256)) * 3),
        "length-128": b"\x09" + aap(49, bytes(128)) + aap(84, bytes(127)),
    })
    # Flags first: 3 fixes checksums and sequence numbers; 7 also delivers after every report.
    write("atp_receive", {
        "worked-example-session": b"\x03" + reader_session(answers),
        "worked-example-session-each": b"\x07" + reader_session(answers),
        "out-of-order": b"\x01" + data_packet(1, aap(52)) + data_packet(0, aap(65)) +
        data_packet(0, aap(52)) + command(3, b"debug text") + command(6, b"reader") + b"\x0b\x40",
    })
    # Round trips (flag 0x10): header words, record type, then fields: a text, 130 bytes (three
    # lines), a signed bit field, a text without its NUL; 32 bits, a field reaching past its
    # word, a last one of width 0.
    write("record_decode", {
        "worked-example-table6": decode_input([HEADER, BODY], RECORD, False),
        "worked-example-config1": decode_input([CONFIG_TABLE], CONFIG, True),
        "cut-table": decode_input([HEADER[:-3], BODY], RECORD, False),
        "no-header": decode_input([BODY], RECORD, False),
        "second-table-of-a-type": decode_input([HEADER, BODY, BODY_AGAIN], RECORD, False),
        "round-trip-record": bytes([0x10, 2, 9, 0, 3, 4]) + b"WXYZ\x03" + bytes([4, 130]) +
        bytes(range(130)) + bytes([2, 5, 3, 0xF0, 0, 0, 0, 0x83, 3]) + b"end\x02",
        "round-trip-config": bytes([0x11, 0, 1, 0, 32, 0]) + b"\xff" * 4 +
        bytes([11, 16, 16, 0x34, 0x12, 0, 0, 2, 8, 28, 0x0F, 0, 0, 0, 0x0C, 0, 0, 0, 0, 0, 0]),
    })


if __name__ == "__main__":
    main()
