"""Names in any script. The agent's manifest asks for UTF-8 as its ANSI code page, which Windows
10 1903 and later, and Wine 8, honour: in an English prefix, whose ANSI code page is 1252, it
installs the printer from a folder with a Cyrillic name and names the completion program in a
profile with a Chinese name. Without the element every such name would be question marks."""

import unittest

import product
import wine

INSTALL_DIR = r"C:\Program Files\Тессикс Софтвер\Тембрин"
APPDATA = r"C:\users\用户\AppData\Roaming"
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
NLS = r"HKLM\System\CurrentControlSet\Control\Nls\CodePage"
SPOOL = r"C:\windows\system32\spool\drivers\w32x86"
PRINTER = "Tessix Tembrin Printer"


class CodePageWin32(unittest.TestCase):
    def setUp(self):
        self.prefix = wine.Prefix("win32")
        self.addCleanup(self.prefix.close)

    def test_cyrillic_install_folder_and_chinese_profile_name(self):
        prefix = self.prefix
        self.assertEqual(prefix.reg_query(NLS, "ACP"), "1252", "an English prefix")
        # The profile's application-data folder, moved where the shell finds it.
        prefix.unix_path(APPDATA).mkdir(parents=True)
        prefix.reg_import(f"[{SHELL_FOLDERS.replace('HKCU', 'HKEY_CURRENT_USER')}]\n"
                          f'"AppData"={product.reg_string(APPDATA)}\n')
        product.set_install_path(prefix, INSTALL_DIR)
        product.seed_product_files(prefix, INSTALL_DIR)

        self.assertEqual(prefix.run(wine.product_exe(), "/Install"), 0)
        # From the saved registry, before the next Wine session runs and deletes the entry.
        self.assertEqual(prefix.saved_value(product.RUNONCE_KEY, "TembrinInstallComplete"),
                         f'"{APPDATA}\\Tessix Software\\Tessix Tembrin\\'
                         'TembrinInstallComplete.exe"')
        self.assertEqual(prefix.saved_value(product.PRODUCT_KEY, "InstallPath"),
                         INSTALL_DIR + "\\", "the record keeps the folder's name exactly")
        self.assertIn(PRINTER, prefix.printers())
        self.assertTrue(prefix.exists(SPOOL + r"\3\QXN_ProxyProcess.exe"))

        self.assertEqual(prefix.run(wine.product_exe(), "/Uninstall"), 0)
        self.assertEqual(prefix.printers(), [])
        self.assertEqual(prefix.drivers(), [])
        self.assertNotIn("TESSIX_TEMBRIN:", prefix.ports())
        self.assertFalse(prefix.reg_key_exists(product.PRODUCT_KEY))
        self.assertFalse(prefix.exists(SPOOL + r"\3\QXN_ProxyProcess.exe"))


if __name__ == "__main__":
    unittest.main()
