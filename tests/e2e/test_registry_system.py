"""The registry and system steps of the real exe: the beta key removed by /Install, the system
libraries it provides, the add-in's COM self-registration in both commands, and what /Uninstall
does to the PDF association and to the product's registry trees."""

import shutil
import tempfile
import unittest
from pathlib import Path

import product
import wine
from product import FIXTURES, PDF_CLASS, PDF_MIME, PRODUCT_KEY, PROBE_KEY, USER_PDF


BETA_KEY = r"Software\Tessix Software\Tessix Tembrin Beta"

CLSID_DOCUMENT = r"Software\Classes\CLSID\{C2A97E41-0B6D-4F38-8E15-6D4C2B9A7F03}"
CLSID_PRINTER = r"Software\Classes\CLSID\{5B1E2C90-7D34-4A6F-9C21-3E8D0F6A4B17}"
KOVRA_UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\KovraTembrin"
# The trees removed from both hives (besides the product key itself).
SHARED_TREES = (
    CLSID_DOCUMENT,
    r"Software\Classes\TessixTembrin.Document",
    r"Software\Classes\Applications\TESSIX~1.EXE",
    r"Software\Microsoft\Windows\CurrentVersion\Explorer\MenuOrder\Start Menu\Programs"
    r"\Tessix Tembrin",
    r"Software\Microsoft\Windows\CurrentVersion\App Management\ARPCache\Tessix Tembrin",
    r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessix Tembrin",
)
# Neighbours of those trees that nothing may touch.
NEIGHBOURS = (
    r"Software\Classes\CLSID\{0B0B0B0B-1111-2222-3333-444455556666}",
    r"Software\Classes\Other.Document",
    r"Software\Tessix Software\Tessix Tembrin Viewer",
    r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Other Product",
)


def full(key):
    root, _, rest = key.partition("\\")
    return {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}[root] + "\\" + rest


def reg_text(keys):
    """.reg text for {key: {value name ("" = default): text}}."""
    blocks = []
    for key, values in keys.items():
        lines = [f"[{full(key)}]"]
        for name, text in values.items():
            lines.append(("@" if name == "" else product.reg_string(name)) + "=" +
                         product.reg_string(text))
        blocks.append("\n".join(lines) + "\n")
    return "\n".join(blocks)


def tree(root, path):
    """A small tree: a default value, a value, and two levels of subkeys with values."""
    return {
        f"{root}\\{path}": {"": "product", "Owner": "Tessix"},
        f"{root}\\{path}\\Sub": {"v": "1"},
        f"{root}\\{path}\\Sub\\Deeper": {"v": "2"},
        f"{root}\\{path}\\Other": {},
    }


