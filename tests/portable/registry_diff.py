#!/usr/bin/env python3
"""Wine as the oracle of the portable registry reader.

For each seed: writes registry sections of every kind a file can hold (keys in random case,
escapes, names outside ASCII, a key in several sections, indented lines, hex values continued over
lines, long lines, malformed lines, every value type) under HKLM\\Software\\DiffTest, appends them
to a copy of a fresh win64 prefix's system.reg, asks the reader (tools/leggi_registro) about every
key and value, then lets Wine load the same file and export the tree with its own `reg`, and
compares. Wine runs through its 64-bit loader only.

    registry_diff.py --prefix PFX --reader LEGGI_REGISTRO --work DIR [--seeds N] [--first S]

Prints one line per seed and "N passed, M failed" last; exits 1 when a seed failed.
"""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys

ROOT = "Software\\DiffTest"
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"

# Decisions: where Wine's own tools cannot show what its loader holds, the test does not ask.
# - `reg export` prints a REG_SZ whose data lacks its terminating NUL as "", so string data is
#   written as hex only with its NUL.
# - It prints a REG_DWORD as its first four bytes whatever its size, so no other data is written
#   as hex(4).

# Byte sequences that are not UTF-8 (a stray continuation byte, overlong forms, encoded surrogates,
# code points past U+10FFFF, bytes that never start a character, sequences cut short). The
# generator writes each as private-use characters that file_bytes() turns into the raw bytes; the
# names asked for are those without them.
INVALID_UTF8 = [b"\x80", b"\xbf", b"\xc0\x80", b"\xc1\xbf", b"\xe0\x80\x80", b"\xe0\x9f\xbf",
                b"\xed\xa0\x80", b"\xed\xbf\xbf", b"\xf0\x8f\xbf\xbf", b"\xf4\x90\x80\x80", b"\xf5\x80",
                b"\xfe", b"\xff", b"\xc3", b"\xe2\x82", b"\xf0\x9f\x98"]
RAW_BASE = 0xF700


def raw(seq):
    return "".join(chr(RAW_BASE + b) for b in seq)


def file_bytes(text):
    """The text as UTF-8, the private-use stand-ins of raw bytes written as those bytes."""
    out = text.encode("utf-8", "surrogatepass")
    for b in range(0x80, 0x100):
        out = out.replace(chr(RAW_BASE + b).encode("utf-8"), bytes([b]))
    return out


LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 !#$%&'()+,-.;=@^_`{}~[]"
WIDE = "àèéìòùÀÈÉÌÒÙçÇñÑäÄöÖüÜßαβγΑΒΓжзиЖЗИāĀčČ€"


def fold(ch):
    """The reader's case folding of one UTF-16 unit (Wine's, for these scripts)."""
    u = ord(ch)
    if ord("A") <= u <= ord("Z") or (0xC0 <= u <= 0xDE and u != 0xD7) or (0x391 <= u <= 0x3AB and u != 0x3A2) \
            or 0x410 <= u <= 0x42F:
        return chr(u + 0x20)
    if 0x400 <= u <= 0x40F:
        return chr(u + 0x50)
    if u == 0x178:
        return "\xff"
    even = 0x100 <= u <= 0x12F or 0x132 <= u <= 0x137 or 0x14A <= u <= 0x177
    odd = 0x139 <= u <= 0x148 or 0x179 <= u <= 0x17E
    if (even and u % 2 == 0) or (odd and u % 2 == 1):
        return chr(u + 1)
    return ch


def canon(text):
    return "".join(fold(c) for c in text)


def utf16_units(text):
    data = text.encode("utf-16-le", "surrogatepass")
    return [data[i] | data[i + 1] << 8 for i in range(0, len(data), 2)]


