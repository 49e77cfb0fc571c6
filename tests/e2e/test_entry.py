"""Start-up and command dispatch of the real exe: what /Install records, which commands run
nothing, and which registry view each value comes from on 64-bit Windows."""

import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import pe
import product
import wine
from product import FIXTURES, PRODUCT_KEY, RUNONCE_KEY

APPDATA_COMPLETION = r"\Tessix Software\Tessix Tembrin\TembrinInstallComplete.exe"
PRINTER, DRIVER, PORT = "Tessix Tembrin Printer", "Tessix Tembrin Printer Driver", "TESSIX_TEMBRIN:"


class EntryWin32(unittest.TestCase):
    arch = "win32"
    stored_runonce_key = RUNONCE_KEY

    def setUp(self):
        self.prefix = wine.Prefix(self.arch)
        self.addCleanup(self.prefix.close)
        self.exe = wine.product_exe()

    def install(self, install_path, view=None):
        product.set_install_path(self.prefix, install_path, view=view)
        product.seed_product_files(self.prefix, install_path)
        self.assertEqual(self.prefix.run(self.exe, "/Install"), 0)

    def test_install_records_itself_with_the_normalised_install_path(self):
        self.install(product.INSTALL_DIR)
        values = self.prefix.reg_values(PRODUCT_KEY)
        self.assertEqual(values.get("InstallPath"), product.INSTALL_DIR + "\\")
        self.assertEqual(values.get("Version"), "2.0.0.0424")
        self.assertEqual(values.get("IsForAllUser"), "")
        self.assertEqual(values.get("Language"), "1033")
        self.assertEqual(self.prefix.reg_type(PRODUCT_KEY, "IsForAllUser"), "REG_SZ")

    def test_install_asks_for_the_completion_program_at_next_logon(self):
        self.install(product.INSTALL_DIR + "\\")
        # Read from the saved registry: the next Wine session would run and delete the entry.
        command = self.prefix.saved_value(self.stored_runonce_key, "TembrinInstallComplete")
        self.assertIsNotNone(command)
        # Quoted: Windows would split the path at its first blank.
        self.assertTrue(command.startswith('"') and command.endswith(APPDATA_COMPLETION + '"'),
                        command)
        # The folder part is the user's application-data folder, a real directory of the prefix.
        folder = command[1: -len(APPDATA_COMPLETION) - 1]
        self.assertRegex(folder, r"^C:\\users\\.+\\(AppData\\Roaming|Application Data)$")
        self.assertTrue(self.prefix.exists(folder), folder)

    def test_commands_that_run_nothing(self):
        product.set_install_path(self.prefix, product.INSTALL_DIR)
        product.seed_product_files(self.prefix)
        for args in (("/install",), ("/INSTALL",), ("/Install ",), ("/Install", "/quiet"), (),
                     ("Install",), ("/Uninstall2",)):
            with self.subTest(args=args):
                self.assertEqual(self.prefix.run(self.exe, *args), 0)
                self.assertNotIn("Version", self.prefix.reg_values(PRODUCT_KEY))
                self.assertIsNone(self.prefix.saved_value(self.stored_runonce_key,
                                                          "TembrinInstallComplete"))


class EntryWin64(EntryWin32):
    arch = "win64"
    # The 32-bit process writes into the 32-bit view.
    stored_runonce_key = RUNONCE_KEY.replace("Software", r"Software\Wow6432Node", 1)

    def install(self, install_path, view=64):
        super().install(install_path, view=view)
        # Wine 8 refuses this 32-bit process the printer of the x64 driver, which ends the
        # install at the printer: a 64-bit helper adds it, and the install runs again.
        self.assertEqual(product.add_printer(self.prefix, "Tessix Tembrin Printer", native=True), 0)
        self.assertEqual(self.prefix.run(self.exe, "/Install"), 0)

    def test_install_path_comes_from_the_64_bit_view_and_the_record_lands_in_the_32_bit_one(self):
        product.set_install_path(self.prefix, r"C:\Wrong32", view=32)
        self.install(product.INSTALL_DIR, view=64)
        self.assertEqual(self.prefix.reg_query(PRODUCT_KEY, "InstallPath", view=32),
                         product.INSTALL_DIR + "\\")
        self.assertEqual(self.prefix.reg_query(PRODUCT_KEY, "InstallPath", view=64),
                         product.INSTALL_DIR, "the 64-bit value is only read")
        self.assertEqual(self.prefix.reg_query(PRODUCT_KEY, "Version", view=32), "2.0.0.0424")
        self.assertIsNone(self.prefix.reg_query(PRODUCT_KEY, "Version", view=64))


