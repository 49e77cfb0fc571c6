"""Wine harness for the end-to-end tests of printer-setup.exe.

Each test gets a throwaway Wine prefix (a fresh copy of a per-arch template),
runs the agent in it and then inspects the prefix from the outside: registry
through Wine's own reg.exe, files through drive_c, spooler state through the
registry keys Wine's spooler keeps.

Notes from experiments with Debian 12's Wine (wine-8.0, Debian 8.0~repack-4):

* `wine` (/usr/bin/wine) prefers the 32-bit loader, yet it creates and drives
  win64 prefixes as well: `WINEARCH=win64 wine wineboot -i` works and 64-bit
  programs are handed to wine64 automatically.  `wine64` is not on PATH at all
  (it lives in /usr/lib/wine/wine64), so one `wine` binary serves both arches.
* Registry views on a win64 prefix, all through `wine reg`:
    - `wine reg ... /reg:64`  -> 64-bit view (HKLM\\Software is the real key)
    - `wine reg ... /reg:32`  -> 32-bit view (HKLM\\Software is redirected to
      HKLM\\Software\\Wow6432Node)
    - `wine reg ...` (no flag) -> 32-bit view too, because the 32-bit loader
      starts the 32-bit reg.exe from syswow64.  `/usr/lib/wine/wine64 reg`
      without a flag gives the 64-bit view.
  `reg import` honours /reg:32 and /reg:64 the same way.  On a win32 prefix
  there is a single view and both flags are accepted and ignored.
* `reg import` must be fed a UTF-16 file when the header is "Windows Registry
  Editor Version 5.00"; hex(2)/hex(7) data from an 8-bit file is misread.
* Almost all the cost of a wine call is starting a session: the wineserver
  and the system processes (services.exe, explorer.exe, ...), which in a
  win32 prefix are 32-bit programs too, and so emulated where the kernel runs
  no i386 program (4.8 s a cold call there, 0.8 s one in a live session).
  After the last program exits Wine waits 2 s before it stops them, saves the
  registry and ends the wineserver; a call within those 2 s reuses the live
  session.  So the harness lets a session live on after runs and imports:
  every change is in the wineserver at once, and the next call, as a rule a
  query right after, finds it warm.  `wineserver -k` ends it at once (0.7 s)
  and saves the registry, where the files on disk are read (saved_value) and
  when the prefix goes; `wineserver -w` waits where a program leaves work to
  a process that outlives it.  Capturing output through pipes costs the 2 s
  linger on every call (see Prefix.wine).
* `reg query` of a key that has no values prints no header line, only the
  subkeys' full paths.
* A GUI-subsystem exe started as `wine x.exe` is waited for and its exit
  code is wine's exit code.
"""

import contextlib
import fcntl
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parents[2]
# One set per user: a prefix must belong to the user who runs Wine in it.
TEMPLATES = Path(os.environ.get("PRINTER_SETUP_E2E_TEMPLATES",
                                f"/tmp/printer-setup-e2e-templates-{os.getuid()}"))
WINE = shutil.which("wine") or "wine"
WINESERVER = shutil.which("wineserver") or "wineserver"
MINGW_CC = "i686-w64-mingw32-gcc"
MINGW64_CC = "x86_64-w64-mingw32-gcc"   # for helpers that must run natively on win64
ARCHES = ("win32", "win64")

HKLM_PRINT = r"HKLM\System\CurrentControlSet\Control\Print"
HKLM_PORTS = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Ports"
HKCU_WINDOWS = r"HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows"


def product_exe():
    """Path of the built agent; fails loudly instead of letting tests skip."""
    exe = REPO_ROOT / "build" / "windows" / "printer-setup.exe"
    if not exe.is_file():
        raise AssertionError(f"product exe missing: {exe} (build it first)")
    return exe


def wine_version():
    return subprocess.run([WINE, "--version"], capture_output=True,
                          text=True, check=True).stdout.strip()


