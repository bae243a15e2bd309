#!/usr/bin/python3
"""Reads the built executables as data and checks every resource the program must carry,
field by field, in both the 32-bit release and the 64-bit test build.

  check_resources.py <32-bit release Clipmend.exe> <64-bit test Clipmend.exe>

The PE file, its resource directory, imports and fixed version part are read with pefile
(Debian's python3-pefile), the manifest with the standard XML parser. Dialog templates, the
string block, the version record's tree and the icon are small fixed layouts no library reads:
they are unpacked with struct here.
"""
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

import pefile

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
EN_US, ZH_CN = 0x0409, 0x0804
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82

BUILDS = {
    # name: (machine, optional header magic, manifest architecture, common controls architecture)
    "Release32": (0x14C, 0x10B, "X86", "x86"),
    "Test64": (0x8664, 0x20B, "amd64", "amd64"),
}
PATHS = {}


def utf16z(data, at):
    """A zero-terminated UTF-16 string at at; the text and the offset after its terminator."""
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def align4(at):
    return (at + 3) & ~3


def sz_or_ord(data, at):
    """A menu, class or title field: None when absent, an int ordinal, or a string."""
    first, = struct.unpack_from("<H", data, at)
    if first == 0:
        return None, at + 2
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    return utf16z(data, at)


def dialog(data):
    """A DLGTEMPLATE or DLGTEMPLATEEX with its items, as a dict."""
    d = {"extended": struct.unpack_from("<H", data, 2)[0] == 0xFFFF}
    if d["extended"]:
        d["version"], _, d["help"], d["exstyle"], d["style"], count = struct.unpack_from(
            "<HHIIIH", data, 0)
        at = 18
    else:
        d["style"], d["exstyle"], count = struct.unpack_from("<IIH", data, 0)
        at = 10
    d["box"] = struct.unpack_from("<hhhh", data, at)
    d["menu"], at = sz_or_ord(data, at + 8)
    d["class"], at = sz_or_ord(data, at)
    d["title"], at = utf16z(data, at)
    if d["style"] & 0x40:  # DS_SETFONT: the font follows
        d["points"], = struct.unpack_from("<H", data, at)
        at += 2
        if d["extended"]:
            d["weight"], d["italic"], d["charset"] = struct.unpack_from("<HBB", data, at)
            at += 4
        d["face"], at = utf16z(data, at)
    d["items"] = []
    for _ in range(count):
        at = align4(at)
        item = {}
        if d["extended"]:
            item["help"], item["exstyle"], item["style"] = struct.unpack_from("<III", data, at)
            at += 12
        else:
            item["style"], item["exstyle"] = struct.unpack_from("<II", data, at)
            item["help"] = 0
            at += 8
        item["box"] = struct.unpack_from("<hhhh", data, at)
        at += 8
        item["id"], = struct.unpack_from("<i" if d["extended"] else "<h", data, at)
        at += 4 if d["extended"] else 2
        item["class"], at = sz_or_ord(data, at)
        item["title"], at = sz_or_ord(data, at)
        if item["title"] is None:  # no title is an empty one
            item["title"] = ""
        extra, = struct.unpack_from("<H", data, at)
        item["creation"] = data[at + 2:at + 2 + extra]
        at += 2 + extra
        d["items"].append(item)
    return d