class OneRunAtATime(unittest.TestCase):
    """Two runs started together while a helper holds the agent's lock, as a run still at work
    would: neither changes anything until it lets go, then they run one after the other and
    leave the machine whole. Wine wakes a mutex's waiters in the order they came.

    The agent takes its lock in a private namespace where kernel32 has the calls for one, and in
    Global\\ where it has none, as on XP. Wine 8 has none (its CreateBoundaryDescriptorW is a
    stub that returns NULL), so there the helper holds Global\\ as the agent takes it, and a name
    that a user takes in Global\\ shows what it costs where no namespace protects the lock."""

    NAMESPACE_CALLS = {"CreateBoundaryDescriptorA", "AddSIDToBoundaryDescriptor",
                       "DeleteBoundaryDescriptor", "CreatePrivateNamespaceA",
                       "OpenPrivateNamespaceA", "ClosePrivateNamespace"}

    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="printer-setup-e2e-lock-"))
        cls.helper = wine.compile_exe((FIXTURES / "hold_lock.c").read_text(), cls.scratch,
                                      "hold_lock")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def start(self, prefix, *args):
        return subprocess.Popen([wine.WINE, *map(str, args)], env=prefix.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def hold(self, prefix, name, held, *event):
        self.start(prefix, self.helper, name, held, r"C:\release", *event)
        for _ in range(600):   # until the helper holds it
            if not prefix.exists(held):
                time.sleep(0.1)

    def test_wine_8_has_no_private_namespace_calls(self):
        with wine.Prefix("win32") as prefix:
            kernel32 = pe.PeFile(prefix.unix_path(r"C:\windows\system32\kernel32.dll"))
            self.assertFalse(self.NAMESPACE_CALLS & kernel32.exported_names(),
                             "the helpers must take the lock in the agent's namespace now")

    def test_runs_started_together_wait_for_each_other_in_either_order(self):
        for commands in (("/Install", "/Uninstall"), ("/Uninstall", "/Install")):
            with self.subTest(first=commands[0]), wine.Prefix("win32") as prefix:
                product.set_install_path(prefix, product.INSTALL_DIR)
                product.seed_product_files(prefix)
                if commands[0] == "/Uninstall":   # something for it to take away
                    prefix.run(wine.product_exe(), "/Install")
                state = lambda: (PORT in prefix.ports(), DRIVER in prefix.drivers(),
                                 prefix.printers() == [PRINTER],
                                 "Version" in prefix.reg_values(PRODUCT_KEY))
                before = state()
                self.hold(prefix, r"Global\TessixTembrinPrinterSetup", r"C:\held")
                runs = []
                for command in commands:
                    runs.append(self.start(prefix, wine.product_exe(), command))
                    time.sleep(3)   # the first waits before the second starts
                self.assertEqual([run.poll() for run in runs], [None, None], "both wait")
                self.assertEqual(state(), before, "nothing changed while it was held")
                prefix.unix_path(r"C:\release").touch()
                self.assertEqual([run.wait(timeout=180) for run in runs], [0, 0])
                self.assertIn(set(state()), ({True}, {False}), "whole")

    def test_a_name_taken_in_global_is_no_lock_and_never_the_sessions_own(self):
        """A user's event of the lock's name in Global\\: the run goes on at once without a lock,
        never with a mutex of its session's own name, which another run in another session would
        not see; one held there here would keep it waiting."""
        with wine.Prefix("win32") as prefix:
            product.set_install_path(prefix, product.INSTALL_DIR)
            product.seed_product_files(prefix)
            self.hold(prefix, r"Global\TessixTembrinPrinterSetup", r"C:\squatted", "event")
            self.hold(prefix, "TessixTembrinPrinterSetup", r"C:\held")
            started = time.monotonic()
            self.assertEqual(prefix.run(wine.product_exe(), "/Install"), 0)
            self.assertLess(time.monotonic() - started, 30, "it waited for the session's name")
            self.assertEqual(prefix.printers(), [PRINTER])
            prefix.unix_path(r"C:\release").touch()


if __name__ == "__main__":
    unittest.main()
