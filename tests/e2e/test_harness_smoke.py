"""Checks that the Wine harness itself sees what the agent will rely on:
registry views, exit codes, file mapping and spooler state, on both arches."""

import atexit
import shutil
import struct
import tempfile
import unittest

import wine

# Writes HKLM\<key> <name> = <data> (REG_SZ) through the plain 32-bit API, the
# way the agent does.  With a single argument it just exits with that code.
SETVAL_C = r"""
#include <windows.h>
#include <stdlib.h>
int WINAPI WinMain(HINSTANCE h, HINSTANCE p, LPSTR cmd, int show) {
    HKEY k; LONG r;
    if (__argc < 4) return __argc > 1 ? atoi(__argv[1]) : 99;
    r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, __argv[1], 0, NULL, 0, KEY_SET_VALUE, NULL, &k, NULL);
    if (r) return 100 + r;
    r = RegSetValueExA(k, __argv[2], 0, REG_SZ, (const BYTE *)__argv[3], lstrlenA(__argv[3]) + 1);
    RegCloseKey(k);
    return r ? 200 + r : 0;
}
"""

# addprn <driver> <printer> <port>: adds <port> through the Local Port monitor,
# a driver backed by Wine's PostScript driver, a printer on that port, and
# makes it the default.  Exit code tells which step failed.
ADDPRN_C = r"""
#include <windows.h>
#include <winspool.h>
#include <stdio.h>
int WINAPI WinMain(HINSTANCE h, HINSTANCE p, LPSTR cmd, int show) {
    PRINTER_DEFAULTSA pd = {NULL, NULL, SERVER_ACCESS_ADMINISTER};
    DRIVER_INFO_3A di = {0}; PRINTER_INFO_2A pi = {0};
    char dir[MAX_PATH], ppd[MAX_PATH]; WCHAR port[MAX_PATH]; DWORD n, st; HANDLE x;
    if (__argc < 4) return 99;
    if (!OpenPrinterA(",XcvMonitor Local Port", &x, &pd)) return 1000 + GetLastError();
    MultiByteToWideChar(CP_ACP, 0, __argv[3], -1, port, MAX_PATH);
    if (!XcvDataW(x, L"AddPort", (BYTE *)port, (lstrlenW(port) + 1) * 2, NULL, 0, &n, &st)) return 1100 + GetLastError();
    ClosePrinter(x);
    if (st) return 1200 + st;
    /* the data file only has to exist in the driver directory */
    if (!GetPrinterDriverDirectoryA(NULL, NULL, 1, (BYTE *)dir, sizeof dir, &n)) return 2000 + GetLastError();
    snprintf(ppd, sizeof ppd, "%s\\e2e.ppd", dir);
    x = CreateFileA(ppd, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (x == INVALID_HANDLE_VALUE) return 2100 + GetLastError();
    CloseHandle(x);
    di.cVersion = 3; di.pName = __argv[1];
    di.pDriverPath = "wineps.drv"; di.pDataFile = "e2e.ppd"; di.pConfigFile = "wineps.drv";
    if (!AddPrinterDriverExA(NULL, 3, (BYTE *)&di, APD_COPY_NEW_FILES)) return 3000 + GetLastError();
    pi.pPrinterName = __argv[2]; pi.pPortName = __argv[3]; pi.pDriverName = __argv[1];
    pi.pPrintProcessor = "winprint"; pi.pDatatype = "RAW";
    if (!(x = AddPrinterA(NULL, 2, (BYTE *)&pi))) return 4000 + GetLastError();
    ClosePrinter(x);
    if (!SetDefaultPrinterA(__argv[2])) return 5000 + GetLastError();
    return 0;
}
"""

_exes = {}


def fixture_exe(name):
    """Compile a fixture program once per session."""
    if not _exes:
        out = tempfile.mkdtemp(prefix="printer-setup-e2e-fixtures-")
        atexit.register(shutil.rmtree, out, True)
        _exes["setval"] = wine.compile_exe(SETVAL_C, out, "setval")
        _exes["addprn"] = wine.compile_exe(ADDPRN_C, out, "addprn", libs=["winspool"])
    return _exes[name]


KEY = r"Software\PrinterSetupE2E"


