#!/usr/bin/env python3
"""Writes a Wine-format system.reg of a chosen size, with the Quintrel hosts' keys near its end.

The bulk imitates a 64-bit prefix: file associations, COM classes and interfaces under
Software\\Classes, uninstall entries and settings under Software\\Microsoft, the same again under
Software\\Wow6432Node, and services under System. Sections come in Wine's order (depth first,
names compared without case); the two host sections are written last, where a key added after the
last save would stand, so a reader that relied on the order would miss them.

    bench/gen_system_reg.py --size-mb 20 --output /tmp/system.reg
    bench/gen_system_reg.py --size-mb 1 --host-sections 600000 --output /tmp/system.reg
"""

import argparse
import random
import sys

STAMP = 1796868773


def escape(text, quote_chars='"'):
    """Escapes text as Wine writes it: backslash escapes, \\x for anything outside ASCII."""
    out = []
    for i, ch in enumerate(text):
        code = ord(ch)
        if ch == "\\":
            out.append("\\\\")
        elif ch in quote_chars:
            out.append("\\" + ch)
        elif ch == "\n":
            out.append("\\n")
        elif code < 32 or code > 126:
            following = text[i + 1] if i + 1 < len(text) else ""
            if following and following in "0123456789abcdefABCDEF":
                out.append("\\x%04x" % code)
            else:
                out.append("\\x%x" % code)
        else:
            out.append(ch)
    return "".join(out)


def key_line(path):
    return "[" + escape("\\".join(path), quote_chars="[]") + "] %d" % STAMP


def sz(name, text):
    left = "@" if name is None else '"%s"' % escape(name)
    return '%s="%s"' % (left, escape(text))


def expand_sz(name, text):
    return '"%s"=str(2):"%s"' % (escape(name), escape(text))


def multi_sz(name, items):
    return '"%s"=str(7):"%s"' % (escape(name), "".join(escape(i) + "\\0" for i in items))


def dword(name, number):
    return '"%s"=dword:%08x' % (escape(name), number)


def hex_value(name, data, type_number=None):
    """A hex list, wrapped as Wine wraps it: a trailing backslash and two blanks on the next line."""
    head = '"%s"=%s:' % (escape(name), "hex" if type_number is None else "hex(%x)" % type_number)
    lines, line = [], head
    for i, byte in enumerate(data):
        item = "%02x" % byte + ("," if i + 1 < len(data) else "")
        if len(line) + len(item) > 77:
            lines.append(line + "\\")
            line = "  "
        line += item
    lines.append(line)
    return "\n".join(lines)


def utf16_hex(name, text, type_number):
    return hex_value(name, list((text + "\0").encode("utf-16-le")), type_number)


def guid(rng):
    h = "%032X" % rng.getrandbits(128)
    return "{%s-%s-%s-%s-%s}" % (h[:8], h[8:12], h[12:16], h[16:20], h[20:])


WORDS = ["Archivio", "Estrazioni", "Gestore", "Servizio", "Media", "Rete", "Stampa", "Città",
         "Società", "Player", "Shell", "Codec", "Driver", "Update", "Sync", "Font", "Print"]


def word(rng):
    return rng.choice(WORDS) + str(rng.randrange(1000))


