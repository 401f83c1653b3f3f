"""Checks that Windows programs and DLLs import KnownDLLs only:

    python3 tests/release/imports.py FILE...

Windows takes a KnownDLL from the system folder whatever lies elsewhere;
any other imported DLL is looked for in the program's own folder first,
where a planted one would run. Reads each file's import and delay-import
tables (PE32 and PE32+), prints one line per DLL that is not a KnownDLL
and per file that cannot be read, and exits 1 when there is any. (What a
file loads at run time is no import: the program and the custom actions
load WinINet, iphlpapi and msi.dll from the system folder only, src/win/system_dll.h.
mingw-w64's delay-load libraries, which leave the delay-import table
empty, are not used.)"""

import struct
import sys

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of
# Windows 10 and 11, without the WOW64 and emulation layers' own entries,
# which no program imports.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "wldap32.dll", "ws2_32.dll",
}

IMPORT_DIRECTORY, DELAY_IMPORT_DIRECTORY = 1, 13


def imported_dlls(data):
    """The names of the DLLs a PE file imports, directly or delay-loaded."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]
    count = struct.unpack_from("<I", data, directories - 4)[0]
    table = [struct.unpack_from("<8x4I", data, optional + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("address 0x%x is in no section" % rva)

    def name(rva):
        at = offset(rva)
        return data[at:data.index(b"\0", at)].decode("ascii").lower()

    found = []
    for index, size, name_at in ((IMPORT_DIRECTORY, 20, 12), (DELAY_IMPORT_DIRECTORY, 32, 4)):
        if index >= count:
            continue
        rva = struct.unpack_from("<I", data, directories + 8 * index)[0]
        if not rva:
            continue
        at = offset(rva)
        while any(data[at:at + size]):
            found.append(name(struct.unpack_from("<I", data, at + name_at)[0]))
            at += size
    return found


def main():
    bad = 0
    for path in sys.argv[1:]:
        try:
            dlls = imported_dlls(open(path, "rb").read())
        except (OSError, ValueError, KeyError, struct.error) as e:
            print("%s: cannot read its imports: %s" % (path, e))
            bad += 1
            continue
        for dll in dlls:
            if dll not in KNOWN_DLLS:
                print("%s imports %s, which is no KnownDLL" % (path, dll))
                bad += 1
        if not dlls:
            print("%s: no imports found" % path)
            bad += 1
    return 1 if bad or len(sys.argv) < 2 else 0


if __name__ == "__main__":
    sys.exit(main())
