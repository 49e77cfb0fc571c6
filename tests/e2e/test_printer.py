"""The printer steps of the real exe under Wine: the port, the driver, the printer, the default
printer and the proxy process that /Install leaves, and their removal by /Uninstall.

Wine 8 on a win64 prefix cannot add a printer from a 32-bit process for a driver registered only
for "Windows x64" (AddPrinterA fails with 87, where Windows's spooler takes its own x64 driver),
so there the first /Install stops at the printer, and a 64-bit helper creates it."""

import os
import unittest

import product
import wine
from product import DRIVER_FILES

PRINTER = "Tessix Tembrin Printer"
DRIVER = "Tessix Tembrin Printer Driver"
PORT = "TESSIX_TEMBRIN:"
PROXY = "QXN_ProxyProcess.exe"
SPOOL = r"C:\windows\system32\spool\drivers"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"


class PrinterCase(unittest.TestCase):
    arch = environment = driver_dir = view = suffix = None
    native_helper = False

    def setUp(self):
        self.prefix = wine.Prefix(self.arch)
        self.addCleanup(self.prefix.close)
        self.exe = wine.product_exe()
        product.set_install_path(self.prefix, product.INSTALL_DIR, view=self.view)
        product.seed_product_files(self.prefix)

    # -- helpers -------------------------------------------------------------
    def run_agent(self, command):
        self.assertEqual(self.prefix.run(self.exe, command), 0)

    def add_printer(self, name):
        self.assertEqual(product.add_printer(self.prefix, name, PORT, DRIVER,
                                             native=self.native_helper), 0,
                         "the helper could not add the printer")

    def content(self, windows_path):
        path = self.prefix.unix_path(windows_path)
        return path.read_text() if path.is_file() else None

    def printer_value(self, name):
        return self.prefix.reg_query(wine.HKLM_PRINT + r"\Printers" + "\\" + PRINTER, name,
                                     view=64)

    def recorded(self):
        return "Version" in self.prefix.reg_values(product.PRODUCT_KEY)

    def temporaries(self):
        found = []
        for directory in (self.driver_dir, self.driver_dir + r"\3"):
            path = self.prefix.unix_path(directory)
            if path.is_dir():
                found += [name for name in sorted(p.name for p in path.iterdir())
                          if name.lower().startswith("qntmp")]
        return found

    def install_working_printer(self):
        """A complete install; on a win64 prefix the helper adds the printer that Wine 8 refuses
        the 32-bit agent, and the second /Install completes."""
        self.run_agent("/Install")
        if PRINTER not in self.prefix.printers():
            self.add_printer(PRINTER)
            self.run_agent("/Install")
        self.assert_installed()

    def assert_no_restart_pending(self):
        """A healthy machine reads as needing no restart: no deletion waits for one."""
        self.assertIsNone(self.prefix.reg_query(SESSION_MANAGER, "PendingFileRenameOperations",
                                                view=64))

    # -- checks shared by both arches -----------------------------------------
    def assert_installed(self):
        self.assertIn(PORT, self.prefix.ports())
        self.assertIn(DRIVER, self.prefix.drivers(self.environment))
        self.assertEqual([p for p in self.prefix.printers() if p == PRINTER], [PRINTER])
        self.assertEqual(self.printer_value("Port"), PORT)
        self.assertEqual(self.printer_value("Printer Driver"), DRIVER)
        self.assertEqual(self.prefix.default_printer(), PRINTER)
        self.assertEqual(self.content(self.driver_dir + r"\3" + "\\" + PROXY),
                         f"product file QXN_ProxyProcess{self.suffix}.exe\n")
        self.assertTrue(self.recorded())
        self.assert_no_restart_pending()

    def assert_driver_files_placed(self):
        """The sources of this arch, under the plain names, in the directory and in "3"."""
        for name in DRIVER_FILES:
            stem, dot, ext = name.rpartition(".")
            expected = f"product file {stem}{self.suffix}.{ext}\n"
            self.assertEqual(self.content(self.driver_dir + "\\" + name), expected)
            self.assertEqual(self.content(self.driver_dir + r"\3" + "\\" + name), expected)

    # -- runs that cannot finish -------------------------------------------------
    def test_a_repair_with_a_source_file_missing_keeps_the_working_printer(self):
        self.install_working_printer()
        creator = self.prefix.unix_path(product.INSTALL_DIR + r"\plugins\creator")
        (creator / f"qelvpr_ui{self.suffix}.dll").unlink()
        self.run_agent("/Install")
        # Nothing was touched: the printer, its files, the proxy and the record are as they were.
        self.assert_installed()
        self.assert_driver_files_placed()
        self.assertEqual(self.temporaries(), [])

    def test_with_protected_print_mode_on_install_changes_nothing(self):
        policy = r"HKEY_LOCAL_MACHINE\Software\Policies\Microsoft\Windows NT\Printers\WPP"
        self.prefix.reg_import(f'[{policy}]\n"WindowsProtectedPrintGroupPolicyState"=dword:00000001\n',
                               view=self.view)
        state = lambda: (self.prefix.printers(), self.prefix.ports(),
                         self.prefix.drivers(self.environment), self.recorded(),
                         self.prefix.default_printer(),
                         sorted(p.name for p in self.prefix.unix_path(self.driver_dir).rglob("*")))
        before = state()
        self.run_agent("/Install")
        self.assertEqual(state(), before)

    def assert_uninstalled(self):
        self.assertEqual(self.prefix.printers(), [])
        self.assertNotIn(DRIVER, self.prefix.drivers(self.environment))
        self.assertNotIn(PORT, self.prefix.ports())
        self.assertIsNone(self.prefix.default_printer())
        self.assertFalse(self.prefix.exists(self.driver_dir + r"\3" + "\\" + PROXY))
        for name in DRIVER_FILES:
            self.assertFalse(self.prefix.exists(self.driver_dir + r"\3" + "\\" + name), name)
        self.assertEqual(self.temporaries(), [])
        self.assert_no_restart_pending()