class AgentCase(unittest.TestCase):
    """A fresh prefix per test, with the add-in probe built once per class."""
    arch = None

    @classmethod
    def setUpClass(cls):
        cls.build_dir = Path(tempfile.mkdtemp(prefix="printer-setup-e2e-addin-"))
        cls.addin = wine.compile_dll((FIXTURES / "addin_probe.c").read_text(), cls.build_dir,
                                     "qlc_wordaddin", libs=("ole32", "advapi32"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.build_dir, ignore_errors=True)

    def setUp(self):
        self.prefix = wine.Prefix(self.arch)
        self.addCleanup(self.prefix.close)
        self.exe = wine.product_exe()

    # -- seeding -------------------------------------------------------------
    def seed_product(self, view=None):
        product.set_install_path(self.prefix, product.INSTALL_DIR, view=view)
        product.seed_product_files(self.prefix)
        target = self.prefix.unix_path(product.INSTALL_DIR + r"\qlc_wordaddin.dll")
        shutil.copyfile(self.addin, target)

    def run_agent(self, command):
        self.assertEqual(self.prefix.run(self.exe, command), 0)

    def addin_calls(self):
        return self.prefix.reg_query(PROBE_KEY, "Calls")


class RegistryAndSystemWin32(AgentCase):
    arch = "win32"
    driver_dir = r"C:\windows\system32\spool\drivers\w32x86"

    def seed_association(self):
        self.prefix.reg_import(reg_text({
            PDF_CLASS: {"": "TessixTembrin.Document", "Content Type": "application/pdf"},
            PDF_MIME: {"CLSID": "{C2A97E41-0B6D-4F38-8E15-6D4C2B9A7F03}", "Extension": ".pdf"},
            USER_PDF: {"Progid": "TessixTembrin.Document", "Other": "stays"},
        }))

    # -- /Install --------------------------------------------------------------
    def test_install_removes_the_beta_provides_framedyn_and_registers_the_addin(self):
        self.seed_product()
        files = {}
        for name in ("psapi.dll", "framedyn.dll"):
            files[name] = product.library_image(f"shipped {name}")
            product.write_file(self.prefix, self.driver_dir + "\\" + name, files[name])
        keys = {}
        keys.update(tree("HKCU", BETA_KEY))
        keys.update(tree("HKLM", BETA_KEY))   # the same path in the other hive stays
        keys[r"HKCU\Software\Tessix Software\Tessix Tembrin Viewer"] = {"v": "stays"}
        self.prefix.reg_import(reg_text(keys))

        self.run_agent("/Install")

        self.assertEqual(self.addin_calls(), "DllRegisterServer:ole;")
        self.assertFalse(self.prefix.reg_key_exists("HKCU\\" + BETA_KEY))
        self.assertEqual(self.prefix.reg_subkeys(r"HKCU\Software\Tessix Software"),
                         ["Tessix Tembrin Viewer"])
        self.assertEqual(self.prefix.reg_query(r"HKLM\%s\Sub\Deeper" % BETA_KEY, "v"), "2")
        # Wine ships psapi.dll but no framedyn.dll; the copy goes to wbem only.
        system = r"C:\windows\system32"
        self.assertEqual(self.prefix.unix_path(system + r"\wbem\framedyn.dll").read_bytes(),
                         files["framedyn.dll"])
        self.assertFalse(self.prefix.exists(system + r"\framedyn.dll"))
        self.assertNotEqual(self.prefix.unix_path(system + r"\psapi.dll").read_bytes(),
                            files["psapi.dll"], "Wine's own psapi.dll is kept")

    # -- /Uninstall ------------------------------------------------------------
    def seed_product_trees(self):
        keys = {}
        for root in ("HKLM", "HKCU"):
            for path in SHARED_TREES + (product.PRODUCT_KEY.split("\\", 1)[1],):
                keys.update(tree(root, path))
            for path in NEIGHBOURS:
                keys[f"{root}\\{path}"] = {"v": "stays"}
        # Each list leaves out what the other one removes.
        keys.update(tree("HKLM", CLSID_PRINTER))
        keys.update(tree("HKLM", KOVRA_UNINSTALL))
        keys.update(tree("HKCU", CLSID_PRINTER))
        keys.update(tree("HKCU", KOVRA_UNINSTALL))
        keys.update(tree("HKCU", BETA_KEY))
        keys.update(tree("HKLM", BETA_KEY))
        self.prefix.reg_import(reg_text(keys))

    def assert_product_trees_removed(self, view=None):
        exists = lambda key: self.prefix.reg_key_exists(key, view=view)
        for root in ("HKLM", "HKCU"):
            for path in SHARED_TREES + (product.PRODUCT_KEY.split("\\", 1)[1],):
                self.assertFalse(exists(f"{root}\\{path}"), f"{root}\\{path}")
            for path in NEIGHBOURS:
                self.assertEqual(self.prefix.reg_query(f"{root}\\{path}", "v", view=view),
                                 "stays", f"{root}\\{path}")
        self.assertFalse(exists("HKLM\\" + CLSID_PRINTER))
        self.assertFalse(exists("HKLM\\" + KOVRA_UNINSTALL))
        self.assertFalse(exists("HKCU\\" + BETA_KEY))
        # Not on the user list: these stay in the user's hive, and the beta's key in the machine's.
        self.assertEqual(self.prefix.reg_query(f"HKCU\\{CLSID_PRINTER}\\Sub\\Deeper", "v"), "2")
        self.assertEqual(self.prefix.reg_query(f"HKCU\\{KOVRA_UNINSTALL}\\Sub\\Deeper", "v"), "2")
        self.assertEqual(self.prefix.reg_query(f"HKLM\\{BETA_KEY}\\Sub\\Deeper", "v", view=view),
                         "2")

    def test_uninstall_restores_the_association_and_removes_the_product_trees(self):
        self.seed_product()
        self.seed_association()
        self.seed_product_trees()
        # The document class is saved in both hives (the machine's wins), the CLSID only in the
        # user's, the ProgID nowhere.
        self.prefix.reg_import(reg_text({
            PRODUCT_KEY: {"strdocument": "PdfViewer.Document.DC"},
            "HKCU" + PRODUCT_KEY[4:]: {"strdocument": "User.Document",
                                        "strCLSID": "{B801CA65-A1FC-11D0-85AD-444553540000}"},
        }))

        self.run_agent("/Uninstall")

        self.assertEqual(self.addin_calls(), "DllUnregisterServer:ole;")
        self.assertEqual(self.prefix.reg_query(PDF_CLASS, ""), "PdfViewer.Document.DC")
        self.assertEqual(self.prefix.reg_query(PDF_CLASS, "Content Type"), "application/pdf")
        self.assertEqual(self.prefix.reg_query(PDF_MIME, "CLSID"),
                         "{B801CA65-A1FC-11D0-85AD-444553540000}")
        self.assertEqual(self.prefix.reg_values(USER_PDF), {"Other": "stays"})
        self.assert_product_trees_removed()

        # A second uninstall finds nothing saved, and no installation directory: what still names
        # our own class goes, what the user chose since stays, the CLSID is left alone, and the
        # add-in is not looked for.
        self.seed_association()
        self.prefix.reg_import(reg_text({USER_PDF: {"Progid": "User.Choice"}}))
        self.run_agent("/Uninstall")
        self.assertEqual(self.prefix.reg_values(PDF_CLASS), {"Content Type": "application/pdf"})
        self.assertEqual(self.prefix.reg_query(PDF_MIME, "CLSID"),
                         "{C2A97E41-0B6D-4F38-8E15-6D4C2B9A7F03}")
        self.assertEqual(self.prefix.reg_values(USER_PDF), {"Progid": "User.Choice",
                                                            "Other": "stays"})
        self.assertEqual(self.addin_calls(), "DllUnregisterServer:ole;")
        self.assertFalse(self.prefix.reg_key_exists(PRODUCT_KEY))
        self.assertFalse(self.prefix.reg_key_exists("HKCU" + PRODUCT_KEY[4:]))


class RegistryAndSystemWin64(AgentCase):
    """A 32-bit agent on 64-bit Windows: the saved values come from the 64-bit view, while the
    restoring and the removals work in the 32-bit view. /Install is covered on win32 only:
    Wine 8 cannot add the printer from a 32-bit process on a 64-bit prefix, so it never gets
    to the system steps there."""

    arch = "win64"

    def test_uninstall_reads_the_64_bit_view_and_cleans_the_32_bit_one(self):
        self.seed_product(view=64)
        self.prefix.reg_import(reg_text({PRODUCT_KEY: {"strdocument": "Saved64.Document"}}),
                               view=64)
        self.prefix.reg_import(reg_text({PRODUCT_KEY: {"strdocument": "Saved32.Document"},
                                         PDF_CLASS: {"": "TessixTembrin.Document"}}), view=32)

        self.run_agent("/Uninstall")

        self.assertEqual(self.addin_calls(), "DllUnregisterServer:ole;")
        self.assertEqual(self.prefix.reg_query(PDF_CLASS, "", view=32), "Saved64.Document")
        self.assertFalse(self.prefix.reg_key_exists(PRODUCT_KEY, view=32))
        # Given back once: the saved value goes from the view it was read in, where the removals
        # of the product's trees (in the 32-bit view) do not reach.
        self.assertIsNone(self.prefix.reg_query(PRODUCT_KEY, "strdocument", view=64))
        self.assertEqual(self.prefix.reg_query(PRODUCT_KEY, "InstallPath", view=64),
                         product.INSTALL_DIR)


if __name__ == "__main__":
    unittest.main()
