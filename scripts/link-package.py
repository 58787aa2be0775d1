"""Makes the venv import vardelin from python/ (where the build drops _core), like an editable install."""
import pathlib
import sysconfig

package_root = pathlib.Path(__file__).resolve().parent.parent / "python"
pth = pathlib.Path(sysconfig.get_paths()["purelib"]) / "vardelin-dev.pth"
if not pth.exists() or pth.read_text().strip() != str(package_root):
    pth.write_text(f"{package_root}\n")
