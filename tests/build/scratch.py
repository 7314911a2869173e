"""Scratch builds of setup.exe from these sources, in folders of their own: real cmake
configure runs and builds of the setup target alone, without the tests."""
import os
import subprocess

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRATCH = os.path.join(os.environ.get("BUILD_DIR", "/tmp"), "scratch")
# The toolchain of the build under test: scratch builds are for the same processor.
TOOLCHAIN = os.environ.get("TOOLCHAIN", os.path.join(SOURCE, "cmake", "mingw-i686.cmake"))


def configure(folder, **cache):
    """Runs the configure step with the given cache values; returns the finished process
    (its output as text)."""
    defines = [f"-D{name}={value}" for name, value in cache.items()]
    return subprocess.run(["cmake", "-S", SOURCE, "-B", folder, "-G", "Ninja",
                           f"-DCMAKE_TOOLCHAIN_FILE={TOOLCHAIN}", "-DSETUP_TESTS=OFF",
                           *defines], capture_output=True, text=True)


def build(folder, check=True):
    """Builds what the folder was configured for; fails the caller's test with the output
    unless told not to check, and returns the finished process."""
    done = subprocess.run(["cmake", "--build", folder], capture_output=True, text=True)
    if check and done.returncode:
        raise AssertionError(f"build failed in {folder}:\n{done.stdout[-3000:]}{done.stderr[-3000:]}")
    return done


def utf16(text):
    return text.encode("utf-16-le")
