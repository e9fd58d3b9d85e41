"""Archive makers for the kinds Debian has no packer for: small writers of
stored (uncompressed) members, each as its format description lays it out,
and volume sets made by the real packers or by the RAR writer here.

Members are (relative name, bytes, modification time); bytes of None make a
folder where the kind has folder entries. Times are written as local time,
as the DOS-era formats hold them."""

import os
import struct
import subprocess
import time
import zlib

from zavo_e2e import crc16


def dos_date_time(t):
    """DOS date and time words of a Unix time, in local time."""
    lt = time.localtime(t)
    return (((lt.tm_year - 1980) << 9) | (lt.tm_mon << 5) | lt.tm_mday,
            (lt.tm_hour << 11) | (lt.tm_min << 5) | (lt.tm_sec // 2))


def dos_stamp(t):
    date, tm = dos_date_time(t)
    return (date << 16) | tm


def files_only(members):
    return [m for m in members if m[1] is not None]


def write_arc(path, members):
    """ARC (and PAK): per member 1A, the method (2: stored), a 13-byte name,
    sizes, DOS date and time and a CRC-16; 1A 00 ends the archive. ARC
    names hold no folders."""
    out = bytearray()
    for rel, data, mtime in files_only(members):
        date, tm = dos_date_time(mtime)
        out += b"\x1a\x02" + rel.encode("latin-1")[:12].ljust(13, b"\0")
        out += struct.pack("<IHHHI", len(data), date, tm, crc16(data),
                           len(data)) + data
    out += b"\x1a\x00"
    with open(path, "wb") as f:
        f.write(out)


def write_ace(path, members):
    """ACE 1.0: blocks of a CRC (the low half of a CRC-32 left uninverted),
    a size, a type and flags; the archive block ("**ACE**"), then per member
    a file block (flag 1: data follows) and its stored data. unace wants the
    four bytes after a name that the format description calls reserved."""
    def block(body):
        crc = (zlib.crc32(body) ^ 0xFFFFFFFF) & 0xFFFF
        return struct.pack("<HH", crc, len(body)) + body
    out = block(struct.pack("<BH", 0, 0) + b"**ACE**" +
                struct.pack("<BBBBI", 10, 10, 2, 0, 0) + bytes(9))
    for rel, data, mtime in files_only(members):
        name = rel.replace("/", "\\").encode("latin-1")
        crc = zlib.crc32(data) ^ 0xFFFFFFFF
        out += block(struct.pack("<BHIIIIIBBHHH", 1, 1, len(data), len(data),
                                 dos_stamp(mtime), 0x20, crc, 0, 0, 0, 0,
                                 len(name)) + name + bytes(4)) + data
    with open(path, "wb") as f:
        f.write(out)


def write_zoo(path, members):
    """Zoo 2.x: an archive header, then a chain of directory entries (type
    2, with the long name and folder in the variable part), each followed by
    its data; an entry whose "next" is 0 ends the chain."""
    out = bytearray(b"ZOO 2.10 Archive.\x1a".ljust(20, b"\0"))
    out += struct.pack("<IiiBB", 0xFDC4A7DC, 34, -34, 2, 0)
    for rel, data, mtime in files_only(members):
        folder, _, name = rel.rpartition("/")
        lname, dname = name.encode("latin-1"), folder.encode("latin-1")
        var = (bytes([len(lname) + 1, len(dname) + 1 if dname else 0]) + lname
               + b"\0" + (dname + b"\0" if dname else b"") + b"\0\0")
        data_at = len(out) + 56 + len(var)
        date, tm = dos_date_time(mtime)
        fixed = struct.pack("<IBBIIHHHIIBBBBIH", 0xFDC4A7DC, 2, 0,
                            data_at + len(data), data_at, date, tm, crc16(data),
                            len(data), len(data), 2, 1, 0, 0, 0, 0)
        fixed += lname[:12].ljust(13, b"\0")
        # The entry's own CRC is taken with its field at 0; timezone 127:
        # unknown, the time is local.
        entry = fixed + struct.pack("<HBH", len(var), 127, 0) + var
        entry = fixed + struct.pack("<HBH", len(var), 127, crc16(entry)) + var
        out += entry + data
    out += struct.pack("<IBBII", 0xFDC4A7DC, 2, 0, 0, 0) + bytes(37)
    with open(path, "wb") as f:
        f.write(out)


def write_lzx(path, members):
    """Amiga LZX: a 10-byte info header, then per member a 31-byte header
    (sizes and CRCs little-endian, the date as bit fields), its name and its
    stored data. The header CRC covers header and name with its field at 0."""
    out = bytearray(b"LZX\0\0\x0a\x04\0\0\0")
    for rel, data, mtime in files_only(members):
        name = rel.encode("latin-1")
        lt = time.localtime(mtime)
        stamp = ((lt.tm_mday << 27) | ((lt.tm_mon - 1) << 23)
                 | ((lt.tm_year - 1970) << 17) | (lt.tm_hour << 12)
                 | (lt.tm_min << 6) | lt.tm_sec)
        h = bytearray(31)
        struct.pack_into("<II", h, 2, len(data), len(data))
        h[15] = 10  # version needed; pack mode 0 (h[11]): stored
        struct.pack_into("<II", h, 18, stamp, zlib.crc32(data))
        h[30] = len(name)
        struct.pack_into("<I", h, 26, zlib.crc32(bytes(h) + name))
        out += h + name + data
    with open(path, "wb") as f:
        f.write(out)


MAC_EPOCH = 2082844800  # 1904-01-01 to 1970-01-01, in seconds


def write_sit(path, members):
    """Classic StuffIt ("SIT!" ... "rLau"): a 22-byte archive header, then
    112-byte entry headers (big-endian, Mac local times, CRC-16 of the first
    110 bytes), data fork after each file's header; a folder is a start
    entry (method 32) and an end entry (method 33) around its contents."""
    tree = {}
    for rel, data, mtime in members:
        node = tree
        parts = rel.split("/")
        for part in parts[:-1]:
            node = node.setdefault(part, ({}, mtime))[0]
        node[parts[-1]] = ({}, mtime) if data is None else (data, mtime)

    def entry(method, name, mtime, data=b""):
        n = name.encode("mac_roman")
        mac = int(mtime) + MAC_EPOCH + time.localtime(mtime).tm_gmtoff
        h = struct.pack(">BBB", 0, method, len(n)) + n.ljust(63, b"\0")
        h += b"TEXTttxt" + struct.pack(">HII", 0, mac, mac)
        h += struct.pack(">IIIIHH", 0, len(data), 0, len(data), 0, crc16(data))
        h += bytes(6)
        return h + struct.pack(">H", crc16(h)) + data

    def walk(node):
        out = b""
        for name, (content, mtime) in node.items():
            if isinstance(content, dict):
                out += entry(32, name, mtime) + walk(content)
                out += entry(33, name, mtime)
            else:
                out += entry(0, name, mtime, content)
        return out

    body = walk(tree)
    head = (b"SIT!" + struct.pack(">HI", len(tree), 22 + len(body)) + b"rLau"
            + b"\x02" + bytes(7))
    with open(path, "wb") as f:
        f.write(head + body)


def _rar4_block(htype, flags, body):
    head = struct.pack("<BHH", htype, flags, 7 + len(body)) + body
    return struct.pack("<H", zlib.crc32(head) & 0xFFFF) + head


def rar4_volumes(members, volume_size=0, new_numbering=True):
    """RAR 4 with stored members, written by a Unix host (modes kept), names
    with "\\" between folders. With a volume size, a member that does not fit
    goes on in the next volume (flags "split before/after"; each piece but
    the last holds its own CRC), the archive header marks every volume (and
    the first, and the .partN naming) and each end block but the last says
    a volume follows. Returns the volumes' bytes, in order."""
    def main(first):
        flags = 0
        if volume_size:
            flags = 0x0001 | (0x0010 if new_numbering else 0)
            flags |= 0x0100 if first else 0
        return b"Rar!\x1a\x07\x00" + _rar4_block(0x73, flags, bytes(6))

    volumes = []
    current = bytearray(main(True))
    for rel, data, mtime, mode in members:
        name = rel.replace("/", "\\").encode("utf-8")
        folder = data is None
        data = data or b""
        pos = 0
        while True:
            room = len(data) - pos
            if volume_size:
                room = max(1, volume_size - len(current) - 40 - len(name))
            piece = data[pos:pos + room]
            pos += len(piece)
            last = pos >= len(data)
            flags = 0x8000 | (0xE0 if folder else 0)
            flags |= 0x01 if pos > len(piece) else 0
            flags |= 0 if last else 0x02
            crc = zlib.crc32(data if last else piece)
            body = struct.pack("<IIBIIBBHI", len(piece), len(data), 3, crc,
                               dos_stamp(mtime), 20, 0x30, len(name), mode)
            current += _rar4_block(0x74, flags, body + name) + piece
            if last:
                break
            current += _rar4_block(0x7B, 0x0001, b"")
            volumes.append(bytes(current))
            current = bytearray(main(False))
    current += _rar4_block(0x7B, 0, b"")
    volumes.append(bytes(current))
    return volumes


def rar4_members(members, modes=None):
    """Members with Unix modes for rar4_volumes: files 0644, folders 0755
    unless `modes` says otherwise."""
    modes = modes or {}
    return [(rel, data, mtime, modes.get(rel, 0o100644 if data is not None
                                         else 0o40755))
            for rel, data, mtime in members]


def write_rar4(path, members, modes=None):
    with open(path, "wb") as f:
        f.write(rar4_volumes(rar4_members(members, modes))[0])


def rar_volume_names(name, count, new_numbering):
    """x.part1.rar ... (padded to the count's width), or x.rar, x.r00 ..."""
    if new_numbering:
        width = len(str(count))
        return ["%s.part%0*d.rar" % (name, width, i + 1) for i in range(count)]
    return ["%s.rar" % name] + ["%s.%s%02d" % (name, "rstuvwxyz"[i // 100],
                                               i % 100)
                                for i in range(count - 1)]


def run_quietly(args, cwd):
    subprocess.run(args, cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=120)


def make_set(kind, folder, name, stage, volume_kib=16, new_numbering=True):
    """A volume set of the files in `stage` (a folder) in `folder`, named
    after `name`, made by the kind's own packer (7zz -v, zip -s, arj -v) or,
    for rar, by rar4_volumes. Returns the volumes' names in order."""
    folder = os.path.abspath(folder)
    before = set(os.listdir(folder))
    files = sorted(os.path.relpath(os.path.join(d, f), stage)
                   for d, _, fs in os.walk(stage) for f in fs)
    if kind == "7z":
        run_quietly(["7zz", "a", "-t7z", "-v%dk" % volume_kib,
                     os.path.join(folder, name + ".7z"), "."], stage)
    elif kind == "zip":
        run_quietly(["zip", "-q", "-r", "-s", "%dk" % max(64, volume_kib),
                     os.path.join(folder, name + ".zip"), "."], stage)
    elif kind == "arj":
        run_quietly(["arj", "a", "-v%dK" % volume_kib, "-y",
                     os.path.join(folder, name + ".arj")] + files, stage)
    elif kind == "rar":
        members = []
        for rel in files:
            path = os.path.join(stage, rel)
            with open(path, "rb") as f:
                members.append((rel, f.read(), os.stat(path).st_mtime))
        volumes = rar4_volumes(rar4_members(members), volume_kib * 1024,
                               new_numbering)
        for vol_name, data in zip(rar_volume_names(name, len(volumes),
                                                   new_numbering), volumes):
            with open(os.path.join(folder, vol_name), "wb") as f:
                f.write(data)
    else:
        raise ValueError(kind)
    if kind == "rar":
        return rar_volume_names(name, len(volumes), new_numbering)
    made = set(os.listdir(folder)) - before

    def order(n):
        ext = n.rsplit(".", 1)[1].lower()
        # zip: x.z01 ... then x.zip; arj: x.arj, x.a01 ... x.a99, x.100 ...
        return (ext == "zip", ext != "arj", not ext.startswith("a"), n)
    return sorted(made, key=order)
