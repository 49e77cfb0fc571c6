"""The installer examples of integration/, as scripts/installers builds them around the exe, run
silently the way a deployment system runs them: waited for, and judged by their exit codes."""

import contextlib
import functools
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

import product
import wine
from product import FIXTURES

PRINTER = "Tessix Tembrin Printer"
DRIVER = "Tessix Tembrin Printer Driver"
PORT = "TESSIX_TEMBRIN:"
INSTALLERS = wine.REPO_ROOT / "build" / "installers"
INSTALL_DIR = r"C:\Program Files\Tessix Tembrin"
PROXY = r"C:\windows\system32\spool\drivers\w32x86\3\QXN_ProxyProcess.exe"
UNINSTALLS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_KEY = UNINSTALLS + r"\Tessix Tembrin"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
LOADED_DRIVER_FILE = r"C:\windows\system32\spool\drivers\w32x86\3\qelvpr_ui.dll"
# Wine's exit codes keep the low byte: 3010 is a restart due, 1627 the failure of a custom action
# (where Windows Installer returns 1603), 1603 the refusal of a launch condition.
RESTART_DUE, ACTION_FAILED, REFUSED = 3010 & 0xFF, 1627 & 0xFF, 1603 & 0xFF


def installer(name):
    path = INSTALLERS / name
    if not path.is_file():
        raise AssertionError(f"{path} missing (run scripts/installers)")
    return path


BUILT = []   # the folder of the fixtures built for this module, once one is


def tearDownModule():
    for folder in BUILT:
        shutil.rmtree(folder, ignore_errors=True)


@functools.cache
def built(source, name, kind):
    """A fixture, built once for the module."""
    if not BUILT:
        BUILT.append(Path(tempfile.mkdtemp(prefix="printer-setup-e2e-installers-")))
    compile_fixture = wine.compile_dll if kind == "dll" else wine.compile_exe
    return compile_fixture((FIXTURES / source).read_text(), BUILT[0], name)


