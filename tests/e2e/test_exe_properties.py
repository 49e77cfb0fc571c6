"""The properties the shipped exe must have, read from the file itself, and its silence when
run under Wine."""

import subprocess
import unittest

import pe
import wine

# Windows' known DLLs only: the loader takes them from the system directory whatever folder the
# agent runs from. winspool.drv is not one of them and is bound at run time.
KNOWN_DLLS = {"kernel32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "msvcrt.dll"}
RT_VERSION, RT_MANIFEST = 16, 24


class ExeProperties(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exe = wine.product_exe()
        cls.pe = pe.PeFile(cls.exe)

    def test_is_a_32_bit_gui_program(self):
        self.assertEqual(self.pe.machine, 0x14C, "i386")
        self.assertEqual(self.pe.magic, 0x10B, "PE32, not PE32+")
        self.assertEqual(self.pe.subsystem, 2, "GUI subsystem: no console window ever opens")
        # A Remote Desktop Session Host gives an unaware program a private Windows folder.
        self.assertTrue(self.pe.dll_characteristics & 0x8000, "Terminal-Server aware")

    def test_imports_known_dlls_only(self):
        imported = {name.lower() for name in self.pe.imported_dlls()}
        self.assertEqual(imported, KNOWN_DLLS, "no winspool, libstdc++, libgcc or pthread DLL")

    def test_stays_within_28_kib(self):
        # An empty GUI exe of this MinGW is 14,848 bytes; the agent must not bring a C runtime
        # or a printf of its own along.
        self.assertLessEqual(self.exe.stat().st_size, 28672)

    def test_is_stripped(self):
        self.assertEqual(self.pe.symbol_count, 0, "no COFF symbol table")
        self.assertNotIn(b".debug", b"".join(n.encode() for n, *_ in self.pe.sections))

    def test_manifest_runs_as_invoker_names_supported_systems_and_asks_for_utf8(self):
        manifests = self.pe.resource_types().get(RT_MANIFEST, {})
        self.assertIn(1, manifests, "manifest resource 1, the one Windows reads at start-up")
        manifest = manifests[1].decode("utf-8")
        self.assertIn('requestedExecutionLevel level="asInvoker"', manifest)
        for windows_10 in ("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
                           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"):
            self.assertIn(f'supportedOS Id="{windows_10}"', manifest)
        # UTF-8 as the ANSI code page, on Windows 10 1903 and later.
        self.assertRegex(manifest, r'<activeCodePage xmlns="http://schemas\.microsoft\.com/SMI/'
                                   r'2019/WindowsSettings">UTF-8</activeCodePage>')

    def test_version_resource_carries_the_product_version(self):
        versions = self.pe.resource_types().get(RT_VERSION, {})
        self.assertIn(1, versions)
        info = versions[1]
        self.assertIn("ProductVersion".encode("utf-16-le"), info)
        self.assertIn("2.0.0.0424".encode("utf-16-le"), info)

    def test_writes_nothing_to_stdout_or_stderr(self):
        with wine.Prefix("win32") as prefix:
            for args in ((), ("/Install",), ("/bogus",)):
                result = subprocess.run([wine.WINE, str(self.exe), *args], env=prefix.env,
                                        capture_output=True, timeout=120)
                self.assertEqual(result.returncode, 0, args)
                self.assertEqual(result.stdout, b"", args)
                self.assertEqual(result.stderr, b"", args)


if __name__ == "__main__":
    unittest.main()
