"""Where a 32-bit program's keys land on 64-bit Wine, against the simulation's model of Windows 7
and later: HKLM\\Software goes to Wow6432Node, its Classes are shared but for the COM keys
(CLSID, Interface, ...), which lie below Classes\\Wow6432Node; HKCU's COM keys likewise.

Wine 8 agrees for HKLM but shares all of HKCU\\Software\\Classes, CLSID included, which Windows
redirects; the simulation keeps Windows. For the agent that changes only which copy of its
document CLSID the removal from HKCU takes: on Windows the 32-bit one, on Wine the only one."""

import unittest

import wine
from test_registry_system import full

GUID = "{0E2E7E57-0000-4000-8000-000000000A11}"
# Each key as the 32-bit view names it, and where the 64-bit view finds it.
LANDINGS = (
    (r"HKLM\Software\ViewsProbe", r"HKLM\Software\Wow6432Node\ViewsProbe"),
    (r"HKLM\Software\Classes\.viewsprobe", r"HKLM\Software\Classes\.viewsprobe"),
    (rf"HKLM\Software\Classes\CLSID\{GUID}", rf"HKLM\Software\Classes\Wow6432Node\CLSID\{GUID}"),
    (rf"HKLM\Software\Classes\Interface\{GUID}",
     rf"HKLM\Software\Classes\Wow6432Node\Interface\{GUID}"),
    (r"HKCU\Software\ViewsProbe", r"HKCU\Software\ViewsProbe"),
    (r"HKCU\Software\Classes\.viewsprobe", r"HKCU\Software\Classes\.viewsprobe"),
    # Wine only: Windows stores it as HKCU\Software\Classes\Wow6432Node\CLSID\{GUID}.
    (rf"HKCU\Software\Classes\CLSID\{GUID}", rf"HKCU\Software\Classes\CLSID\{GUID}"),
)


class RegistryViews(unittest.TestCase):
    def test_win64_keys_of_a_32bit_program_land_as_modelled(self):
        with wine.prefix("win64") as p:
            p.reg_import("\n".join(f'[{full(seen)}]\n"v"="32"\n' for seen, _ in LANDINGS), view=32)
            for seen, stored in LANDINGS:
                with self.subTest(seen=seen):
                    self.assertEqual(p.reg_query(stored, "v", view=64), "32")
                    if stored != seen:
                        self.assertIsNone(p.reg_query(seen, "v", view=64), "64-bit key apart")


if __name__ == "__main__":
    unittest.main()