class Gen:
    def __init__(self, seed):
        self.r = random.Random(seed)
        self.seed = seed

    def pick(self, s, n):
        return "".join(self.r.choice(s) for _ in range(n))

    def name(self):
        n = self.r.randint(1, 8)
        text = self.pick(LETTERS, n) if self.r.random() < 0.7 else self.pick(LETTERS + WIDE * 2, n)
        return text.strip() or "n"

    def recase(self, text):
        return "".join(c.swapcase() if self.r.random() < 0.5 and c.swapcase().lower() == c.lower()
                       and len(c.swapcase()) == 1 else c for c in text)

    def escape(self, text, quote):
        """Text as a Wine file may hold it: plain, escaped, \\x or raw UTF-8 at random."""
        out = []
        for i, ch in enumerate(text):
            u = ord(ch)
            nxt = text[i + 1] if i + 1 < len(text) else ""
            hexdigit_next = nxt != "" and nxt in "0123456789abcdefABCDEF"
            if ch == "\\" or ch == quote:
                out.append("\\" + ch)
            elif u < 32 or u == 127:
                out.append({9: "\\t", 10: "\\n", 13: "\\r"}.get(u, "\\x%04x" % u))
            elif u > 127 or (self.r.random() < 0.1 and ch.isalnum()):
                if self.r.random() < 0.5 and u > 127:
                    # raw UTF-8, now and then after the start of a character cut short
                    out.append(raw(self.r.choice([b"\xc3", b"\xe2\x82"])) * (self.r.random() < 0.1) + ch)
                elif hexdigit_next or self.r.random() < 0.3:
                    out.append("\\x%04x" % u)
                else:
                    out.append("\\x%x" % u)
            elif self.r.random() < 0.03:
                out.append(raw(self.r.choice(INVALID_UTF8)) + ch)
            elif ch in "abefnrtv" and self.r.random() < 0.1:
                out.append(ch)
            elif self.r.random() < 0.05 and ch.isalpha() and ch not in "abefnrtvx":
                out.append("\\" + ch)  # an escaped character that stands for itself
            else:
                out.append(ch)
        if self.r.random() < 0.05:
            out.append(raw(self.r.choice(INVALID_UTF8)))  # just before the closing quote or bracket
        return "".join(out)

    def blanks(self):
        """Blanks as the C library's isspace() knows them, a lone CR among them."""
        return self.r.choice(["", "", "", " ", "\t", "  \t ", "\r", " \v\f "])

    def hexlist(self, data, continued):
        # Now and then blanks around the commas, a byte in capitals or with a leading zero, and
        # blanks before the "\\" of a continued line.
        spaced = self.r.random() < 0.2
        comma = lambda: self.blanks() + "," + self.blanks() if spaced else ","
        parts = [self.r.choice(["%02x", "%02x", "%02x", "%02X", "%03x"]) % b if spaced else "%02x" % b for b in data]
        lines, line = [], []
        for p in parts:
            line.append(p)
            if continued and len(line) >= self.r.randint(1, 20):
                lines.append("".join(x + comma() for x in line) + (self.blanks() if spaced else ""))
                line = []
        lines.append("".join(x + (comma() if i + 1 < len(line) else "") for i, x in enumerate(line)))
        sep = "\\\n" + self.r.choice(["  ", "", "\t", "    "])
        return sep.join(lines)

    def data(self):
        """One value's data text."""
        kind = self.r.choice(["sz", "sz", "expand", "multi", "hexsz", "binary", "binary_long", "typed", "dword",
                              "dword_odd", "none", "bad", "empty"])
        text = self.pick(LETTERS + WIDE + "\\\"\t", self.r.randint(0, 12))
        if kind == "sz":
            return self.r.choice(['"', 'str:"']) + self.escape(text, '"') + '"'
        if kind == "expand":
            return 'str(2):"' + self.escape("%" + text + "%", '"') + '"'
        if kind == "multi":
            return 'str(7):"' + self.escape(text, '"') + "\\0" + self.escape(self.name(), '"') + '\\0"'
        if kind == "hexsz":
            units = utf16_units(text) + [0]
            data = bytes(b for u in units for b in (u & 0xFF, u >> 8))
            return "hex(%s):" % self.r.choice(["1", "2", "0x1"]) + self.hexlist(data, self.r.random() < 0.5)
        if kind in ("binary", "binary_long"):
            n = self.r.randint(0, 40) if kind == "binary" else self.r.randint(200, 3000)
            return "hex:" + self.hexlist(bytes(self.r.randrange(256) for _ in range(n)), kind == "binary_long")
        if kind == "typed":
            t = self.r.choice(["0", "3", "5", "8", "b", "B", "20000", "0x7", ""])
            return "hex(%s):" % t + self.hexlist(bytes(self.r.randrange(256) for _ in range(self.r.randint(0, 12))),
                                                 self.r.random() < 0.3)
        if kind == "dword":
            return "dword:%08x" % self.r.randrange(1 << 32)
        if kind == "dword_odd":
            return "dword:" + self.r.choice(["1f", "0x1F", " 12", "zz", "123456789", "1122334455667788ff", "-1",
                                             "+7", ""])
        if kind == "none":
            return "hex(0):"
        if kind == "empty":
            return '""'
        return self.r.choice(['"unterminated', "hex:4z", "hex:100", "qword:1", "hex(7:00", "hex:01,,02",
                              "str(1):\"x\"", "hex:01,\\\n\"v\"=\"taken\"", "hex:01,\\\n[" + ROOT + "\\\\Fake]"])

    def generate(self):
        root = ROOT.replace("\\", "\\\\") + "\\\\S%d" % self.seed
        keys = []
        for _ in range(self.r.randint(4, 10)):
            depth = self.r.randint(1, 3)
            base = self.r.choice(keys)[0][:self.r.randint(0, 1)] if keys and self.r.random() < 0.5 else []
            path = base + [self.name() for _ in range(depth)]
            if self.r.random() < 0.1:
                path[-1] = self.r.choice("nÈ") * self.r.choice([255, 256, 257])  # Wine's limit is 256
            keys.append((path, []))
        value_names = [self.name() for _ in range(self.r.randint(4, 10))] + ["@"]
        sections = []
        for path, _ in keys:
            for _ in range(self.r.choice([1, 1, 2, 3])):
                sections.append(path)
        self.r.shuffle(sections)
        lines = []
        for path in sections:
            key = root + "".join("\\\\" + self.escape(self.recase(c), "]") for c in path)
            lines.append("")
            lines.append(self.blanks() + "[" + key + "] " + str(self.r.randrange(1 << 31)))
            if self.r.random() < 0.5:
                lines.append("#time=1d%x" % self.r.randrange(1 << 40))
            for _ in range(self.r.randint(0, 6)):
                nm = self.r.choice(value_names)
                left = "@" if nm == "@" else '"' + self.escape(self.recase(nm), '"') + '"'
                lines.append(self.blanks() + left + self.blanks() + "=" + self.blanks() + self.data())
            if self.r.random() < 0.1:
                lines.append('"pad"="' + "p" * self.r.choice([5000, 70000, 300000]) + '"')
            if self.r.random() < 0.03:
                lines.append("[\\\\" + key + "]")  # a leading separator: no key either
                lines.append('"' + self.r.choice(value_names).strip("@") + '"="lost"')
            if self.r.random() < 0.05:
                lines.append("[" + key + "\\\\Broken")  # no ']': the values after it belong to no key
                lines.append('"' + self.r.choice(value_names).strip("@") + '"="lost"')
        wanted = [[ROOT, "S%d" % self.seed] + p for p, _ in keys]
        # Rarely a NUL, which ends the text of its line for Wine (not in a string written as hex:
        # cut short, it lacks its terminating NUL, which `reg export` cannot show); line ends as an
        # editor on Windows leaves them, now and then.
        for i, line in enumerate(lines):
            if self.r.random() < 0.03 and not re.search(r"=\s*hex\((0x)?[127]\)", line):
                cut = self.r.randint(0, len(line))
                lines[i] = line[:cut] + "\x00" + line[cut:]
        line_end = lambda: self.r.choice(["\n"] * 9 + ["\r\n"])
        text = "".join(line + line_end() for line in lines)
        parts = text.split("\\\n")  # continued hex values
        text = parts[0] + "".join("\\" + line_end() + part for part in parts[1:])
        return text, wanted, value_names + ["pad"]


