#!/usr/bin/env python3
"""The release package as `make dist` builds it, checked file by file.

package_test.py SOURCE BUILD: packs BUILD/Quendrix.dll with tools/make-dist.sh
into BUILD/testbed/package-check and checks what the administrator and the debugger
get: the zip's four files in their order with fixed times, sums that match, a
DLL without debug information that names its debug file by the right CRC, no
time stamp, and the two texts in the encodings and line ends they promise,
the instructions' version and support contact filled in. And which packages
are drafts, packed in a repository of the packaging's own files.
"""
import configparser
import functools
import hashlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib
from pathlib import Path

SOURCE, BUILD = Path(sys.argv[1]), Path(sys.argv[2])
OUT = BUILD / "testbed" / "package-check"
VERSION = re.search(r'#define QUENDRIX_VERSION_TEXT "([0-9.]+)"',
                    (SOURCE / "frame/version.h").read_text()).group(1)


def instructions(raw):
    """INSTALACJA.txt's text, after its byte-order mark, with LF line ends."""
    return raw[3:].decode("utf-8").replace("\r\n", "\n")


def pe_header(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[pe:pe + 4] == b"PE\0\0"
    return pe


def time_stamp(image):
    return struct.unpack_from("<I", image, pe_header(image) + 8)[0]


def sections(image):
    """(name, raw bytes) of each section of a PE file."""
    pe = pe_header(image)
    count, optional = struct.unpack_from("<H12xH", image, pe + 6)
    table = pe + 24 + optional
    result = {}
    strings = struct.unpack_from("<I", image, pe + 12)[0] + 18 * struct.unpack_from(
        "<I", image, pe + 16)[0]
    for i in range(count):
        raw_name, size, offset = struct.unpack_from("<8s8xII", image, table + 40 * i)
        name = raw_name.rstrip(b"\0").decode()
        if name.startswith("/"):  # a long name, kept in the string table
            at = strings + int(name[1:])
            name = image[at:image.index(b"\0", at)].decode()
        result[name] = image[offset:offset + size]
    return result


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run([SOURCE / "tools/make-dist.sh", BUILD, OUT], check=True,
                       stdout=subprocess.DEVNULL)
        (made,) = OUT.glob(f"Quendrix-{VERSION}*.zip")  # a draft or not: Draft says when
        cls.draft = made.name == f"Quendrix-{VERSION}-draft.zip"
        cls.zip = zipfile.ZipFile(made)
        cls.files = {name: cls.zip.read(name) for name in cls.zip.namelist()}

    def test_holds_its_four_files_with_fixed_times_and_matching_sums(self):
        self.assertEqual(self.zip.namelist(),
                         ["Quendrix.dll", "Quendrix.ini", "INSTALACJA.txt", "SHA256SUMS"])
        self.assertEqual(len({entry.date_time for entry in self.zip.infolist()}), 1)
        sums = self.files["SHA256SUMS"].decode("ascii").split("\r\n")  # for older Notepad
        self.assertEqual(sums, [f"{hashlib.sha256(self.files[name]).hexdigest()} *{name}"
                                for name in ("Quendrix.dll", "Quendrix.ini", "INSTALACJA.txt")]
                         + [""])

    def test_dll_is_stripped_and_links_its_debug_file(self):
        dll = sections(self.files["Quendrix.dll"])
        self.assertFalse([name for name in dll if name.startswith(".debug")])
        debug = (OUT / "Quendrix.dll.debug").read_bytes()
        self.assertEqual((time_stamp(self.files["Quendrix.dll"]), time_stamp(debug)), (0, 0))
        self.assertIn(".debug_info", sections(debug))
        link = dll[".gnu_debuglink"]
        name = link[:link.index(b"\0")]
        self.assertEqual(name, b"Quendrix.dll.debug")
        crc_at = (len(name) + 1 + 3) // 4 * 4
        self.assertEqual(struct.unpack_from("<I", link, crc_at)[0], zlib.crc32(debug))
        # The same code as the build output, only without what the debugger reads.
        built = sections((BUILD / "Quendrix.dll").read_bytes())
        self.assertEqual(dll[".text"], built[".text"])
        self.assertEqual(dll[".rsrc"], built[".rsrc"])

    def test_settings_file_has_every_key_off_in_utf16_with_crlf(self):
        # UTF-16 LE with its byte-order mark: a path with Polish letters typed
        # into it in Notepad stays whole whatever the system's code page.
        raw = self.files["Quendrix.ini"]
        self.assertTrue(raw.startswith(b"\xff\xfe"))
        text = raw[2:].decode("utf-16-le")
        self.assertEqual(text.count("\n"), text.count("\r\n"))
        ini = configparser.ConfigParser(interpolation=None)
        ini.optionxform = str
        ini.read_string(text)
        self.assertEqual({s: dict(ini[s]) for s in ini.sections()},
                         {"Trace": {"Enabled": "0", "File": "Quendrix-trace.txt", "Record": "0"},
                          "Journal": {"Enabled": "0", "File": "Quendrix-journal.csv"}})

    def test_instructions_in_utf8_for_notepad_name_what_the_administrator_sees(self):
        raw = self.files["INSTALACJA.txt"]
        self.assertTrue(raw.startswith(b"\xef\xbb\xbf"))
        self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"))
        text = instructions(raw)
        # The version at the top, where point 9 sends the administrator for it.
        self.assertTrue(text.splitlines()[2].startswith(f"Wersja {VERSION}"), text[:200])
        self.assertEqual("WERSJA ROBOCZA" in text.split("=====")[0], self.draft)
        self.assertNotIn("{{", text)
        for shown in ["DOKUMENTY SPRZEDAŻY:\n    1. Porównaj WZ z zamówieniem - Ctrl+9",
                      "Zainstalowano wtyczkę do programu:", '"Pytaj"', '"Quendrix"',
                      '"STOP!!!"', "Program wymaga nowszej wtyczki!", "Tspr_dok",
                      "[Trace]", "[Journal]", "Record=1", "Quendrix.ini", "ODINSTALOWANIE",
                      "certutil -hashfile Quendrix.dll SHA256", "Get-FileHash",
                      "[POWAŻNY BŁĄD WTYCZKI]", "Przerwij", "Ponów próbę", "Ignoruj",
                      "POMOC TECHNICZNA"]:
            self.assertIn(shown, text)

    def test_instructions_name_every_message_of_the_plug_in_and_no_other(self):
        text = self.files["INSTALACJA.txt"][3:].decode("utf-8").replace("\r\n", "\n")
        messages = plug_in_messages()
        self.assertGreater(len(messages), 10)
        entries = guide_entries(text)
        named = {m.identifier: 0 for m in messages if m.shown_by != "PartOf"}
        for caption, shown in entries:
            found = [m.identifier for m in messages if m.shown_by != "PartOf"
                     and m.fits(caption, shown)]
            self.assertEqual(len(found), 1, f"point 7 names [{caption}] {shown!r}: "
                             f"{'no message of the plug-in' if not found else ' and '.join(found)}")
            named[found[0]] += 1
        for identifier, times in named.items():
            self.assertEqual(times, 1, f"{identifier} (frame/plugin_messages.h) is named "
                                       f"{times} times in point 7 of INSTALACJA.txt")


# ------------------------------------------------------------------ the messages
# The plug-in's one list of messages (frame/plugin_messages.h) as its source
# writes it, and point 7 of the install guide, which names each message that
# stands on its own there: its caption in brackets, then its text, shortened
# where it says "..." or names a value in parentheses, "(numer)".

WILD = object()  # a placeholder, or what the guide leaves out


def c_literals(source):
    """The bytes of adjacent C string literals, as text."""
    out = []
    for body in re.findall(r'"((?:[^"\\]|\\.)*)"', source):
        i = 0
        while i < len(body):
            if body[i] != "\\":
                out.append(body[i])
                i += 1
                continue
            kind = body[i + 1]
            if kind == "x":  # as C reads it: every hex digit that follows
                j = i + 2
                while j < len(body) and body[j] in "0123456789abcdefABCDEF":
                    j += 1
                out.append(chr(int(body[i + 2:j], 16)))
                i = j
            else:
                out.append({"n": "\n", "t": "\t"}.get(kind, kind))
                i += 2
    return "".join(out)


def shown_items(text, wild):
    """The text as the user reads it: a list of characters and WILD, white space
    and the host's control bytes folded into single spaces."""
    items = []
    for part in re.split(wild, text):
        if part is None or part == "":
            continue
        if re.fullmatch(wild, part):
            items.append(WILD)
            continue
        for c in part:
            c = " " if c.isspace() or ord(c) < 0x20 else c
            if c != " " or (items and items[-1] != " "):
                items.append(c)
    return items


class PlugInMessage:
    def __init__(self, identifier, shown_by, caption, text):
        self.identifier, self.shown_by, self.caption = identifier, shown_by, caption
        self.items = shown_items(text, r"(%s)")

    def fits(self, caption, shown):
        if self.caption and caption != self.caption:
            return False
        return matches(self.items, shown_items(shown, r"(\.\.\.|\([^)]*\))"))


def matches(message, guide):
    """Whether the guide's text reads as the message (or the start of it): a
    placeholder of the message stands for any part of the guide's text, the
    guide's "..." for any part of the message."""
    @functools.lru_cache(maxsize=None)
    def at(i, j):
        if j == len(guide):
            return True
        if guide[j] is WILD and any(at(k, j + 1) for k in range(i, len(message) + 1)):
            return True
        if i == len(message):
            return False
        if message[i] is WILD:
            return any(at(i + 1, k) for k in range(j, len(guide) + 1))
        return message[i] == guide[j] and at(i + 1, j + 1)
    return at(0, 0)


def plug_in_messages():
    source = (SOURCE / "frame/plugin_messages.h").read_text(encoding="utf-8")
    block = source[source.index("#define PLUGIN_MESSAGES(X)"):]
    block = block[:re.search(r"[^\\]\n", block).end()]  # up to the first line without "\\"
    block = re.sub(r"/\*.*?\*/", " ", block.replace("\\\n", " "))
    literal = r'((?:"(?:[^"\\]|\\.)*"\s*)+)_mz'
    entries = re.findall(r"X\(\s*(\w+)\s*,\s*(\w+)\s*,\s*" + literal + r"\s*,\s*[^,]+,\s*" +
                         literal + r"\s*\)", block)
    self_check = block.count("X(")
    assert len(entries) == self_check, f"{self_check - len(entries)} lines of the list not read"
    messages = []
    for identifier, shown_by, caption, text in entries:
        message = PlugInMessage(identifier, shown_by, c_literals(caption), c_literals(text))
        if shown_by == "PartOf":  # read on, as the message above it is composed
            whole.items += [WILD] + message.items
        else:
            whole = message
        messages.append(message)
    return messages


def guide_entries(text):
    """(caption, text) of each message that point 7 names."""
    point = text[text.index("\n7. "):text.index("\n8. ")]
    entries = []
    for line in point.split("\n"):
        opening = re.match(r"\[([^\]]+)\]\s*(.*)", line)
        if opening:
            entries.append([opening.group(1), opening.group(2)])
        elif entries and entries[-1] is not None and line.strip() and \
                not re.match(r"  \S[^:]*:", line):
            entries[-1][1] += " " + line.strip()
        elif entries and not line.strip() or re.match(r"  \S[^:]*:", line):
            entries.append(None)  # what follows is the meaning, not the message
    return [(caption, shown.strip()) for caption, shown in filter(None, entries)]

class Draft(unittest.TestCase):
    def package(self, contact, change_after_commit):
        """Packs in a repository of the packaging's own files: the output, the
        zip's name and its INSTALACJA.txt."""
        OUT.mkdir(parents=True, exist_ok=True)
        with tempfile.TemporaryDirectory(dir=OUT) as work:
            for name in ["tools/make-dist.sh", "frame/version.h", "plugin/Quendrix.ini",
                         "plugin/INSTALACJA.txt", "plugin/support-contact.txt"]:
                Path(work, name).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(SOURCE / name, Path(work, name))
            if contact:
                Path(work, "plugin/support-contact.txt").write_text(contact, encoding="utf-8")
            git = ["git", "-C", work, "-c", "user.name=q", "-c", "user.email=q@example.pl"]
            for command in (["init", "-q"], ["add", "."], ["commit", "-q", "-m", "package"]):
                subprocess.run(git + command, check=True)
            if change_after_commit:
                with open(Path(work, "frame/version.h"), "a") as header:
                    header.write("// changed\n")
            run = subprocess.run([Path(work, "tools/make-dist.sh"), BUILD, Path(work, "dist")],
                                 check=True, capture_output=True, text=True)
            (made,) = Path(work, "dist").glob("*.zip")
            return run.stdout, made.name, instructions(zipfile.ZipFile(made).read("INSTALACJA.txt"))

    def test_for_shops_only_from_a_filled_in_contact_in_a_committed_tree(self):
        contact = "# a note\n\nPomoc: pomoc@example.pl, tel. 22 100 20 30\n\n"
        for filled, changed, why in [(False, False, ["still holds the placeholder"]),
                                     (True, True, ["changes not committed"]),
                                     (False, True, ["not committed", "the placeholder"]),
                                     (True, False, [])]:
            with self.subTest(filled=filled, changed=changed):
                output, name, text = self.package(filled and contact, changed)
                top, point9 = text.split("=====")[0], text[text.index("9. POMOC"):]
                self.assertEqual(name, f"Quendrix-{VERSION}{'-draft' if why else ''}.zip")
                self.assertEqual([r for r in why if r in output], why, output)
                self.assertEqual(top.count("\n  - "), len(why), top)
                self.assertEqual("NIE DO PRZEKAZANIA SKLEPOWI" in top, bool(why))
                self.assertEqual("Miejsce do uzupełnienia" in point9, not filled)
                self.assertEqual("-\nPomoc: pomoc@example.pl, tel. 22 100 20 30\n\nDo zgłoszenia"
                                 in point9, filled)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
