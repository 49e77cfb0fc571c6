"""The installer examples of integration/, as scripts/installers builds them around the exe, run
silently the way a deployment system runs them."""

import subprocess
import unittest

import product
import wine

PRINTER = "Tessix Tembrin Printer"
DRIVER = "Tessix Tembrin Printer Driver"
PORT = "TESSIX_TEMBRIN:"
INSTALLERS = wine.REPO_ROOT / "build" / "installers"
INSTALL_DIR = r"C:\Program Files\Tessix Tembrin"
PROXY = r"C:\windows\system32\spool\drivers\w32x86\3\QXN_ProxyProcess.exe"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessix Tembrin"


def installer(name):
    path = INSTALLERS / name
    if not path.is_file():
        raise AssertionError(f"{path} missing (run scripts/installers)")
    return path


def table(package, name):
    """The rows of a table of a built package, as msitools exports them (three header lines)."""
    export = subprocess.run(["msiinfo", "export", installer(package), name], check=True,
                            capture_output=True, text=True).stdout
    return [row.split("\t") for row in export.splitlines()[3:]]


class MsiTables(unittest.TestCase):
    """What Wine cannot show: its RemoveExistingProducts passes REMOVE=ALL alone, never setting the
    guard UPGRADINGPRODUCTCODE, and it deletes the files before it runs rollback actions."""

    def test_each_package_upgrades_rolls_back_and_has_components_of_its_own(self):
        for package, bits in (("tembrin.msi", 0), ("tembrin-x64.msi", 256)):
            with self.subTest(package=package):
                components = table(package, "Component")
                self.assertEqual({int(row[3]) & 256 for row in components}, {bits}, "64-bit")
                self.assertIn("WIX_UPGRADE_DETECTED", [row[6] for row in table(package, "Upgrade")
                                                       if not int(row[4]) & 2], "removes it")
                self.assertEqual(dict(row[:2] for row in table(package, "CustomAction"))
                                 ["RollbackPrinter"], str(18 | 0x40 | 0x400 | 0x100 | 0x800))
                actions = [row[0] for row in sorted(table(package, "InstallExecuteSequence"),
                                                    key=lambda row: int(row[2]))]
                self.assertEqual([actions[actions.index(action) + 1] for action in
                                  ("InstallInitialize", "WriteRegistryValues", "RollbackPrinter")],
                                 ["RemoveExistingProducts", "RollbackPrinter", "InstallPrinter"])
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


class Nsis(InstallerCase):
    def test_silent_reinstall_then_the_quiet_uninstall_a_deployment_system_runs_then_install(self):
        setup, folder = installer("tembrin-setup.exe"), r"C:\Apps\Tembrin"
        self.assertEqual(self.prefix.run(setup, "/S", "/D=" + folder), 0,
                         "0: the installer found the printer in the spooler")
        self.assertEqual(self.prefix.run(setup, "/S"), 0)
        self.assertEqual(self.prefix.reg_query(product.PRODUCT_KEY, "InstallPath"), folder + "\\")

        # As it stands (no blank in the folder); waited for as deployment systems wait: its process.
        quiet = self.prefix.reg_query(UNINSTALL_KEY, "QuietUninstallString")
        self.assertEqual(self.prefix.run(*quiet.replace('"', "").split()), 0)
        self.assert_printer_removed()
        # Run in place, it cannot delete itself, nor under Wine rename itself: it goes at restart.
        pending = self.prefix.reg_query(r"HKLM\System\CurrentControlSet\Control\Session Manager",
                                        "PendingFileRenameOperations")
        self.assertIn(folder + r"\uninstall.exe", pending)

        self.assertEqual(self.prefix.run(setup, "/S"), 0)
        self.assert_printer_installed()
        self.assertEqual(self.prefix.reg_query(UNINSTALL_KEY, "DisplayName"), "Tessix Tembrin")


class Msi(InstallerCase):
    # Wine runs the deferred, non-impersonated actions as the logged-on user; Windows runs them
    # as LocalSystem (see the README), which changes nothing that is checked here.
    def test_silent_install_sets_the_printer_up_and_silent_uninstall_removes_it(self):
        package = installer("tembrin.msi")
        self.assertEqual(self.prefix.run("msiexec", "/i", package, "/qn"), 0)
        self.assert_printer_installed()

        self.assertEqual(self.prefix.run("msiexec", "/x", package, "/qn"), 0)
        self.assert_printer_removed()
        self.assertFalse(self.prefix.exists(INSTALL_DIR))


class MsiWin64(InstallerCase):
    """Wine 8 refuses a 32-bit process the printer of an x64 driver: a 64-bit helper adds it."""
    arch = "win64"

    def test_32bit_package_refuses_and_64bit_package_sets_up_and_removes_the_printer(self):
        # 1603, of which Wine's exit code keeps the low byte; Wine shows the message nowhere.
        self.assertEqual(self.prefix.run("msiexec", "/i", installer("tembrin.msi"), "/qn"),
                         1603 & 0xFF)

        self.assertEqual(self.prefix.run("msiexec", "/i", installer("tembrin-x64.msi"), "/qn"), 0)
        self.assertEqual(self.prefix.reg_query(product.PRODUCT_KEY, "InstallPath", view=64),
                         INSTALL_DIR + "\\")
        self.assertIn(PORT, self.prefix.ports())
        self.assertEqual(self.prefix.drivers("Windows x64"), [DRIVER])
        self.assertEqual(product.add_printer(self.prefix, PRINTER, native=True), 0)

        self.assertEqual(self.prefix.run("msiexec", "/x", installer("tembrin-x64.msi"), "/qn"), 0)
        self.assertEqual(self.prefix.drivers("Windows x64"), [])
        self.assert_printer_removed()


if __name__ == "__main__":
    unittest.main()
