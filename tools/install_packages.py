"""Installs packages into this interpreter's environment with uv, which
unpacks large wheels (PyTorch, pyarrow) many times faster than pip.

uv reads no pip configuration, so the indexes, wheel folders and constraint
files pip is set up with (pip.conf files and PIP_* variables, as
`pip config list` shows them) are handed on to it. Bytecode is left to the
first import, which compiles only what is used.

Usage: python tools/install_packages.py REQUIREMENT...
"""

import subprocess
import sys

# pip's setting -> uv's option; settings that take several values are
# space-separated in pip's configuration.
PIP_TO_UV = {
    "index-url": "--index-url",
    "extra-index-url": "--extra-index-url",
    "find-links": "--find-links",
    "constraint": "--constraint",
}


def pip_settings():
    """{setting: [values]} from `pip config list`, environment first."""
    listing = subprocess.run(
        [sys.executable, "-m", "pip", "config", "list"], capture_output=True, text=True, check=True
    ).stdout.splitlines()
    # Environment variables take precedence over the files.
    listing.sort(key=lambda line: not line.startswith(":env:"))
    settings = {}
    for line in listing:
        key, _, quoted = line.partition("=")
        name = key.rpartition(".")[2]
        if name not in PIP_TO_UV:
            continue
        values = settings.setdefault(name, [])
        values.extend(value for value in quoted.strip("'\"").split() if value not in values)
    return settings


def uv_options(settings):
    options = []
    for name, values in settings.items():
        # One default index: the first found.
        for value in values[:1] if name == "index-url" else values:
            options += [PIP_TO_UV[name], value]
    return options


def main(requirements):
    # Like pip, the best match across all indexes, not the first index's.
    command = [sys.executable, "-m", "uv", "pip", "install", "--quiet", "--python", sys.executable,
               "--index-strategy", "unsafe-best-match"]
    subprocess.run(command + uv_options(pip_settings()) + requirements, check=True)


if __name__ == "__main__":
    main(sys.argv[1:])
