"""The exe as it is released: rebuilt from a clean copy of the sources at another path it has
the same bytes, and signed with Authenticode it verifies and still runs."""

import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

import product
import wine

BUILD_INPUTS = ("CMakeLists.txt", "CMakePresets.json", "cmake", "src", "res")
PRINTER = "Tessix Tembrin Printer"


def run(*args, cwd=None):
    return subprocess.run(list(map(str, args)), cwd=cwd, check=True, capture_output=True,
                          text=True)


class Release(unittest.TestCase):
    def setUp(self):
        self.exe = wine.product_exe()
        self.scratch = Path(tempfile.mkdtemp(prefix="printer-setup-release-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)

    def test_a_clean_build_elsewhere_gives_the_same_bytes(self):
        # Another path and another time: a build path or a link time stamp in the file shows.
        tree = self.scratch / "a" / "different" / "checkout"
        tree.mkdir(parents=True)
        for name in BUILD_INPUTS:
            source = wine.REPO_ROOT / name
            (shutil.copytree if source.is_dir() else shutil.copy2)(source, tree / name)
        run("cmake", "--preset", "windows", cwd=tree)
        run("cmake", "--build", "--preset", "windows", cwd=tree)
        rebuilt = tree / "build" / "windows" / "printer-setup.exe"
        self.assertEqual(rebuilt.read_bytes(), self.exe.read_bytes())

    def test_signed_exe_verifies_and_still_installs_the_printer(self):
        cert, key = self.scratch / "cert.pem", self.scratch / "key.pem"
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", "/CN=Tessix Tembrin test signing", "-keyout", key, "-out", cert)
        signed = self.scratch / "printer-setup.exe"
        run(wine.REPO_ROOT / "scripts" / "sign", cert, key, self.exe, signed)
        self.assertNotEqual(signed.read_bytes(), self.exe.read_bytes())
        # Self-signed: the chain is checked against the certificate itself.
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in",
                                 str(signed)], capture_output=True, text=True)
        self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
        self.assertIn("Signature verification: ok", verify.stdout)

        with wine.Prefix("win32") as prefix:
            product.set_install_path(prefix, product.INSTALL_DIR)
            product.seed_product_files(prefix)
            self.assertEqual(prefix.run(signed, "/Install"), 0)
            self.assertIn(PRINTER, prefix.printers())


if __name__ == "__main__":
    unittest.main()