def reader_answers(reader, prefix, questions, work):
    qfile = os.path.join(work, "questions")
    with open(qfile, "w") as f:
        for q in questions:
            f.write("\t".join([q[0]] + [x.encode("utf-8", "surrogatepass").hex() for x in q[1:]]) + "\n")
    out = os.path.join(work, "answers")
    with open(qfile) as fin, open(out, "w") as fout:
        subprocess.run([reader, prefix], stdin=fin, stdout=fout, check=True, timeout=120)
    answers = {}
    for line in open(out):
        f = line.rstrip("\n").split("\t")
        path = bytes.fromhex(f[1]).decode("utf-8", "surrogatepass")
        if f[0] == "K":
            answers[("K", path)] = f[2] == "1"
        else:
            name = bytes.fromhex(f[2]).decode("utf-8", "surrogatepass")
            answers[("V", path, name)] = None if f[3] == "-" else (int(f[3]), f[4])
    return answers


def parse_export(path):
    """Wine's `reg export` file: canonical key path -> {canonical value name: (type, hex data)}."""
    text = open(path, "rb").read().decode("utf-16", "surrogatepass").replace("\r\n", "\n")
    keys, current = {}, None
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        i += 1
        while line.endswith("\\") and i < len(lines):
            line = line[:-1] + lines[i].lstrip()
            i += 1
        if line.startswith("[") and line.endswith("]"):
            full = line[1:-1]
            prefix = "HKEY_LOCAL_MACHINE\\"
            current = canon(full[len(prefix):]) if full.startswith(prefix) else None
            if current is not None:
                keys[current] = {}
            continue
        if current is None or not line or line[0] not in '@"':
            continue
        if line[0] == "@":
            name, rest = "", line[2:]
        else:
            j, chars = 1, []
            while line[j] != '"':
                if line[j] == "\\":
                    j += 1
                    chars.append({"n": "\n", "r": "\r", "0": "\0", "t": "\t"}.get(line[j], line[j]))
                else:
                    chars.append(line[j])
                j += 1
            name, rest = "".join(chars), line[j + 2:]
        if rest.startswith('"'):
            body, j, chars = rest[1:], 0, []
            while j < len(body) and body[j] != '"':
                if body[j] == "\\" and j + 1 < len(body):
                    j += 1
                    chars.append({"n": "\n", "r": "\r", "0": "\0", "t": "\t"}.get(body[j], body[j]))
                else:
                    chars.append(body[j])
                j += 1
            data = "".join(chars).encode("utf-16-le", "surrogatepass") + b"\0\0"
            value = (1, data.hex())
        elif rest.startswith("dword:"):
            value = (4, int(rest[6:], 16).to_bytes(4, "little").hex())
        else:
            head, _, body = rest.partition(":")
            vtype = 3 if head == "hex" else int(head[4:-1], 16)
            value = (vtype, "".join(b.strip() for b in body.split(",") if b.strip()))
        keys[current][canon(name)] = value
    return keys


