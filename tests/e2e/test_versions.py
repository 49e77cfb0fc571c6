"""The whole install and uninstall cycle in a 32-bit prefix set, with winecfg, to each Windows
version from NT 4 on. Before Windows 2000 (NT 4) the agent skips its administrator and 64-bit
probes and carries on as an administrator of 32-bit Windows.

On a real NT 4 the install stops at the port: its winspool has no XcvDataW, which came with
Windows 2000 (the unit tests' simulation shows that). Wine exports every function whatever
version it reports, so here the printer installs in the NT 4 setting as well.

The versions share one prefix, one after the other: a full cycle leaves only the retired driver
files behind, and installing again after an uninstall is a case the agent must handle anyway.
The wineserver stays up between the steps (no wait), which keeps the matrix to a few seconds a
version; every check reads the live registry and the files, which the runs have already written.
"""

import shutil
import tempfile
import unittest
from pathlib import Path

import product
import wine
from product import FIXTURES

PRINTER = "Tessix Tembrin Printer"
DRIVER = "Tessix Tembrin Printer Driver"
PORT = "TESSIX_TEMBRIN:"
PROXY = r"C:\windows\system32\spool\drivers\w32x86\3\QXN_ProxyProcess.exe"
REPORT = r"C:\version.txt"

# winecfg's name -> what GetVersionExA then reports to the reporting helper (major.minor
# platform; 2 is NT). On Windows 10 a program without a manifest naming Windows 10 is told 6.2,
# and Wine does the same; the agent's manifest names it, so the agent is told 10.0.
# Wine 8's winecfg has no Windows 11; Windows 11 reports 10.0 as Windows 10 does (only the build
# number differs), and the agent reads the major version only.
VERSIONS = {"nt40": "4.0 2", "win2k": "5.0 2", "winxp": "5.1 2", "vista": "6.0 2",
            "win7": "6.1 2", "win10": "6.2 2"}


class WindowsVersions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = Path(tempfile.mkdtemp(prefix="printer-setup-e2e-versions-"))
        cls.reporter = wine.compile_exe((FIXTURES / "report_version.c").read_text(),
                                        cls.scratch, "report_version")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.prefix = wine.Prefix("win32")
        self.addCleanup(self.prefix.close)
        self.exe = wine.product_exe()
        product.seed_product_files(self.prefix)

    def set_version(self, name):
        self.assertEqual(self.prefix.wine("winecfg", "-v", name).returncode, 0)
        self.assertEqual(self.prefix.wine(self.reporter, REPORT).returncode, 0)
        return self.prefix.unix_path(REPORT).read_text()

    def agent(self, command):
        self.assertEqual(self.prefix.wine(self.exe, command).returncode, 0)

    def test_install_and_uninstall_on_every_version(self):
        for name, reported in VERSIONS.items():
            with self.subTest(version=name):
                self.assertEqual(self.set_version(name), reported)
                # The uninstall before removed the product key, InstallPath with it.
                self.prefix.wine("reg", "add", product.PRODUCT_KEY, "/v", "InstallPath",
                                 "/d", product.INSTALL_DIR, "/f")
                self.agent("/Install")
                self.assertIn(PORT, self.prefix.ports())
                self.assertIn(DRIVER, self.prefix.drivers())
                self.assertEqual(self.prefix.printers(), [PRINTER])
                self.assertTrue(self.prefix.exists(PROXY))
                self.assertEqual(self.prefix.reg_query(product.PRODUCT_KEY, "Version"),
                                 "2.0.0.0424")
                self.agent("/Uninstall")
                self.assertNotIn(PORT, self.prefix.ports())
                self.assertNotIn(DRIVER, self.prefix.drivers())
                self.assertEqual(self.prefix.printers(), [])
                self.assertFalse(self.prefix.exists(PROXY))
                self.assertFalse(self.prefix.reg_key_exists(product.PRODUCT_KEY))


if __name__ == "__main__":
    unittest.main()
