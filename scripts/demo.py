"""The demo behind scripts/demo: one install and one uninstall in a throwaway prefix, with a
readable report of the registry values, spooler objects and files the agent touches."""

import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import product  # noqa: E402
import wine  # noqa: E402
from product import FIXTURES, PDF_CLASS, PDF_MIME, PROBE_KEY  # noqa: E402
from product import USER_PDF as PDF_USER  # noqa: E402

DRIVER_DIR = r"C:\windows\system32\spool\drivers\w32x86"
HKCU_PRODUCT = r"HKCU\Software\Tessix Software\Tessix Tembrin"
HKCU_BETA = r"HKCU\Software\Tessix Software\Tessix Tembrin Beta"
DOCUMENT_CLASS = r"HKLM\Software\Classes\TessixTembrin.Document"
ADDIN_CLASS = r"HKLM\Software\Classes\CLSID\{C2A97E41-0B6D-4F38-8E15-6D4C2B9A7F03}"
UNINSTALL_ENTRY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessix Tembrin"
UNRELATED = r"HKLM\Software\Classes\.txt"


def reg(text):
    return text.replace("HKLM", "HKEY_LOCAL_MACHINE").replace("HKCU", "HKEY_CURRENT_USER")


def seed(prefix, scratch):
    print("==> seeding the prefix as the application's installer would leave it")
    product.set_install_path(prefix, product.INSTALL_DIR)
    product.seed_product_files(prefix)
    addin = wine.compile_dll((FIXTURES / "addin_probe.c").read_text(), scratch, "addin",
                             libs=("ole32",))
    product.write_file(prefix, product.INSTALL_DIR + r"\qlc_wordaddin.dll", addin.read_bytes())
    product.write_file(prefix, DRIVER_DIR + r"\framedyn.dll",
                       product.library_image("framedyn stand-in\n"))
    prefix.reg_import(f"""
[{reg(product.PRODUCT_KEY)}]
"strdocument"="PdfViewer.Document"
"strCLSID"="{{0A1B2C3D-0000-4000-8000-00000000CAFE}}"
"strProgid"="PdfViewer.Document.1"

[{reg(DOCUMENT_CLASS)}]
@="Tessix Tembrin Document"

[{reg(ADDIN_CLASS)}\\InprocServer32]
@="C:\\\\Program Files\\\\Tessix Tembrin\\\\qlc_wordaddin.dll"

[{reg(UNINSTALL_ENTRY)}]
"DisplayName"="Tessix Tembrin"

[{reg(UNRELATED)}]
@="txtfile"

[{reg(PDF_CLASS)}]
@="TessixTembrin.Document"

[{reg(PDF_USER)}]
"Progid"="TessixTembrin.Document"

[{reg(HKCU_PRODUCT)}]
"LastDocument"="C:\\\\report.pdf"

[{reg(HKCU_BETA)}\\Settings]
"Beta"="1"
""")


def snapshot(prefix):
    state = {}
    # First, from the saved registry: the next Wine session runs and deletes RunOnce entries.
    state[f"registry  {product.RUNONCE_KEY}  TembrinInstallComplete"] = prefix.saved_value(
        product.RUNONCE_KEY, "TembrinInstallComplete")
    for name, data in prefix.reg_values(product.PRODUCT_KEY).items():
        state[f"registry  {product.PRODUCT_KEY}  {name}"] = data
    state[f"registry  {PDF_CLASS}  (default)"] = prefix.reg_query(PDF_CLASS, "")
    state[f"registry  {PDF_MIME}  CLSID"] = prefix.reg_query(PDF_MIME, "CLSID")
    state[f"registry  {PDF_USER}  Progid"] = prefix.reg_query(PDF_USER, "Progid")
    for key in (DOCUMENT_CLASS, ADDIN_CLASS, UNINSTALL_ENTRY, HKCU_PRODUCT, HKCU_BETA, UNRELATED):
        state[f"registry  {key}"] = "present" if prefix.reg_key_exists(key) else None
    state["add-in    self-registration calls"] = prefix.reg_query(PROBE_KEY, "Calls")
    state["spooler   ports"] = ", ".join(p for p in prefix.ports() if "TESSIX" in p) or None
    state["spooler   drivers (Windows NT x86)"] = ", ".join(prefix.drivers()) or None
    state["spooler   printers"] = ", ".join(prefix.printers()) or None
    state["spooler   default printer"] = prefix.default_printer()
    names = list(product.DRIVER_FILES) + [f"qnTmp{i}.tmp" for i in range(1, 5)]
    for folder, extra in ((DRIVER_DIR, ()), (DRIVER_DIR + "\\3", ("QXN_ProxyProcess.exe",))):
        for name in names + list(extra):
            path = folder + "\\" + name
            state[f"file      {path}"] = "present" if prefix.exists(path) else None
    wbem = r"C:\windows\system32\wbem\framedyn.dll"
    state[f"file      {wbem}"] = "present" if prefix.exists(wbem) else None
    return state


def show(title, state, before=None):
    print(f"\n==> {title}")
    labels = list(before or {}) + [label for label in state if label not in (before or {})]
    for label in labels:
        value = state.get(label)
        mark = " "
        if before is not None and before.get(label) != value:
            mark = "+" if before.get(label) is None else ("-" if value is None else "~")
        if value is not None or mark != " ":
            print(f"  {mark} {label}: {'(absent)' if value is None else value}")
    if before is not None:
        changed = sum(before.get(label) != state.get(label) for label in labels)
        print(f"  ({changed} changed: + added, - removed, ~ changed)")


def main():
    exe = wine.product_exe()
    with wine.Prefix("win32") as prefix, tempfile.TemporaryDirectory() as scratch:
        print(f"==> throwaway 32-bit Wine prefix at {prefix.path}")
        seed(prefix, scratch)
        before = snapshot(prefix)
        show("before: what the application's installer left", before)

        print("\n==> running printer-setup.exe /Install")
        print(f"    exit code {prefix.run(exe, '/Install')}")
        installed = snapshot(prefix)
        show("after /Install", installed, before)

        print("\n==> running printer-setup.exe /Uninstall")
        print(f"    exit code {prefix.run(exe, '/Uninstall')}")
        show("after /Uninstall", snapshot(prefix), installed)
        print("  note: Wine ran and removed the RunOnce entry at its next session start, as Windows"
              "\n  does at the next logon; the driver files in the driver directory itself stay on"
              "\n  32-bit Windows, and framedyn.dll stays provisioned, by design.")
        print("\n==> the prefix is thrown away now")


if __name__ == "__main__":
    main()