class HarnessChecks:
    ARCH = None

    def setUp(self):
        self.wp = wine.Prefix(self.ARCH)
        self.addCleanup(self.wp.close)

    def test_run_returns_program_exit_code(self):
        self.assertEqual(self.wp.run(fixture_exe("setval"), "7"), 7)
        self.assertEqual(self.wp.run(fixture_exe("setval"), "0"), 0)

    def test_reg_import_and_query_round_trip(self):
        self.wp.reg_import(r"""
[HKEY_LOCAL_MACHINE\Software\PrinterSetupE2E]
@="default data"
"Spaced Name"="a  b    c"
"Empty"=""
"Count"=dword:0000002a
"Path"=hex(2):25,00,54,00,4d,00,50,00,25,00,00,00
[HKEY_LOCAL_MACHINE\Software\PrinterSetupE2E\Child]
""")
        wp, key = self.wp, "HKLM\\" + KEY
        self.assertTrue(wp.reg_key_exists(key))
        self.assertFalse(wp.reg_key_exists(key + r"\Missing"))
        self.assertEqual(wp.reg_query(key, "Spaced Name"), "a  b    c")
        self.assertEqual(wp.reg_query(key, "Empty"), "")
        self.assertEqual(wp.reg_query(key, "Count"), "0x2a")
        self.assertEqual(wp.reg_type(key, "Count"), "REG_DWORD")
        self.assertEqual(wp.reg_query(key, "Path"), "%TMP%")
        self.assertEqual(wp.reg_type(key, "Path"), "REG_EXPAND_SZ")
        self.assertEqual(wp.reg_query(key, None), "default data")
        self.assertIsNone(wp.reg_query(key, "Nope"))
        self.assertIsNone(wp.reg_query(key + r"\Child", None))
        self.assertEqual(wp.reg_values(key), {"": "default data", "Spaced Name": "a  b    c",
                                              "Empty": "", "Count": "0x2a", "Path": "%TMP%"})
        self.assertEqual(wp.reg_subkeys(key), ["Child"])
        self.assertEqual(wp.reg_values(key + r"\Missing"), {})

    def test_32bit_program_writes_land_in_the_32bit_view(self):
        rc = self.wp.run(fixture_exe("setval"), KEY, "Probe", "from 32-bit")
        self.assertEqual(rc, 0, self.wp.last)
        key, wow = "HKLM\\" + KEY, r"HKLM\Software\Wow6432Node\PrinterSetupE2E"
        self.assertEqual(self.wp.reg_query(key, "Probe", view=32), "from 32-bit")
        if self.ARCH == "win64":
            self.assertIsNone(self.wp.reg_query(key, "Probe", view=64))
            self.assertEqual(self.wp.reg_query(wow, "Probe", view=64), "from 32-bit")
        else:
            self.assertEqual(self.wp.reg_query(key, "Probe"), "from 32-bit")
            self.assertFalse(self.wp.reg_key_exists(wow))

    def test_unix_path_maps_case_insensitively(self):
        wp = self.wp
        kernel = wp.unix_path(r"c:\WINDOWS\System32\KERNEL32.DLL")
        self.assertEqual(kernel, wp.path / "drive_c/windows/system32/kernel32.dll")
        self.assertTrue(kernel.is_file())
        self.assertTrue(wp.exists(r"C:\windows\system32\kernel32.dll"))
        self.assertFalse(wp.exists(r"C:\windows\no such dir\x.txt"))
        self.assertEqual(wp.unix_path(r"C:\Windows\New Dir\X.txt"),
                         wp.path / "drive_c/windows/New Dir/X.txt")
        # a file written by a Windows program is found through the mapping
        r = wp.wine("cmd", "/c", r"echo hi> C:\users\Public\E2EProbe.txt")
        wp.wait()
        self.assertEqual(r.returncode, 0, r)
        self.assertTrue(wp.exists(r"C:\Users\public\e2eprobe.TXT"))

    def test_spooler_helpers_see_printer_port_driver_and_default(self):
        wp = self.wp
        self.assertEqual(wp.printers(), [])
        self.assertIsNone(wp.default_printer())
        self.assertIn("LPT1:", wp.ports())
        self.assertNotIn(r"C:\e2e.prn", wp.ports())
        rc = wp.run(fixture_exe("addprn"), "E2E Driver", "E2E Printer", r"C:\e2e.prn")
        self.assertEqual(rc, 0, wp.last)
        self.assertEqual(wp.printers(), ["E2E Printer"])
        self.assertEqual(wp.default_printer(), "E2E Printer")
        self.assertIn(r"C:\e2e.prn", wp.ports())
        # Wine files a 32-bit caller's driver under the x86 environment even
        # in a win64 prefix
        self.assertIn("E2E Driver", wp.drivers("Windows NT x86"))
        self.assertNotIn("E2E Driver", wp.drivers("Windows x64"))


class Win32(HarnessChecks, unittest.TestCase):
    ARCH = "win32"


class Win64(HarnessChecks, unittest.TestCase):
    ARCH = "win64"

    def test_64bit_view_import_is_invisible_to_32bit_view(self):
        self.wp.reg_import(r"""
[HKEY_LOCAL_MACHINE\Software\PrinterSetupE2E]
"Only64"="yes"
""", view=64)
        key = "HKLM\\" + KEY
        self.assertEqual(self.wp.reg_query(key, "Only64", view=64), "yes")
        self.assertIsNone(self.wp.reg_query(key, "Only64", view=32))
        self.assertFalse(self.wp.reg_key_exists(r"HKLM\Software\Wow6432Node\PrinterSetupE2E", view=64))

    def test_32bit_view_import_lands_in_wow6432node(self):
        self.wp.reg_import(r"""
[HKEY_LOCAL_MACHINE\Software\PrinterSetupE2E]
"Only32"="yes"
""", view=32)
        self.assertEqual(self.wp.reg_query(r"HKLM\Software\Wow6432Node\PrinterSetupE2E",
                                           "Only32", view=64), "yes")
        self.assertIsNone(self.wp.reg_query("HKLM\\" + KEY, "Only32", view=64))

    def test_reg_without_view_flag_uses_32bit_view(self):
        # wine.py relies on this: plain `wine reg` is the 32-bit reg.exe
        self.wp.reg_import('[HKEY_LOCAL_MACHINE\\Software\\PrinterSetupE2E]\n"V"="x"\n')
        self.assertEqual(self.wp.reg_query("HKLM\\" + KEY, "V", view=32), "x")
        self.assertIsNone(self.wp.reg_query("HKLM\\" + KEY, "V", view=64))


class ProductExe(unittest.TestCase):
    def test_product_exe_is_built_as_32bit_gui_pe(self):
        data = wine.product_exe().read_bytes()
        self.assertEqual(data[:2], b"MZ")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(data[pe:pe + 4], b"PE\0\0")
        machine = struct.unpack_from("<H", data, pe + 4)[0]
        subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
        self.assertEqual(machine, 0x14C, "expected i386 image")
        self.assertEqual(subsystem, 2, "expected GUI subsystem (no console window)")


if __name__ == "__main__":
    unittest.main()