def base_env(prefix, arch):
    env = dict(os.environ)
    env.pop("DISPLAY", None)        # headless: no X server, no windows shown
    env.pop("WAYLAND_DISPLAY", None)
    env.update(WINEPREFIX=str(prefix), WINEARCH=arch, WINEDEBUG="-all",
               # no Mono/Gecko install prompts during wineboot
               WINEDLLOVERRIDES="mscoree,mshtml=",
               # An English prefix (ANSI code page 1252) whose Unix file names are UTF-8, so
               # that names in any script reach the prefix intact whatever the caller's locale.
               LC_ALL="C.UTF-8")
    return env


def template(arch):
    """A booted prefix for `arch`, built once and reused across sessions.

    Rebuilt when missing or when the installed Wine version changes.  A lock
    file keeps concurrent test runs from building the same template twice.
    """
    if arch not in ARCHES:
        raise ValueError(arch)
    TEMPLATES.mkdir(parents=True, exist_ok=True)
    path, stamp = TEMPLATES / arch, TEMPLATES / f"{arch}.version"
    version = wine_version()
    with open(TEMPLATES / f"{arch}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if path.is_dir() and stamp.is_file() and stamp.read_text() == version:
            return path
        shutil.rmtree(path, ignore_errors=True)
        build = Path(tempfile.mkdtemp(prefix=f"{arch}.", dir=TEMPLATES))
        env = base_env(build, arch)
        try:
            subprocess.run([WINE, "wineboot", "-i"], env=env, timeout=600,
                           check=True, capture_output=True)
        finally:
            subprocess.run([WINESERVER, "-w"], env=env, timeout=120)
        build.rename(path)
        stamp.write_text(version)
        return path


def _compile(source, out_dir, name, suffix, flags, libs, cc):
    out_dir = Path(out_dir)
    src, out = out_dir / f"{name}.c", out_dir / f"{name}.{suffix}"
    src.write_text(source)
    subprocess.run([cc, *flags, "-O2", "-s", "-o", str(out), str(src),
                    *[f"-l{lib}" for lib in libs]],
                   check=True, capture_output=True, text=True)
    return out


def compile_exe(source, out_dir, name, libs=(), cc=MINGW_CC):
    """Build a small GUI test program from C source, 32-bit unless `cc` is MINGW64_CC;
    returns its path."""
    return _compile(source, out_dir, name, "exe", ["-mwindows"], libs, cc)


def compile_dll(source, out_dir, name, libs=(), flags=()):
    """Build a small 32-bit DLL from C source; returns its path.  --kill-at gives the
    __stdcall exports their plain names, as GetProcAddress callers expect; `flags` go to the
    compiler before the source (defines, -L, linker options)."""
    return _compile(source, out_dir, name, "dll", ["-shared", "-Wl,--kill-at", *flags], libs,
                    MINGW_CC)


# "    Name    REG_SZ    data" -- data may be empty and may contain spaces.
_VALUE_LINE = re.compile(r"^    (.*?)    (REG_[A-Z0-9_]+)    ?(.*)$")
_ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER",
          "HKCR": "HKEY_CLASSES_ROOT", "HKU": "HKEY_USERS", "HKCC": "HKEY_CURRENT_CONFIG"}


def parse_reg_query(text, key):
    """Parse `reg query KEY` output into ({name: (type, data)}, [subkey names]).

    The default value is returned under the name "".  Subkeys are told apart
    by their full path: Wine 8 omits the header line of a key without values.
    """
    root, _, rest = key.partition("\\")
    full = (_ROOTS.get(root.upper(), root) + "\\" + rest).rstrip("\\").lower() + "\\"
    values, subkeys = {}, []
    for line in text.replace("\r", "").split("\n"):
        m = _VALUE_LINE.match(line)
        if m:
            name, typ, data = m.groups()
            values["" if name == "(Default)" else name] = (typ, data)
        elif line.lower().startswith(full):
            subkeys.append(line[len(full):])
    return values, subkeys


# Wine's own libraries and programs, directly in system32 and syswow64, make up almost all of a
# prefix (0.6 GB for win32, 1.2 GB for win64). No test writes them in place (write_file below
# replaces a file instead), so the copies share them with the template as hard links.
_SHARED_DIRS = ("system32", "syswow64")


def _shared_with_template(source):
    parent = Path(source).parent
    return parent.name in _SHARED_DIRS and parent.parent.name == "windows"


