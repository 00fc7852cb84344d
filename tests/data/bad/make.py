#!/usr/bin/env python3
"""Writes the damaged-input corpus next to this script: settings files, result lists, MS type
lists (for a KV72), batch scripts and packet streams as a tester might send them. The files
are kept in the repository; run this again only to change them, then update outcomes.txt."""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
rnd = random.Random(70)


def put(path, data):
    path = os.path.join(HERE, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


def garbage(n):
    return bytes(rnd.randrange(256) for _ in range(n))


# Settings files.
good = ("[Version]\r\n410\r\n[Port]\r\nCOM4\r\n[Baudrate]\r\n2\r\n[Function]\r\n3\r\n"
        "[UL Result]\r\n/tmp/results\r\n[Upload Result mode]\r\n76\r\n"
        "[Excel column]\r\n4 Time\r\n5 Date\r\n[Excel row]\r\nA01;Test name;4,5\r\n"
        "[Printout Start]\r\n{A01-1} {A01-2}\r\n[Printout Middle]\r\n10,{CL02}Call\r\n"
        "[Printout End]\r\nend\r\n[Printout Table]\r\n1,0,{PASS}\r\n1,1,{FAIL}\r\n")
put("settings/empty.ini", b"")
put("settings/binary.ini", garbage(3000))
put("settings/cut_in_a_section.ini", good[:good.index("Call") + 2])
put("settings/cr_line_ends.ini", good.replace("\r\n", "\r"))
put("settings/overlong_lines.ini", good.replace("COM4", "COM4" + "7" * 1500)
    .replace("/tmp/results", "/" + "d" * 1200).replace("4 Time", "4 " + "T" * 2000))
put("settings/values_out_of_range.ini",
    "[Version]\n410\n[Port]\nCOM99999999999999\n[Baudrate]\n9\n[Function]\n-1\n"
    "[Upload Result mode]\n99999999999999999999\n[Printout Middle]\n-2147483649,x\nno comma\n")
put("settings/tables_without_braces.ini",
    "[Version]\n410\n[Printout Table]\n0,0,{x}\n1,0,PASS\n1\n,\n2,0,{open\n1,0,{}}\n"
    "99999999999,0,{big}\n")
put("settings/nul_bytes.ini", good.replace("COM4", "CO\0M4").replace("end", "e\0nd"))
put("settings/too_many_entries.ini",
    "[Version]\n410\n[Printout Start]\n" + "line\n" * 10050 + "[Port]\nCOM2\n")
put("settings/other_version.ini", good.replace("410", "409"))
put("settings/headers_only.ini", "[Version]\n[Port]\n[Excel column]\n[Excel row]\n[Printout Table]\n")

# Result lists.
block = ("A01;09:14:37,12.03.2024,0,NOKIA 6310i,GSM BASIC,E-GSM 900,0,0\r\n"
         "A02;262019876543210,350123451234560,4,2,1,1,1,,,1,4,1,0,1\r\n"
         "A03;KV72,0004711,J. Berger,Norvane Service,V4.21\r\n"
         "A10;0\r\nA15;0,5,1\r\nA32;0,32.4,30.0,35.0\r\n")
put("result_lists/empty.res", b"")
put("result_lists/binary.res", garbage(5000))
put("result_lists/cut_in_a_record.res", block * 2 + block[:70])
put("result_lists/no_a01.res", block.replace("A01;", "A0x;") * 3)
put("result_lists/overlong_line.res", block + "A15;" + "9" * 5000 + "\r\n" + block)
put("result_lists/nul_and_bare_cr.res", (block * 2).replace("\r\n", "\r").replace("0,", "\0,"))
put("result_lists/same_phone_300_times.res", block * 300)
put("result_lists/huge_fields.res",
    "A01;" + "9" * 400 + "," + "8" * 400 + ",99999999999999999999,x\n"
    "A02;1," + "3" * 300 + ",-1,4294967296\nA10;4294967295\nA15;,,,,,,,,,,,,,,\n")
put("result_lists/separators_only.res", "A01;;;;,,,,\nA02;,\n;\n,\n\n\n")
put("result_lists/path_in_the_imei.res", block.replace("350123451234560", "../../etc/35") * 2)

# MS type lists for a KV72 (records at address 0x1C0000 + file offset).
BASE = 0x1C0000


def be32(v):
    return v.to_bytes(4, "big")


def ms_list(link1, link2, body):
    data = be32(link1) + be32(link2) + body
    return b"\0\0" + data


def list2_record(next_link):
    return be32(next_link) + bytes(6) + be32(BASE + 10) * 3


NONE = 0xFFFFFFFF
put("ms_type_lists/empty.aut", b"")
put("ms_type_lists/header_cut.aut", b"\0\0\0\x1c")
put("ms_type_lists/no_records.aut", ms_list(NONE, NONE, garbage(40)))
put("ms_type_lists/chain_loops.aut", ms_list(NONE, BASE + 10, list2_record(BASE + 10)))
put("ms_type_lists/link_beyond_the_end.aut", ms_list(BASE + 5000, NONE, bytes(50)))
put("ms_type_lists/record_cut.aut", ms_list(BASE + 10, NONE, bytes(20)))
put("ms_type_lists/too_many_records.aut",
    ms_list(NONE, BASE + 10, b"".join(list2_record(BASE + 10 + 22 * (i + 1)) for i in range(520))))
put("ms_type_lists/overlapping_records.aut",
    ms_list(BASE + 10, BASE + 20, be32(NONE) + bytes(6) + be32(NONE) + bytes(46)))
put("ms_type_lists/binary.aut", garbage(700))

# Batch scripts (each line a command line).
put("scripts/empty.txt", b"")
put("scripts/binary.txt", garbage(2000))
put("scripts/overlong_line.txt", "-C2 " + "x" * 1100 + " -F1\n-F3\n")
put("scripts/nul_in_a_line.txt", "-F\0 2\n-F4 \0\n")
put("scripts/blank_lines_and_cr.txt", "\r\r\n\n   \r\n-F0\r")
put("scripts/unclosed_quote.txt", '-P"/tmp/out -F2\n-S"missing.txt -F1\n')
put("scripts/out_of_range.txt", "-F9 -C0 -B1200\n-F4294967297\n-F-1\n-f 4\n")

# Packet streams: what a sending tester puts on the line after the PC's first C.


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def packet(number, data, long=False, size=None):
    size = size or (1024 if long else 128)
    data = data[:size].ljust(size, b"\x1a")
    head = b"\x02" if size == 1024 else b"\x01"
    return head + bytes([number & 0xFF, 255 - (number & 0xFF)]) + data + be16(crc16(data))


def be16(v):
    return v.to_bytes(2, "big")


def info(name, size_text):
    return packet(0, (name + b"\0" + size_text).ljust(128, b"\0"))


def closing():
    return b"\x01\x00\xff" + bytes(130)


content = bytes((i * 7) & 0xFF for i in range(300))


def whole(name=b"LIST.AUT", size=b"300 0", data=content):
    stream = info(name, size)
    for n in range(0, (len(data) + 127) // 128):
        stream += packet(n + 1, data[n * 128:(n + 1) * 128])
    return stream + b"\x04" + closing()


put("packet_streams/empty.bin", b"")
put("packet_streams/line_noise.bin", garbage(3000))
put("packet_streams/first_block_numbered_1.bin", packet(1, content))
damaged = bytearray(packet(1, content[:128]))
damaged[50] ^= 0x10
put("packet_streams/crc_error_then_repeat.bin",
    info(b"LIST.AUT", b"300 0") + bytes(damaged) + whole()[133:])
put("packet_streams/cut_in_a_packet.bin", whole()[:200])
put("packet_streams/name_with_path.bin", whole(name=b"../../etc/passwd"))
put("packet_streams/size_smaller_than_data.bin", whole(size=b"100 0"))
put("packet_streams/no_size.bin", whole(size=b""))
put("packet_streams/cancel_mid_transfer.bin", whole()[:266] + b"\x18\x18")
put("packet_streams/eot_without_closing_block.bin", whole()[:-133])
put("packet_streams/name_of_control_characters.bin", whole(name=b"\x01\x1b[2J\x7f" + b"N" * 20))
put("packet_streams/information_block_repeated.bin", info(b"LIST.AUT", b"300 0") + whole())
put("packet_streams/size_beyond_32_bits.bin", whole(size=b"99999999999999 0"))
put("packet_streams/block_skipped.bin", whole()[:266] + packet(3, content[256:]))
