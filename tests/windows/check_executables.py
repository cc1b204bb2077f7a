#!/usr/bin/python3
"""What the Windows programs carry, read from the files themselves (no Wine needed).

check_executables.py RECEIVER.exe CAST.exe ICON.ico
- both are 64-bit and import system DLLs only (no runtime DLL has to travel with them);
- the receiver is a window program with icon group 101 (Chinese (PRC)), holding the one
  32 x 32 picture of ICON.ico; orrin-cast is a console program;
- both have the manifest: asInvoker without uiAccess, UTF-8 code page, and no DPI setting
  (the receiver declares that itself when it starts).
"""
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

# DLLs every 64-bit Windows has.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "crypt32.dll", "dinput8.dll", "dwmapi.dll",
    "gdi32.dll", "hid.dll", "imm32.dll", "iphlpapi.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "uxtheme.dll", "version.dll", "winmm.dll", "ws2_32.dll",
}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
GUI, CONSOLE = 2, 3
CHINESE_PRC = 0x0804


class Pe:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        assert d[:2] == b"MZ", f"{path}: not an executable"
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[pe:pe + 4] == b"PE\0\0", f"{path}: no PE header"
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", d, optional)[0]
        self.subsystem = struct.unpack_from("<H", d, optional + 68)[0]
        directories = optional + 112  # PE32+
        self.import_rva = struct.unpack_from("<I", d, directories + 8)[0]
        self.resource_rva = struct.unpack_from("<I", d, directories + 16)[0]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            vsize, vaddr, raw_size, raw_at = struct.unpack_from("<IIII", d, at + 8)
            self.sections.append((vaddr, max(vsize, raw_size), raw_at))

    def offset(self, rva):
        for vaddr, size, raw_at in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw_at + rva - vaddr
        raise ValueError(f"address {rva:#x} is in no section")

    def string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        names, at = [], self.offset(self.import_rva)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, at)
            if entry == (0, 0, 0, 0, 0):
                return names
            names.append(self.string(entry[3]).lower())
            at += 20

    def resources(self):
        """{(type, id, language): bytes} for resources with numeric type and id."""
        base = self.offset(self.resource_rva)

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, base + at + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + at + 16 + 8 * i)
                yield key, target

        found = {}
        for rtype, types in entries(0):
            for rid, ids in entries(types & 0x7FFFFFFF):
                for lang, leaf in entries(ids & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    found[(rtype, rid, lang)] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


def manifest_of(resources):
    texts = [v for (t, i, _), v in resources.items() if t == RT_MANIFEST and i == 1]
    assert len(texts) == 1, "one manifest with id 1"
    return ElementTree.fromstring(texts[0])


class ExecutablesTest(unittest.TestCase):
    def check_common(self, exe, subsystem):
        self.assertEqual(exe.magic, 0x20B, "PE32+")
        self.assertEqual(exe.machine, 0x8664, "x86-64")
        self.assertEqual(exe.subsystem, subsystem)
        foreign = sorted(set(exe.imports()) - SYSTEM_DLLS)
        self.assertEqual(foreign, [], "DLLs that Windows does not have")
        root = manifest_of(exe.resources())
        level = [e for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
        self.assertEqual(len(level), 1)
        self.assertEqual(level[0].get("level"), "asInvoker")
        self.assertEqual(level[0].get("uiAccess"), "false")
        codepage = [e.text for e in root.iter() if e.tag.endswith("}activeCodePage")]
        self.assertEqual(codepage, ["UTF-8"])
        dpi = [e.tag for e in root.iter() if "dpiaware" in e.tag.lower()]
        self.assertEqual(dpi, [], "DPI awareness is not the manifest's")

    def test_receiver(self):
        exe = Pe(RECEIVER)
        self.check_common(exe, GUI)
        resources = exe.resources()
        groups = {(i, lang): v for (t, i, lang), v in resources.items() if t == RT_GROUP_ICON}
        self.assertEqual(list(groups), [(101, CHINESE_PRC)])
        group = groups[(101, CHINESE_PRC)]
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 1))
        width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6)
        self.assertEqual((width, height, colours, planes, bits), (32, 32, 0, 1, 32))
        picture = resources[(RT_ICON, icon_id, CHINESE_PRC)]
        self.assertEqual(len(picture), size)
        # The very picture drawn for the icon file: directory of one, then the DIB.
        with open(ICON, "rb") as f:
            ico = f.read()
        self.assertEqual(picture, ico[6 + 16:])

    def test_cast(self):
        self.check_common(Pe(CAST), CONSOLE)


if __name__ == "__main__":
    RECEIVER, CAST, ICON = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1] + sys.argv[4:])