def _link_or_copy(source, target):
    if _shared_with_template(source) and not os.path.islink(source):
        os.link(source, target)
    else:
        shutil.copy2(source, target)


def clone_template(arch, target):
    shutil.copytree(template(arch), target, symlinks=True, copy_function=_link_or_copy)


class Prefix:
    """A throwaway prefix: a fresh copy of the template for `arch`."""

    def __init__(self, arch):
        self.arch = arch
        self._tmp = Path(tempfile.mkdtemp(prefix=f"printer-setup-e2e-{arch}-"))
        self.path = self._tmp / "prefix"
        clone_template(arch, self.path)
        self.env = base_env(self.path, arch)
        self.last = None          # CompletedProcess of the last run(), for messages

    # -- lifecycle ---------------------------------------------------------
    def close(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True, timeout=60)
        shutil.rmtree(self._tmp, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def wait(self, timeout=120):
        """Block until every process in the prefix is gone and the registry
        has been written back to disk."""
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=timeout)

    def end_session(self, timeout=60):
        """wait(), for when no program of the test is running any more: Wine waits 2 s after
        the last one before it stops its own system processes, saves the registry and exits;
        `wineserver -k` does all that at once."""
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True, timeout=timeout)

    def wine(self, *args, timeout=120):
        """Run `wine args...` without waiting for the server; returns the
        CompletedProcess (text output).

        Output goes through files, not pipes: the wineserver and the system
        processes wine spawns inherit the descriptors, and reading a pipe to
        EOF would wait out their ~2 s linger on every call."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            try:
                p = subprocess.run([WINE, *map(str, args)], env=self.env, timeout=timeout,
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            except subprocess.TimeoutExpired:
                # a hung program would otherwise keep the server and the test alive
                subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True)
                raise
            out.seek(0), err.seek(0)
            text = lambda f: f.read().decode("utf-8", "replace")
            return subprocess.CompletedProcess(p.args, p.returncode, text(out), text(err))

    def run(self, exe, *args, timeout=120):
        """Run a Windows program (unix or Windows path); returns its exit code once it ends."""
        self.last = self.wine(exe, *args, timeout=timeout)
        return self.last.returncode

    # -- registry ----------------------------------------------------------
    def _reg(self, *args, view=None):
        """`wine reg ...`; view None/32/64 -> no flag (= 32-bit view, see
        module notes), /reg:32, /reg:64."""
        flag = {None: (), 32: ("/reg:32",), 64: ("/reg:64",)}[view]
        return self.wine("reg", *args, *flag)

    def reg_import(self, text, view=None):
        """Import .reg text (header added when absent) into the given view."""
        header = "Windows Registry Editor Version 5.00"
        if not text.lstrip().startswith(header):
            text = header + "\n\n" + text
        fd, tmp = tempfile.mkstemp(suffix=".reg", dir=self._tmp)
        with os.fdopen(fd, "wb") as f:
            f.write(("\ufeff" + text.replace("\r\n", "\n").replace("\n", "\r\n") + "\r\n")
                    .encode("utf-16-le"))
        r = self._reg("import", "Z:" + tmp.replace("/", "\\"), view=view)
        if r.returncode != 0:
            raise RuntimeError(f"reg import failed ({r.returncode}): {r.stdout}{r.stderr}")

    def _value(self, key, name, view):
        """(type, data) of a value, or (None, None) if it or its key is absent."""
        r = self._reg("query", key, *(("/ve",) if not name else ("/v", name)), view=view)
        values = parse_reg_query(r.stdout, key)[0] if r.returncode == 0 else {}
        typ, data = values.get(name or "", (None, None))
        if not name and data == "(value not set)":   # key exists, default unset
            return None, None
        return typ, data

    def reg_query(self, key, name, view=None):
        """Data of value `name` (None or "" = default value) as reg.exe prints
        it (REG_DWORD as 0x.., REG_MULTI_SZ joined by \\0), or None if absent."""
        return self._value(key, name, view)[1]

    def reg_type(self, key, name, view=None):
        """Type name (e.g. "REG_SZ") of a value, or None if absent."""
        return self._value(key, name, view)[0]

    def reg_key_exists(self, key, view=None):
        return self._reg("query", key, view=view).returncode == 0

    def _reg_key(self, key, view):
        r = self._reg("query", key, view=view)
        return parse_reg_query(r.stdout, key) if r.returncode == 0 else ({}, [])

    def reg_values(self, key, view=None):
        """{name: data} of a key ("" = default value); {} if the key is absent."""
        return {n: d for n, (t, d) in self._reg_key(key, view)[0].items()}

    def reg_subkeys(self, key, view=None):
        """Names of the direct subkeys; [] if the key is absent."""
        return self._reg_key(key, view)[1]

    # -- files -------------------------------------------------------------
    def unix_path(self, windows_path):
        """Map C:\\... to <prefix>/drive_c/..., matching existing components
        case-insensitively as Windows does; missing components are kept as given."""
        drive, _, rest = windows_path.replace("/", "\\").partition(":")
        if len(drive) != 1:
            raise ValueError(f"not a drive path: {windows_path!r}")
        path = (self.path / "dosdevices" / f"{drive.lower()}:").resolve()
        for part in filter(None, rest.split("\\")):
            match = None
            if path.is_dir():
                match = next((e for e in os.listdir(path) if e.lower() == part.lower()), None)
            path = path / (match or part)
        return path

    def exists(self, windows_path):
        return self.unix_path(windows_path).exists()

    # -- spooler -----------------------------------------------------------
    # The spooler runs natively, and System\CurrentControlSet is not
    # redirected anyway, so these read the 64-bit view (ignored on win32).
    def printers(self):
        """Names of installed printers (subkeys of ...\\Control\\Print\\Printers)."""
        return self.reg_subkeys(HKLM_PRINT + r"\Printers", view=64)

    def default_printer(self):
        """Name of the default printer or None.  Wine keeps it, like NT, in
        HKCU\\...\\Windows, value Device, as "name,driver,port" (Wine writes
        "wineps.drv" where NT writes "winspool"); names cannot contain commas."""
        device = self.reg_query(HKCU_WINDOWS, "Device")
        return device.split(",", 1)[0] if device else None

    def ports(self):
        """Names of the local ports (values of ...\\CurrentVersion\\Ports,
        e.g. "LPT1:", "FILE:")."""
        return list(self.reg_values(HKLM_PORTS, view=64))

    def drivers(self, environment="Windows NT x86"):
        """Names of version-3 printer drivers installed for an environment
        ("Windows NT x86", "Windows x64")."""
        return self.reg_subkeys(
            HKLM_PRINT + rf"\Environments\{environment}\Drivers\Version-3", view=64)


    # -- registry as saved on disk ------------------------------------------
    def saved_value(self, key, name):
        """A string value as the prefix's registry files hold it, without starting Wine.

        Needed for RunOnce: the first process of every new wineserver session runs wineboot,
        which executes and deletes the RunOnce entries, so a `reg query` never sees them.
        `key` is "HKLM\\..." (system.reg) or "HKCU\\..." (user.reg) as stored, i.e. with
        Wow6432Node spelled out for the 32-bit view of a win64 prefix."""
        self.end_session()
        root, _, path = key.partition("\\")
        hive = {"HKLM": "system.reg", "HKCU": "user.reg"}[root.upper()]
        header = "[" + path.replace("\\", "\\\\").lower() + "]"
        wanted = '"' + name + '"='
        in_key = False
        for line in (self.path / hive).read_text(errors="replace").splitlines():
            if line.startswith("["):
                in_key = line.lower().split("] ")[0] + "]" == header
            elif in_key and line.startswith(wanted) and line[len(wanted):].startswith('"'):
                return _REG_ESCAPE.sub(_unescape, line[len(wanted) + 1:-1])
        return None


# The registry files escape a backslash, a quote and every character above 0x7E: "\x422" is
# U+0422, with four digits where a hex digit follows.
_REG_ESCAPE = re.compile(r'\\(x[0-9a-fA-F]{1,4}|.)')


def _unescape(match):
    escaped = match.group(1)
    return chr(int(escaped[1:], 16)) if escaped[0] == "x" and len(escaped) > 1 else escaped


@contextlib.contextmanager
def prefix(arch):
    p = Prefix(arch)
    try:
        yield p
    finally:
        p.close()
