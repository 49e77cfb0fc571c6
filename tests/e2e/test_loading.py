"""Where the real exe takes its libraries from, under Wine: nothing planted beside the agent is
loaded, the add-in finds the library it imports beside itself wherever the agent runs, nothing
comes from a folder that others may change, and the uninstall after a run that stopped before the
driver leaves no port.

The agent runs from a folder the user can write to, as when a user saves an installer to the
download folder. `winspool.drv=n,b` makes Wine's loader prefer a native winspool.drv the way
Windows treats any library that is none of its known DLLs: before this agent bound the spooler
at run time, Wine loaded a planted copy beside the exe at start-up."""

import shutil
import tempfile
import unittest
from pathlib import Path

import product
import wine
from product import FIXTURES, PROBE_KEY

PRINTER = "Tessix Tembrin Printer"
DRIVER = "Tessix Tembrin Printer Driver"
PORT = "TESSIX_TEMBRIN:"
DOWNLOADS = r"C:\users\Public\Downloads"
MARKER = r"C:\planted-library-ran.txt"


class LoadingWin32(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build_dir = Path(tempfile.mkdtemp(prefix="printer-setup-e2e-loading-"))
        out = cls.build_dir
        source = lambda name: (FIXTURES / name).read_text()
        cls.planted = wine.compile_dll(source("planted_library.c"), out, "planted_library")
        # The helper's import library lets the add-in import it by its plain name.
        cls.helper = wine.compile_dll(source("addin_helper.c"), out, "addin_helper",
                                      flags=(f"-Wl,--out-implib,{out / 'libaddin_helper.a'}",))
        cls.addin = wine.compile_dll(source("addin_probe.c"), out, "qlc_wordaddin",
                                     libs=("addin_helper", "ole32", "advapi32"),
                                     flags=("-DADDIN_HELPER", f"-L{out}"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.build_dir, ignore_errors=True)

    def setUp(self):
        self.prefix = wine.Prefix("win32")
        self.addCleanup(self.prefix.close)
        product.set_install_path(self.prefix, product.INSTALL_DIR)

    def place(self, source, windows_folder, name=None):
        target = self.prefix.unix_path(windows_folder + "\\" + (name or source.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(source, target)
        return target

    def run_agent(self, exe, command):
        self.assertEqual(self.prefix.run(exe, command), 0)

    def test_a_library_planted_beside_the_agent_never_runs(self):
        product.seed_product_files(self.prefix)
        exe = self.place(wine.product_exe(), DOWNLOADS)
        self.place(self.planted, DOWNLOADS, "winspool.drv")
        self.prefix.env["WINEDLLOVERRIDES"] += ";winspool.drv=n,b"

        self.run_agent(exe, "/Install")
        self.assertFalse(self.prefix.exists(MARKER), "the planted winspool.drv was loaded")
        self.assertIn(PRINTER, self.prefix.printers())
        self.assertIn(PORT, self.prefix.ports())

        self.run_agent(exe, "/Uninstall")
        self.assertFalse(self.prefix.exists(MARKER), "the planted winspool.drv was loaded")
        self.assertNotIn(PRINTER, self.prefix.printers())
        self.assertNotIn(DRIVER, self.prefix.drivers())
        self.assertNotIn(PORT, self.prefix.ports())

    def test_the_addin_finds_its_own_library_wherever_the_agent_runs(self):
        product.seed_product_files(self.prefix)
        self.place(self.addin, product.INSTALL_DIR)
        self.place(self.helper, product.INSTALL_DIR)
        for folder in (product.INSTALL_DIR, DOWNLOADS):
            with self.subTest(agent_in=folder):
                exe = self.place(wine.product_exe(), folder)
                product.set_install_path(self.prefix, product.INSTALL_DIR)  # /Uninstall took it
                self.prefix.reg_import(f"[-{PROBE_KEY.replace('HKCU', 'HKEY_CURRENT_USER')}]\n")
                self.run_agent(exe, "/Install")
                self.run_agent(exe, "/Uninstall")
                self.assertEqual(self.prefix.reg_query(PROBE_KEY, "Calls"),
                                 "DllRegisterServer:ole;DllUnregisterServer:ole;")

    def test_code_comes_only_from_a_folder_that_nobody_else_can_change(self):
        """Wine derives owners and DACLs from Unix owners and modes, and keeps none that a program
        sets: it reports the ordinary user's folders as owned by that user, the very account that
        runs the agent, with full control for SYSTEM and the owner and read and execute for
        Everyone, so the agent takes them, as every other test shows. A mode that lets others
        write gives Everyone write, delete and delete-child, and a drive Wine is told is a network
        drive is one: then the agent takes nothing. Windows' inherited entries, other accounts and
        FAT volumes Wine cannot show; the unit tests do."""
        product.seed_product_files(self.prefix)
        self.place(self.addin, product.INSTALL_DIR)
        self.place(self.helper, product.INSTALL_DIR)
        probe = wine.compile_exe((FIXTURES / "security_probe.c").read_text(), self.build_dir,
                                 "security_probe", libs=("advapi32",))
        user = "S-1-5-21-0-0-0-1000"
        self.assertEqual(self.prefix.run(probe, product.INSTALL_DIR), 0)
        self.assertEqual(self.prefix.last.stdout.split(),
                         [f"owner={user}", f"account={user}", "S-1-5-18:0x1f01ff",
                          f"{user}:0x1f01ff", "S-1-1-0:0x1200a9"])
        creator = product.INSTALL_DIR + r"\plugins\creator"
        for folder, unregistered in ((creator, "DllUnregisterServer:ole;"),
                                     (product.INSTALL_DIR, None)):
            with self.subTest(others_may_write=folder):
                self.prefix.unix_path(folder).chmod(0o757)
                self.prefix.run(probe, folder)
                self.assertEqual(self.prefix.last.stdout.split()[-1], "S-1-1-0:0x1301ff")
                self.prefix.reg_import(f"[-{PROBE_KEY.replace('HKCU', 'HKEY_CURRENT_USER')}]\n")
                self.run_agent(wine.product_exe(), "/Install")
                self.assertNotIn(PORT, self.prefix.ports())
                self.run_agent(wine.product_exe(), "/Uninstall")
                self.assertEqual(self.prefix.reg_query(PROBE_KEY, "Calls"), unregistered)
                self.prefix.unix_path(folder).chmod(0o755)
                product.set_install_path(self.prefix, product.INSTALL_DIR)
        (self.prefix.path / "dosdevices" / "e:").symlink_to("../drive_c")
        product.set_install_path(self.prefix, r"E:\Program Files\Tessix Tembrin")
        for kind, installs in (("hd", True), ("network", False)):
            with self.subTest(drive=kind):
                self.prefix.reg_import(
                    f'[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n"e:"="{kind}"\n')
                self.prefix.end_session()   # Wine reads the drive types as a session starts
                self.run_agent(wine.product_exe(), "/Install")
                self.assertEqual(PORT in self.prefix.ports(), installs)
                self.run_agent(wine.product_exe(), "/Uninstall")
                product.set_install_path(self.prefix, r"E:\Program Files\Tessix Tembrin")

    def test_an_uninstall_after_a_run_that_stopped_before_the_driver_leaves_no_port(self):
        # An install with a driver file missing changes nothing at all.
        names = [n for n in product.DRIVER_FILES if n != "qelvpr_ui.dll"]
        product.seed_product_files(self.prefix, files=names + ["QXN_ProxyProcess.exe"])
        exe = wine.product_exe()
        self.run_agent(exe, "/Install")
        self.assertNotIn(PORT, self.prefix.ports(), "nothing changes without every source")
        # A run killed after the port, or an earlier version's, leaves the port alone. Wine 8
        # answers 126 where Windows answers 1797 for the driver that is not there.
        self.prefix.reg_import(f"[{wine.HKLM_PORTS.replace('HKLM', 'HKEY_LOCAL_MACHINE')}]\n"
                               f'"{PORT}"=""\n', view=64)
        self.assertIn(PORT, self.prefix.ports())
        self.run_agent(exe, "/Uninstall")
        self.assertNotIn(PORT, self.prefix.ports())


if __name__ == "__main__":
    unittest.main()