@contextlib.contextmanager
def held(prefix, path, load=False):
    """A program that holds the file: open for reading, so that it cannot be deleted, or loaded as
    a library, so that the agent can only rename it and the renamed file goes at the restart."""
    holder = subprocess.Popen([wine.WINE, built("hold_file.c", "hold_file", "exe"), path,
                               r"C:\held", r"C:\release", *(["load"] if load else [])],
                              env=prefix.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    while not prefix.exists(r"C:\held") and holder.poll() is None:
        time.sleep(0.05)
    if holder.poll() is not None:
        raise AssertionError(f"{path} could not be held ({holder.returncode})")
    try:
        yield
    finally:
        prefix.unix_path(r"C:\release").touch()
        holder.wait(timeout=60)
        for name in (r"C:\held", r"C:\release"):
            prefix.unix_path(name).unlink(missing_ok=True)


def table(package, name):
    """The rows of a table of a built package, as msitools exports them (three header lines)."""
    export = subprocess.run(["msiinfo", "export", installer(package), name], check=True,
                            capture_output=True, text=True).stdout
    return [row.split("\t") for row in export.splitlines()[3:]]


class MsiTables(unittest.TestCase):
    """What Wine cannot show: its RemoveExistingProducts passes REMOVE=ALL alone, never setting the
    guard UPGRADINGPRODUCTCODE; it deletes the files before it runs rollback actions; its AppSearch
    reads no REG_MULTI_SZ, so the restart is never scheduled there."""

    def test_each_package_upgrades_checks_rolls_back_and_asks_for_a_due_restart(self):
        for package, bits in (("tembrin.msi", 0), ("tembrin-x64.msi", 256)):
            with self.subTest(package=package):
                components = table(package, "Component")
                self.assertEqual({int(row[3]) & 256 for row in components}, {bits}, "64-bit")
                version = dict(row[:2] for row in table(package, "Property"))["ProductVersion"]
                self.assertIn(["", version, "513", "WIX_UPGRADE_DETECTED"],
                              [row[1:3] + row[4:5] + row[6:] for row in table(package, "Upgrade")],
                              "a build of the same three-field version is replaced")
                rollback, check = 18 | 0x40 | 0x400 | 0x100 | 0x800, 50 | 0x400 | 0x800
                types = {row[0]: int(row[1]) for row in table(package, "CustomAction")}
                self.assertLessEqual({"RollbackPrinter": rollback, "ReinstallPrinter": rollback,
                                      "CheckPrinterInstalled": check, "CheckPrinterRemoved": check,
                                      "RestoreInstallPath": None if bits else rollback + 32}.items(),
                                     {"RestoreInstallPath": None, **types}.items())
                rows = sorted(table(package, "InstallExecuteSequence"), key=lambda r: int(r[2]))
                actions = [row[0] for row in rows]
                follows = lambda action: actions[actions.index(action) + 1]
                self.assertEqual([follows(action) for action in (
                    "InstallInitialize", "WriteRegistryValues", "RollbackPrinter",
                    "InstallPrinter", "UninstallPrinter", "CheckPrinterRemoved",
                    "InstallFinalize", "AppSearch")], [
                    "RemoveExistingProducts", "RollbackPrinter", "InstallPrinter",
                    "CheckPrinterInstalled", "CheckPrinterRemoved", "RemoveRegistryValues",
                    "AppSearch", "ScheduleReboot"])
                self.assertEqual(actions[actions.index("UninstallPrinter") - (1 if bits else 2)],
                                 "ReinstallPrinter", "its InstallPath back first")
                conditions = {row[0]: row[1] for row in rows}
                self.assertEqual({conditions[action] for action in (
                    "ReinstallPrinter", "UninstallPrinter", "CheckPrinterRemoved")},
                    {'REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE'})
                self.assertEqual(conditions["CheckPrinterInstalled"], conditions["InstallPrinter"])
                self.assertEqual(conditions["ScheduleReboot"],
                                 r'RESTARTTIMEFILES ~>< "\spool\drivers\"')
                self.assertEqual(table(package, "RegLocator")[0][1:], [
                    "2", r"SYSTEM\CurrentControlSet\Control\Session Manager",
                    "PendingFileRenameOperations", "2"])
        self.assertFalse(set.intersection(*({row[1] for row in table(package, "Component")}
                                            for package in ("tembrin.msi", "tembrin-x64.msi"))))
        self.assertIn("tembrin-x64.msi", dict(table("tembrin.msi", "LaunchCondition"))
                      ["NOT VersionNT64"])


class InstallerCase(unittest.TestCase):
    arch = "win32"

    def setUp(self):
        self.prefix = wine.Prefix(self.arch)
        self.addCleanup(self.prefix.close)

    def assert_printer_installed(self):
        self.assertIn(PORT, self.prefix.ports())
        self.assertIn(DRIVER, self.prefix.drivers())
        self.assertEqual(self.prefix.printers(), [PRINTER])
        self.assertTrue(self.prefix.exists(PROXY))
        self.assertEqual(self.prefix.reg_query(product.PRODUCT_KEY, "Version"), "2.0.0.0424")

    def assert_printer_removed(self):
        self.assertNotIn(PORT, self.prefix.ports())
        self.assertNotIn(DRIVER, self.prefix.drivers())
        self.assertEqual(self.prefix.printers(), [])
        self.assertFalse(self.prefix.exists(PROXY))
        self.assertFalse(self.prefix.reg_key_exists(product.PRODUCT_KEY))

    def pending(self):
        """What waits for the next restart. Read while the session lives: Wine carries it out
        when the next one starts, as Windows does at a restart."""
        return self.prefix.reg_query(SESSION_MANAGER, "PendingFileRenameOperations") or ""

    def driver_file_loaded(self):
        product.write_file(self.prefix, LOADED_DRIVER_FILE,
                           built("addin_helper.c", "qelvpr_ui", "dll").read_bytes())
        return held(self.prefix, LOADED_DRIVER_FILE, load=True)

    def products(self, view=None):
        return [key for key in self.prefix.reg_subkeys(UNINSTALLS, view=view)
                if key.startswith("{") and self.prefix.reg_query(
                    UNINSTALLS + "\\" + key, "DisplayName", view=view) == "Tessix Tembrin"]


class Nsis(InstallerCase):
    def test_quiet_uninstall_leaves_nothing_for_a_restart_and_reports_one_that_is_due(self):
        setup, folder = installer("tembrin-setup.exe"), r"C:\Apps\Tembrin"
        install = lambda: self.prefix.run(setup, "/S", "/D=" + folder)
        self.assertEqual(install(), 0, "0: the record stands")
        self.assertEqual(self.prefix.run(setup, "/S"), 0, "a repair, into the same folder")
        self.assertEqual(self.prefix.reg_query(product.PRODUCT_KEY, "InstallPath"), folder + "\\")
        entry = self.prefix.reg_values(UNINSTALL_KEY)
        self.assertEqual((entry["DisplayVersion"], entry["Publisher"]),
                         ("2.0.0.424", "Tessix Software"))

        # As it stands (no blank in the folder); waited for as deployment systems wait: its
        # process. A reinstall that starts at once keeps its own uninstaller: held open, the old
        # one outlasts the clean-up's first tries, and the reinstall writes over it.
        quiet = entry["QuietUninstallString"].replace('"', "").split()
        with held(self.prefix, folder + r"\uninstall.exe"):
            self.assertEqual(self.prefix.run(*quiet), 0)
            self.assert_printer_removed()
            self.assertEqual(install(), 0)
        self.assertEqual(self.pending(), "")
        self.prefix.wait()
        self.assertTrue(self.prefix.exists(folder + r"\uninstall.exe"))
        self.assert_printer_installed()

        # Without its agent (quarantined, say) the uninstall fails, and can run again.
        agent = self.prefix.unix_path(folder + r"\printer-setup.exe")
        agent.unlink()
        self.assertEqual(self.prefix.run(*quiet), 2)
        self.assertEqual(self.prefix.printers(), [PRINTER])
        self.assertEqual(self.prefix.reg_values(UNINSTALL_KEY), entry)
        shutil.copy(wine.product_exe(), agent)

        with self.driver_file_loaded():
            self.assertEqual(self.prefix.run(*quiet), RESTART_DUE)
            self.assertIn(r"\spool\drivers", self.pending())
            self.assertNotIn(folder, self.pending())
        self.assert_printer_removed()
        self.prefix.wait()
        self.assertFalse(self.prefix.exists(folder), "the uninstaller and its folder went")


class NsisWin64(InstallerCase):
    arch = "win64"

    def test_an_install_that_leaves_no_printer_fails_and_can_be_removed(self):
        # Wine refuses the printer (see MsiWin64): the agent writes no record.
        folder = r"C:\Apps\Tembrin"
        self.assertEqual(self.prefix.run(installer("tembrin-setup.exe"), "/S", "/D=" + folder), 2)
        self.assertEqual(self.prefix.reg_query(product.PRODUCT_KEY, "InstallPath", view=64), folder)
        quiet = self.prefix.reg_query(UNINSTALL_KEY, "QuietUninstallString")
        self.assertEqual(self.prefix.run(*quiet.replace('"', "").split()), 0)
        self.prefix.wait()
        self.assertFalse(self.prefix.exists(folder))


class Msi(InstallerCase):
    # Wine runs the deferred, non-impersonated actions as the logged-on user; Windows runs them
    # as LocalSystem (see the README), which changes nothing that is checked here.
    def test_a_build_of_the_same_release_replaces_the_installed_one(self):
        package, next_build = installer("tembrin.msi"), installer("test/tembrin-2.0.0.425.msi")
        self.assertEqual(self.prefix.run("msiexec", "/i", package, "/qn", "/norestart"), 0)
        self.assert_printer_installed()
        first = self.products()
        self.assertEqual(self.prefix.run("msiexec", "/i", next_build, "/qn", "/norestart"), 0)
        self.assertEqual(len(self.products()), 1)
        self.assertNotEqual(self.products(), first, "2.0.0.425 in the place of 2.0.0.424")
        self.assert_printer_installed()

        # Windows Installer returns 3010 here; Wine's AppSearch reads no REG_MULTI_SZ.
        with self.driver_file_loaded():
            self.assertEqual(self.prefix.run("msiexec", "/x", next_build, "/qn", "/norestart"), 0)
            self.assertIn(r"\spool\drivers", self.pending())
        self.assert_printer_removed()
        self.assertEqual(self.products(), [])
        self.assertFalse(self.prefix.exists(INSTALL_DIR))


class MsiWin64(InstallerCase):
    """Wine 8 refuses a 32-bit process the printer of an x64 driver: a 64-bit helper adds it."""
    arch = "win64"

    def test_packages_refuse_roll_back_without_a_printer_and_set_it_up_and_remove_it(self):
        x64 = installer("tembrin-x64.msi")
        # Wine shows the launch condition's message nowhere.
        self.assertEqual(self.prefix.run("msiexec", "/i", installer("tembrin.msi"), "/qn"),
                         REFUSED)
        # Wine refuses the printer: no record, so the check fails the installation, which is
        # rolled back. (Under Wine the rollback cannot run the agent, whose file is gone.)
        self.assertEqual(self.prefix.run("msiexec", "/i", x64, "/qn", "/norestart"), ACTION_FAILED)
        self.assertEqual(self.products(view=64), [])
        self.assertIsNone(self.prefix.reg_query(product.PRODUCT_KEY, "InstallPath", view=64))
        self.assertFalse(self.prefix.exists(INSTALL_DIR))

        # With the printer there, as on Windows, where the spooler takes the x64 driver itself.
        product.set_install_path(self.prefix, INSTALL_DIR, view=64)
        product.seed_product_files(self.prefix)
        self.prefix.run(wine.product_exe(), "/Install")
        self.assertEqual(product.add_printer(self.prefix, PRINTER, native=True), 0)
        self.assertEqual(self.prefix.run("msiexec", "/i", x64, "/qn", "/norestart"), 0)
        self.assertEqual(len(self.products(view=64)), 1)
        self.assertEqual(self.prefix.reg_query(product.PRODUCT_KEY, "InstallPath", view=64),
                         INSTALL_DIR + "\\")
        self.assertEqual(self.prefix.reg_query(product.PRODUCT_KEY, "Version"), "2.0.0.0424")

        self.assertEqual(self.prefix.run("msiexec", "/x", x64, "/qn", "/norestart"), 0)
        self.assertEqual(self.prefix.drivers("Windows x64"), [])
        self.assert_printer_removed()


if __name__ == "__main__":
    unittest.main()