def run_wine(prefix, args, log):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    with open(log, "w") as out:
        return subprocess.run(args, env=env, stdout=out, stderr=subprocess.STDOUT, timeout=180).returncode


def one_seed(seed, prefix, pristine, reader, work):
    text, wanted, names = Gen(seed).generate()
    # The file both read; copied into the prefix before each start of Wine's server, which saves
    # its registry over the prefix's file when it ends.
    shutil.copyfile(pristine, os.path.join(work, "system.reg"))
    with open(os.path.join(work, "system.reg"), "ab") as f:
        f.write(file_bytes(text))
    shutil.copyfile(os.path.join(work, "system.reg"), os.path.join(prefix, "system.reg"))
    g = random.Random(seed * 7919)
    questions, paths = [], set()
    for path in wanted:
        for n in range(2, len(path) + 1):
            paths.add("\\".join(path[:n]))
    paths.add(ROOT + "\\S%d\\Missing" % seed)
    for p in sorted(paths):
        asked = "".join(c.swapcase() if g.random() < 0.3 and len(c.swapcase()) == 1 else c for c in p)
        questions.append(("K", asked))
        for nm in names:
            questions.append(("V", asked, "" if nm == "@" else nm))
    ours = reader_answers(reader, prefix, questions, work)

    # Wine loads the same file at its server's start and exports what it holds. Once in some
    # hundreds of seeds the export fails and the same seed passes when run again: a second try
    # tells such a passing failure from a file Wine cannot export.
    export, log = os.path.join(work, "export.reg"), os.path.join(work, "export.log")
    for _ in range(2):
        if os.path.exists(export):
            os.remove(export)
        shutil.copyfile(os.path.join(work, "system.reg"), os.path.join(prefix, "system.reg"))
        run_wine(prefix, [WINESERVER, "-p"], os.path.join(work, "server.log"))
        rc = run_wine(prefix, [WINE, "reg", "export", "HKLM\\" + ROOT + "\\S%d" % seed, export, "/reg:64", "/y"],
                      log)
        run_wine(prefix, [WINESERVER, "-k"], os.path.join(work, "kill.log"))
        run_wine(prefix, [WINESERVER, "-w"], os.path.join(work, "wait.log"))
        if rc == 0 and os.path.exists(export):
            break
    else:
        with open(log, errors="replace") as f:
            return ["reg export failed twice (status %d): %s" % (rc, f.read()[:300].strip())]
    wine = parse_export(export)

    differences = []
    for q in questions:
        key = canon(q[1])
        if q[0] == "K":
            if ours[q] != (key in wine):
                differences.append("key %r: reader %s, Wine %s" % (q[1], ours[q], key in wine))
        else:
            theirs = wine.get(key, {}).get(canon(q[2]))
            mine = ours[q]
            if mine != theirs:
                differences.append("value %r in %r: reader %s, Wine %s" % (q[2], q[1], mine, theirs))
    if differences:
        with open(os.path.join(work, "failed-%d.reg" % seed), "wb") as f:
            f.write(file_bytes(text))
    return differences


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--reader", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--seeds", type=int, default=12)
    ap.add_argument("--first", type=int, default=1)
    args = ap.parse_args()
    pristine = os.path.join(args.work, "pristine.reg")
    shutil.copyfile(os.path.join(args.prefix, "system.reg"), pristine)
    passed = failed = 0
    try:
        for seed in range(args.first, args.first + args.seeds):
            differences = one_seed(seed, args.prefix, pristine, args.reader, args.work)
            if differences:
                failed += 1
                print("seed %d: FAILED, %d differences (file kept as failed-%d.reg)" % (seed, len(differences), seed))
                for d in differences[:10]:
                    print("    " + d)
            else:
                passed += 1
                print("seed %d: same as Wine" % seed)
            sys.stdout.flush()
    finally:
        shutil.copyfile(pristine, os.path.join(args.prefix, "system.reg"))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
