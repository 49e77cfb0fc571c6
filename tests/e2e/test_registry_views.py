"""Where a 32-bit program's registry keys land on 64-bit Wine, set against what the simulation
models after Windows 7 and later: HKLM\\Software redirected to Wow6432Node, its Classes shared
except for the COM keys (CLSID, Interface, ...), which lie below Classes\\Wow6432Node, and the
same COM keys redirected below HKCU\\Software\\Classes.

Wine 8 agrees for HKLM. It shares all of HKCU\\Software\\Classes, CLSID included, where Windows
redirects HKCU\\Software\\Classes\\CLSID; the simulation keeps Windows' behaviour.  For the agent
this touches only the removal of its document CLSID from HKCU: on Windows it takes the 32-bit
copy and leaves a 64-bit one, on Wine the one shared copy."""

import unittest

import wine

GUID = "{0E2E7E57-0000-4000-8000-000000000A11}"
# Each key as the 32-bit view names it, and where it is stored (as the 64-bit view names it).
LANDINGS = {
    "Windows and Wine": (
        (r"HKLM\Software\ViewsProbe", r"HKLM\Software\Wow6432Node\ViewsProbe"),
        (r"HKLM\Software\Classes\.viewsprobe", r"HKLM\Software\Classes\.viewsprobe"),
        (rf"HKLM\Software\Classes\CLSID\{GUID}", rf"HKLM\Software\Classes\Wow6432Node\CLSID\{GUID}"),
        (rf"HKLM\Software\Classes\Interface\{GUID}",
         rf"HKLM\Software\Classes\Wow6432Node\Interface\{GUID}"),
        (r"HKCU\Software\ViewsProbe", r"HKCU\Software\ViewsProbe"),
        (r"HKCU\Software\Classes\.viewsprobe", r"HKCU\Software\Classes\.viewsprobe"),
    ),
    # Windows: HKCU\Software\Classes\Wow6432Node\CLSID\{GUID}.
    "Wine only": ((rf"HKCU\Software\Classes\CLSID\{GUID}", rf"HKCU\Software\Classes\CLSID\{GUID}"),),
}


def full(key):
    root, _, rest = key.partition("\\")
    return {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER"}[root] + "\\" + rest


class RegistryViews(unittest.TestCase):
    def test_win64_keys_of_a_32bit_program_land_as_modelled(self):
        rows = [row for group in LANDINGS.values() for row in group]
        with wine.prefix("win64") as p:
            p.reg_import("\n".join(f'[{full(seen)}]\n"v"="32"\n' for seen, _ in rows), view=32)
            for seen, stored in rows:
                with self.subTest(seen=seen):
                    self.assertEqual(p.reg_query(stored, "v", view=64), "32")
                    if stored != seen:
                        self.assertIsNone(p.reg_query(seen, "v", view=64),
                                          "the 64-bit view's own key stays apart")


if __name__ == "__main__":
    unittest.main()