def version_node(data, at=0):
    """A VS_VERSIONINFO node: (key, type, value bytes, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key, pos = utf16z(data, at + 6)
    pos = align4(pos)
    value_bytes = value_length * 2 if kind == 1 else value_length
    value = data[pos:pos + value_bytes]
    pos = align4(pos + value_bytes)
    children = []
    while pos < end:
        children.append(version_node(data, pos))
        pos = align4(pos + struct.unpack_from("<H", data, pos)[0])
    return key, kind, value, children


class BuildTest:
    """The checks of one executable; a subclass per build names it."""

    name = None

    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(PATHS[cls.name])
        cls.resources = {}
        for rtype in cls.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for rname in rtype.directory.entries:
                for rlang in rname.directory.entries:
                    entry = rlang.data.struct
                    data = cls.pe.get_data(entry.OffsetToData, entry.Size)
                    key = (rtype.id, rname.id, rlang.id)
                    cls.resources.setdefault(key, []).append(
                        (rtype.name, rname.name, data))

    def data(self, rtype, rid):
        found = [v for (t, i, _), vs in self.resources.items() for v in vs
                 if t == rtype and i == rid]
        self.assertEqual(len(found), 1, f"resource type {rtype} id {rid}")
        return found[0][2]

    def test_carries_exactly_the_programs_resources_in_their_languages(self):
        for key, values in self.resources.items():
            for type_name, name, _ in values:
                self.assertIsNone(type_name, f"resource type given by name at {key}")
                self.assertIsNone(name, f"resource named by string at {key}")
        self.assertEqual(sorted(k for k, vs in self.resources.items() for _ in vs), sorted([
            (RT_ICON, 1, ZH_CN),  # the one image of the icon group
            (RT_GROUP_ICON, 128, ZH_CN),  # IDR_MAINFRAME
            (RT_DIALOG, 100, EN_US),  # IDD_ABOUTBOX
            (RT_DIALOG, 102, EN_US),  # IDD_MAIN
            (RT_STRING, 101 // 16 + 1, EN_US),  # the block holding IDS_ABOUTBOX
            (RT_VERSION, 1, EN_US),
            (RT_MANIFEST, 1, EN_US),
        ]))

    def expect_items(self, dlg, expected):
        self.assertEqual(len(dlg["items"]), len(expected))
        for item, (ident, cls, title, style, box) in zip(dlg["items"], expected):
            with self.subTest(control=ident, title=title):
                self.assertEqual(
                    (item["id"], item["class"], item["title"], hex(item["style"]),
                     item["exstyle"], item["help"], item["box"], item["creation"]),
                    (ident, cls, title, hex(style), 0, 0, box, b""))

    def test_main_dialog_is_the_extended_template(self):
        dlg = dialog(self.data(RT_DIALOG, 102))
        self.assertEqual(
            (dlg["extended"], dlg["version"], dlg["help"], hex(dlg["style"]),
             hex(dlg["exstyle"]), dlg["box"], dlg["menu"], dlg["class"], dlg["title"]),
            # popup, visible, caption, sysmenu, modal frame, font; WS_EX_APPWINDOW
            (True, 1, 0, hex(0x90C800C0), hex(0x00040000), (0, 0, 361, 103), None, None,
             "Velmora Clipmend - ONE Click"))
        self.assertEqual(
            (dlg["points"], dlg["face"], dlg["weight"], dlg["italic"], dlg["charset"]),
            (8, "MS Sans Serif", 0, 0, 1))  # DEFAULT_CHARSET
        self.expect_items(dlg, [
            (1, BUTTON, "GO", 0x50010001, (143, 64, 88, 30)),  # BS_DEFPUSHBUTTON | WS_TABSTOP
            (-1, BUTTON, "Open a MP4 File to Fix", 0x50000007, (7, 12, 345, 46)),  # group box
            # WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL
            (1000, EDIT, "", 0x50810080, (16, 29, 260, 15)),
            (1001, BUTTON, "OPEN", 0x50010000, (283, 27, 60, 20)),  # BS_PUSHBUTTON | WS_TABSTOP
            # SS_LEFT | WS_GROUP
            (1003, STATIC, "More iPod,MP4,Video Products", 0x50020000, (14, 75, 115, 9)),
        ])

    def test_about_box_is_the_classic_template(self):
        dlg = dialog(self.data(RT_DIALOG, 100))
        self.assertEqual(
            (dlg["extended"], hex(dlg["style"]), dlg["exstyle"], dlg["box"], dlg["menu"],
             dlg["class"], dlg["title"], dlg["points"], dlg["face"]),
            # popup, caption, sysmenu, modal frame, font
            (False, hex(0x80C800C0), 0, (0, 0, 235, 55), None, None, "About Velmora Clipmend",
             8, "MS Sans Serif"))
        self.assertEqual(len(dlg["items"]), 4)
        # The notice's wording is ours; it must name the maker.
        notice = dlg["items"][2]["title"]
        self.assertIn("Velmora", notice)
        self.expect_items(dlg, [
            (-1, STATIC, 128, 0x50000003, (11, 15, 20, 20)),  # SS_ICON showing icon 128
            # SS_LEFT | SS_NOPREFIX | WS_GROUP
            (-1, STATIC, "Clipmend Version 1.1.2", 0x50020080, (40, 12, 119, 8)),
            (-1, STATIC, notice, 0x50020000, (40, 27, 182, 8)),  # SS_LEFT | WS_GROUP
            # BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP
            (1, BUTTON, "OK", 0x50030001, (178, 7, 50, 14)),
        ])

    def test_string_table_holds_only_the_about_entry(self):
        data, at, strings = self.data(RT_STRING, 101 // 16 + 1), 0, []
        for _ in range(16):
            length, = struct.unpack_from("<H", data, at)
            strings.append(data[at + 2:at + 2 + 2 * length].decode("utf-16-le"))
            at += 2 + 2 * length
        first = (101 // 16) * 16
        self.assertEqual(strings, ["&About Clipmend..." if first + i == 101 else ""
                                   for i in range(16)])

    def test_version_record_fixed_part(self):
        info = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual(
            [hex(v) for v in (info.Signature, info.StrucVersion, info.FileVersionMS,
                              info.FileVersionLS, info.ProductVersionMS, info.ProductVersionLS,
                              info.FileFlags & info.FileFlagsMask, info.FileOS, info.FileType,
                              info.FileSubtype, info.FileDateMS, info.FileDateLS)],
            # 1.0.0.1; not debug, prerelease...; VOS__WINDOWS32; VFT_APP
            [hex(v) for v in (0xFEEF04BD, 0x10000, 0x10000, 1, 0x10000, 1, 0, 4, 1, 0, 0, 0)])

    def test_version_record_strings_in_stored_order_with_exact_values(self):
        key, kind, _, children = version_node(self.data(RT_VERSION, 1))
        self.assertEqual((key, kind, len(children)), ("VS_VERSION_INFO", 0, 2))
        string_info, var_info = children
        self.assertEqual((string_info[0], len(string_info[3])), ("StringFileInfo", 1))
        table = string_info[3][0]
        self.assertEqual(table[0].upper(), "040904B0")  # language 0x0409, code page 0x04B0
        expected = [("Comments", ""), ("CompanyName", ""), ("FileDescription", "Clipmend "),
                    ("FileVersion", "1, 0, 0, 1"), ("InternalName", "Clipmend"),
                    ("LegalCopyright", None), ("LegalTrademarks", ""),
                    ("OriginalFilename", "Clipmend.EXE"), ("PrivateBuild", ""),
                    ("ProductName", "Clipmend "), ("ProductVersion", "1, 0, 0, 1"),
                    ("SpecialBuild", "")]
        self.assertEqual([c[0] for c in table[3]], [k for k, _ in expected])
        for (name, want), (_, kind, value, grand) in zip(expected, table[3]):
            with self.subTest(string=name):
                text = value.decode("utf-16-le").split("\0")[0]
                self.assertEqual((kind, grand), (1, []))
                if want is None:
                    self.assertIn("Velmora", text)  # our wording
                else:
                    self.assertEqual(text, want)
                # Nothing may hide after the terminator: the value is exactly the text.
                self.assertLessEqual(len(value) // 2, len(text) + 1)
        self.assertEqual((var_info[0], len(var_info[3])), ("VarFileInfo", 1))
        translation = var_info[3][0]
        self.assertEqual(translation[:3], ("Translation", 0, bytes([0x09, 0x04, 0xB0, 0x04])))

    def test_manifest_asks_for_admin_common_controls_6_and_utf8(self):
        text = self.data(RT_MANIFEST, 1).decode("utf-8")
        head = text[:text.index("?>")]
        for attribute in ('version="1.0"', 'standalone="yes"'):
            self.assertIn(attribute, head)
        self.assertIn('encoding="utf-8"', head.lower())
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        _, _, arch, comctl_arch = BUILDS[self.name]

        def only(parent, tag):
            found = [c for c in parent if c.tag.endswith("}" + tag) or c.tag == tag]
            self.assertEqual(len(found), 1, f"<{tag}> under <{parent.tag}>")
            return found[0]

        assembly = ET.fromstring(text.encode("utf-8"))
        self.assertEqual((assembly.tag, assembly.get("manifestVersion")),
                         (v1 + "assembly", "1.0"))
        identity = only(assembly, "assemblyIdentity")
        self.assertEqual((identity.get("version"), identity.get("processorArchitecture"),
                          identity.get("type")), ("1.0.0.0", arch, "win32"))
        self.assertTrue(identity.get("name"))
        self.assertEqual(only(assembly, "description").text, "Test Application")
        trust = only(assembly, "trustInfo")
        self.assertEqual(trust.tag, v3 + "trustInfo")
        level = only(only(only(trust, "security"), "requestedPrivileges"),
                     "requestedExecutionLevel")
        self.assertEqual((level.get("level"), level.get("uiAccess")),
                         ("requireAdministrator", "false"))
        comctl = only(only(only(assembly, "dependency"), "dependentAssembly"), "assemblyIdentity")
        self.assertEqual(dict(comctl.attrib), {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": comctl_arch, "publicKeyToken": "6595b64144ccf1df",
            "language": "*"})
        # The UTF-8 code page, so that every ANSI call of the process takes names in any script.
        application = only(assembly, "application")
        self.assertEqual(application.tag, v3 + "application")
        code_page = only(only(application, "windowsSettings"), "activeCodePage")
        self.assertEqual(
            (code_page.tag, code_page.text),
            ("{http://schemas.microsoft.com/SMI/2019/WindowsSettings}activeCodePage", "UTF-8"))

    def test_icon_is_one_32x32_image_24_bits_per_pixel(self):
        group = self.data(RT_GROUP_ICON, 128)
        self.assertEqual(struct.unpack_from("<HHH", group, 0), (0, 1, 1))
        width, height, colours, _, planes, bits, size, ident = struct.unpack_from(
            "<BBBBHHIH", group, 6)
        self.assertEqual((width, height, colours, planes, bits), (32, 32, 0, 1, 24))
        image = self.data(RT_ICON, ident)
        self.assertEqual(size, len(image))
        # 40-byte header, colour and mask doubling the height, no compression.
        self.assertEqual(struct.unpack_from("<IiiHHI", image, 0), (40, 32, 64, 1, 24, 0))
        # Header, 32 rows of 96 bytes of colour, 32 rows of a 4-byte mask.
        self.assertEqual(len(image), 40 + 32 * 96 + 32 * 4)

    def test_is_a_terminal_server_aware_gui_program_for_its_architecture(self):
        machine, magic, _, _ = BUILDS[self.name]
        optional = self.pe.OPTIONAL_HEADER
        self.assertEqual((hex(self.pe.FILE_HEADER.Machine), hex(optional.Magic)),
                         (hex(machine), hex(magic)))
        self.assertEqual(optional.Subsystem, 2)  # Windows GUI
        # In a remote session Windows then gives it the real Windows folder.
        self.assertTrue(optional.DllCharacteristics & 0x8000)


class Release32(BuildTest, unittest.TestCase):
    name = "Release32"

    def test_imports_only_from_dlls_windows_ships(self):
        imported = {e.dll.decode().lower() for e in self.pe.DIRECTORY_ENTRY_IMPORT}
        # Not the Open dialog's comdlg32, the shell's shell32 (drops), nor COM's ole32 and
        # oleaut32 (the link): they are loaded from the system folder when first needed, not at
        # every start.
        self.assertLessEqual(imported, {
            "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "advapi32.dll",
            "msvcrt.dll"})
        # A statically linked runtime still needs the system's core.
        self.assertLessEqual({"kernel32.dll", "user32.dll"}, imported)


class Test64(BuildTest, unittest.TestCase):
    name = "Test64"


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    PATHS["Release32"], PATHS["Test64"] = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
