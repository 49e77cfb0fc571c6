"""Seeding a prefix the way the application's own installer leaves it before it calls the
agent: the installation directory in the registry and the product files under it."""

import shutil
import tempfile
from pathlib import Path

import wine

PRODUCT_KEY = r"HKLM\Software\Tessix Software\Tessix Tembrin"
RUNONCE_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce"
INSTALL_DIR = r"C:\Program Files\Tessix Tembrin"

# The PDF association that /Uninstall restores from the saved values.
PDF_CLASS = r"HKLM\Software\Classes\.pdf"
PDF_MIME = r"HKLM\Software\Classes\MIME\Database\Content Type\application/pdf"
USER_PDF = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.pdf"

# The stand-in add-in (fixtures/addin_probe.c) records its self-registration calls here.
FIXTURES = Path(__file__).resolve().parent / "fixtures"
PROBE_KEY = r"HKCU\Software\Tessix E2E\AddinProbe"

DRIVER_FILES = ("qelvpr_drv.dll", "qelvpr_ui.dll", "qelvpr_pnt.txt")
DRIVER_FILES_64 = ("qelvpr_drv64.dll", "qelvpr_ui64.dll", "qelvpr_pnt64.txt")


def library_image(text):
    """A stand-in x86 library as the agent reads its start: "MZ", the PE header's offset at 0x3C,
    then "PE\\0\\0" and the machine type IMAGE_FILE_MACHINE_I386, then `text`."""
    dos = bytearray(0x40)
    dos[0:2], dos[0x3C] = b"MZ", 0x40
    return bytes(dos) + b"PE\0\0\x4c\x01" + text.encode()


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def set_install_path(prefix, path, view=None):
    prefix.reg_import(f"[{PRODUCT_KEY.replace('HKLM', 'HKEY_LOCAL_MACHINE')}]\n"
                      f'"InstallPath"={reg_string(path)}\n', view=view)


def write_file(prefix, windows_path, content=b""):
    target = prefix.unix_path(windows_path)
    target.parent.mkdir(parents=True, exist_ok=True)
    # A new file, never a write into an existing one: that may be shared with the template.
    target.unlink(missing_ok=True)
    target.write_bytes(content)
    return target


def seed_product_files(prefix, install_dir=INSTALL_DIR, files=None):
    """The driver files of both architectures and the proxy executables under plugins\\creator.
    Their content is the application's business; the agent only copies them."""
    creator = install_dir.rstrip("\\") + r"\plugins\creator"
    names = files or (DRIVER_FILES + DRIVER_FILES_64 +
                      ("QXN_ProxyProcess.exe", "QXN_ProxyProcess64.exe"))
    for name in names:
        write_file(prefix, creator + "\\" + name, f"product file {name}\n".encode())
    return creator


def add_printer(prefix, name, port="TESSIX_TEMBRIN:", driver="Tessix Tembrin Printer Driver",
                native=False):
    """Adds a local printer with fixtures/add_printer.c; its exit code (0, or 1000 + the error).
    native=True builds the helper 64-bit: on a win64 prefix Wine 8 refuses a 32-bit process
    the printer of a driver registered only for "Windows x64" (AddPrinterA fails with 87)."""
    build = Path(tempfile.mkdtemp(prefix="printer-setup-e2e-helper-"))
    try:
        source = (FIXTURES / "add_printer.c").read_text()
        exe = wine.compile_exe(source, build, "add_printer", libs=("winspool",),
                               cc=wine.MINGW64_CC if native else wine.MINGW_CC)
        return prefix.run(exe, name, port, driver)
    finally:
        shutil.rmtree(build, ignore_errors=True)
