#!/usr/bin/env python3
"""Writes the notices of the third-party code inside Qt's Core, Gui and Widgets
libraries, from the attribution files of Qt's source: name, copyright, licence
and the licence's text. Used by scripts/package --windows.

    qt-notices.py QT_SOURCE_FOLDER OUTPUT_FILE PART...

PART is a folder of the source that holds a qt_attribution.json."""

import json
import os
import sys


def entries(path):
    # Qt's attribution files hold line breaks inside strings.
    with open(path, encoding="utf-8") as f:
        data = json.loads(f.read(), strict=False)
    return data if isinstance(data, list) else [data]


def main():
    source, output, parts = sys.argv[1], sys.argv[2], sys.argv[3:]
    out = [
        "Third-party code in Qt Base 6.4.2 (Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll and",
        "the windows plugin), from Qt's attribution files. Qt itself: LGPL-3.0-only.txt",
        "and GPL-3.0-only.txt in this folder.",
        "",
    ]
    for part in parts:
        folder = os.path.join(source, part)
        for entry in entries(os.path.join(folder, "qt_attribution.json")):
            files = entry.get("LicenseFiles") or [entry.get("LicenseFile")]
            out += ["=" * 78, entry.get("Name", entry.get("Id", part)) +
                    (" " + entry["Version"] if entry.get("Version") else ""),
                    "Used: " + entry.get("QtUsage", ""),
                    "Licence: " + entry.get("License", ""), "",
                    entry.get("Copyright", "").strip(), ""]
            for name in files:
                if not name:
                    continue
                with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                    out += [f.read().rstrip(), ""]
    with open(output, "w", encoding="utf-8", newline="\r\n") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
