"""Prints what Python's zipfile (and a raw look at the headers) sees in an archive, as JSON.

usage: zip_report.py ARCHIVE [MAX_DATA_BYTES]
Entry data up to MAX_DATA_BYTES (default 4096) is given as hex; every entry is read
through zipfile, which checks its CRC-32.
"""
import json
import os
import struct
import sys
import zipfile
import zlib


def local_header(f, offset):
    f.seek(offset)
    fixed = f.read(30)
    (sig, version, flags, method, mtime, mdate, crc, csize, usize, name_len,
     extra_len) = struct.unpack("<IHHHHHIIIHH", fixed)
    name = f.read(name_len)
    return {
        "signature": sig, "version": version, "flags": flags, "method": method,
        "time": mtime, "date": mdate, "crc": crc, "compressed": csize,
        "uncompressed": usize, "name_hex": name.hex(), "extra_len": extra_len,
    }


def end_record(f, size):
    f.seek(size - 22)
    (sig, disk, cd_disk, on_disk, total, cd_size, cd_offset,
     comment_len) = struct.unpack("<IHHHHIIH", f.read(22))
    return {"signature": sig, "disk": disk, "cd_disk": cd_disk, "on_disk": on_disk,
            "total": total, "cd_size": cd_size, "cd_offset": cd_offset,
            "comment_len": comment_len}


def main():
    path = sys.argv[1]
    max_data = int(sys.argv[2]) if len(sys.argv) > 2 else 4096
    size = os.path.getsize(path)
    report = {"size": size, "entries": []}
    with zipfile.ZipFile(path) as zf, open(path, "rb") as raw:
        report["comment_hex"] = zf.comment.hex()
        report["end"] = end_record(raw, size)
        for info in zf.infolist():
            crc = 0
            length = 0
            data = b""
            with zf.open(info) as member:
                while True:
                    piece = member.read(1 << 20)
                    if not piece:
                        break
                    crc = zlib.crc32(piece, crc)
                    length += len(piece)
                    if length <= max_data:
                        data += piece
            report["entries"].append({
                "name": info.filename,
                "name_hex": info.orig_filename.encode(
                    "utf-8" if info.flag_bits & 0x800 else "cp437").hex(),
                "file_size": info.file_size, "compress_size": info.compress_size,
                "crc": info.CRC, "read_crc": crc, "read_length": length,
                "compress_type": info.compress_type,
                "create_system": info.create_system, "create_version": info.create_version,
                "extract_version": info.extract_version, "flag_bits": info.flag_bits,
                "date_time": list(info.date_time), "external_attr": info.external_attr,
                "internal_attr": info.internal_attr, "extra_len": len(info.extra),
                "comment_len": len(info.comment), "header_offset": info.header_offset,
                "data_hex": data.hex() if length <= max_data else None,
                "local": local_header(raw, info.header_offset),
            })
    json.dump(report, sys.stdout, ensure_ascii=False)


main()