def make_sections(rng, target_bytes):
    """Returns {path tuple: [value lines]} whose text comes to about target_bytes."""
    sections = {}
    size = 0

    def add(path, values):
        nonlocal size
        sections.setdefault(tuple(path), []).extend(values)
        size += len(key_line(path)) + 30 + sum(len(v) + 1 for v in values)

    classes = ["Software", "Classes"]
    wow = ["Software", "Wow6432Node"]
    current = ["Microsoft", "Windows", "CurrentVersion"]
    add(["Software", *current], [sz("ProgramFilesDir", "C:\\Program Files"),
                                  sz("CommonFilesDir", "C:\\Program Files\\Common Files")])
    add([*wow, *current], [sz("ProgramFilesDir", "C:\\Program Files (x86)")])
    for exe in ["iexplore.exe", "wordpad.exe", "wmplayer.exe", "winword.exe"]:
        add(["Software", *current, "App Paths", exe], [sz(None, "C:\\Program Files\\%s" % exe)])

    n = 0
    while size < target_bytes:
        n += 1
        kind = n % 8
        if kind == 0:
            add([*classes, ".e%05d" % n], [sz(None, "%sfile" % word(rng)),
                                          sz("Content Type", "application/x-%d" % n)])
        elif kind in (1, 2):
            base = classes if kind == 1 else [*wow, "Classes"]
            clsid = guid(rng)
            add([*base, "CLSID", clsid], [sz(None, "%s Class" % word(rng))])
            add([*base, "CLSID", clsid, "InprocServer32"],
                [sz(None, "C:\\windows\\system32\\%s.dll" % word(rng).lower()),
                 sz("ThreadingModel", rng.choice(["Both", "Apartment", "Free"]))])
            add([*base, "CLSID", clsid, "ProgID"], [sz(None, "%s.%d" % (word(rng), n))])
        elif kind == 3:
            iid = guid(rng)
            add([*classes, "Interface", iid], [sz(None, "I%s" % word(rng))])
            add([*classes, "Interface", iid, "ProxyStubClsid32"], [sz(None, guid(rng))])
        elif kind in (4, 5):
            base = ["Software"] if kind == 4 else wow
            add([*base, *current, "Uninstall", "%s %d" % (word(rng), n)],
                [sz("DisplayName", "%s %s" % (word(rng), word(rng))),
                 expand_sz("UninstallString", "%%ProgramFiles%%\\%s\\uninst.exe" % word(rng)),
                 dword("EstimatedSize", rng.randrange(1 << 20)),
                 hex_value("Signature", [rng.randrange(256) for _ in range(rng.randrange(16, 96))])])
        elif kind == 6:
            add(["Software", "Microsoft", word(rng), "Settings %d" % n],
                [dword("Enabled", rng.randrange(2)), utf16_hex("Path", "C:\\Dati\\%s" % word(rng), 2),
                 multi_sz("Order", [word(rng) for _ in range(3)])])
        else:
            add(["System", "CurrentControlSet", "Services", "svc%05d" % n],
                [expand_sz("ImagePath", "%%SystemRoot%%\\system32\\%s.sys" % word(rng).lower()),
                 dword("Start", rng.randrange(5)), dword("Type", 1),
                 hex_value("DependOnService", list("RpcSs\0\0".encode("utf-16-le")), 7)])
    return sections


def sort_key(path):
    return tuple(part.upper() for part in path)


def write(out, path, values, rng):
    out.write("\n" + key_line(path) + "\n")
    out.write("#time=%x\n" % (0x1d9000000000000 + rng.getrandbits(40)))
    for v in values:
        out.write(v + "\n")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mb", type=float, default=20.0, help="approximate size (default 20)")
    parser.add_argument("--output", default="system.reg", help="file to write (default system.reg)")
    parser.add_argument("--seed", type=int, default=4, help="seed of the content (default 4)")
    parser.add_argument("--host-sections", type=int, default=1,
                        help="write the version 4 host's key in this many sections, one value each, "
                             "its InstallPath in the last (default 1)")
    args = parser.parse_args(argv)

    rng = random.Random(args.seed)
    host_sections = [
        (["Software", "Wow6432Node", "Quibex", "Quintrel! 4"],
         [sz("InstallPath", "C:\\Programmi\\Quintrel4"), sz("Version", "4.0")]),
        (["Software", "Microsoft", "Windows", "CurrentVersion", "App Paths", "quintrel.exe"],
         [sz(None, "C:\\Programmi\\Quintrel\\quintrel.exe"), sz("Path", "C:\\Programmi\\Quintrel")]),
    ]
    sections = make_sections(rng, int(args.size_mb * 1024 * 1024) - 2048)
    with open(args.output, "w", encoding="ascii", newline="\n") as out:
        out.write("WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n")
        for path in sorted(sections, key=sort_key):
            write(out, path, sections[path], rng)
        v4_path = host_sections[0][0]
        for i in range(args.host_sections - 1):
            write(out, v4_path, [dword("Voce%d" % i, i)], rng)
        for path, values in host_sections:
            write(out, path, values, rng)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