class PrinterWin32(PrinterCase):
    arch, environment, view, suffix = "win32", "Windows NT x86", None, ""
    driver_dir = SPOOL + r"\w32x86"

    def test_install_twice_then_uninstall_every_printer_of_the_driver(self):
        self.run_agent("/Install")
        self.assert_installed()
        self.assert_driver_files_placed()

        self.run_agent("/Install")
        self.assertEqual(self.prefix.printers(), [PRINTER], "exactly one printer")
        self.assert_installed()

        self.add_printer("Tessix Tembrin Copy")
        self.assertEqual(sorted(self.prefix.printers()), ["Tessix Tembrin Copy", PRINTER])
        self.run_agent("/Uninstall")
        self.assert_uninstalled()
        # On 32-bit Windows the copies in the driver directory itself are left alone.
        for name in DRIVER_FILES:
            self.assertTrue(self.prefix.exists(self.driver_dir + "\\" + name), name)

    def test_read_only_plugin_files_install_three_times_then_uninstall(self):
        # Driver files often arrive read-only, from read-only media or with an MSI's read-only
        # attribute, and their copies keep the bit. Each install retires the copies of the one
        # before and copies over those in the driver directory itself: the printer must keep all
        # its files. (Wine run by root would overwrite and delete read-only files regardless.
        # Wine 8 also replaces hidden and system files, which Windows' CopyFile refuses as it
        # refuses read-only ones: the unit tests' simulation shows those.)
        self.assertNotEqual(os.getuid(), 0, "Windows' access checks need an ordinary user")
        creator = self.prefix.unix_path(product.INSTALL_DIR + r"\plugins\creator")
        for path in creator.iterdir():
            path.chmod(0o444)
        for run in range(3):
            with self.subTest(install=run + 1):
                self.run_agent("/Install")
                self.assert_installed()
                self.assert_driver_files_placed()
                self.assertEqual(self.temporaries(), [])
        self.run_agent("/Uninstall")
        self.assert_uninstalled()


class PrinterWin64(PrinterCase):
    arch, environment, view, suffix = "win64", "Windows x64", 64, "64"
    native_helper = True
    driver_dir = SPOOL + r"\x64"

    def test_install_stops_at_the_printer_then_completes_once_it_exists(self):
        self.run_agent("/Install")
        self.assertIn(PORT, self.prefix.ports())
        self.assertIn(DRIVER, self.prefix.drivers("Windows x64"))
        self.assertNotIn(DRIVER, self.prefix.drivers("Windows NT x86"))
        self.assert_driver_files_placed()
        # Wine refuses the printer: nothing after it ran.
        self.assertEqual(self.prefix.printers(), [])
        self.assertFalse(self.prefix.exists(self.driver_dir + r"\3" + "\\" + PROXY))
        self.assertIsNone(self.prefix.default_printer())
        self.assertFalse(self.recorded())
        self.assert_no_restart_pending()

        self.add_printer(PRINTER)
        self.run_agent("/Install")
        self.assert_installed()
        self.assert_driver_files_placed()

        # The driver is removed from "Windows x64", where it was registered.
        self.run_agent("/Uninstall")
        self.assert_uninstalled()
        self.assertEqual(self.prefix.drivers("Windows x64"), [])
        for name in DRIVER_FILES:
            self.assertFalse(self.prefix.exists(self.driver_dir + "\\" + name), name)


del PrinterCase  # a base class, not a test

if __name__ == "__main__":
    unittest.main()
