#!/usr/bin/env python3
"""The uploader's layers keep to their folders (ARCHITECTURE.md).

  python3 layersTest.py SRC/programUploader

core/ and cli/ include no system's header and test no _WIN32; core/
includes nothing of cli/, posix/ or windows/; neither back end includes a
header that only the other has.  The targets' include folders catch most
of this at build time; these are the rest (a system header is found
anywhere, and a back end's own folder could shadow a cli/ header).
"""

import os
import re
import sys

OS_HEADER = re.compile(r"(unistd|termios|poll|signal|fcntl|dirent|grp|pwd|pty|windows|io|setupapi|"
                       r"winbase|winsock2?|conio|direct)\.h$|^(sys|linux|asm|arpa|netinet)/")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def headers(folder):
    return {f for f in os.listdir(folder) if f.endswith(".h")}


def main(root):
    folders = {name: os.path.join(root, name) for name in ("core", "cli", "posix", "windows")}
    own = {name: headers(path) for name, path in folders.items()}
    # (folder, what a quoted include there must not name, why)
    forbidden = [
        ("core", own["cli"] | own["posix"] | own["windows"], "core/ includes a header of another layer"),
        ("cli", (own["posix"] | own["windows"]) - own["cli"] - own["core"], "cli/ includes a back end's header"),
        ("posix", own["windows"] - own["posix"] - own["cli"] - own["core"], "posix/ includes a Windows header"),
        ("windows", own["posix"] - own["windows"] - own["cli"] - own["core"], "windows/ includes a POSIX header"),
    ]
    faults = []
    for name, banned, why in forbidden:
        for file in sorted(os.listdir(folders[name])):
            if not file.endswith((".h", ".cpp")):
                continue
            path = os.path.join(folders[name], file)
            with open(path, encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    where = "%s/%s:%d" % (name, file, number)
                    m = INCLUDE.match(line)
                    if m and m.group(1) == '"' and os.path.basename(m.group(2)) in banned:
                        faults.append("%s: %s (%s)" % (where, why, m.group(2)))
                    if name in ("core", "cli"):
                        if m and OS_HEADER.search(m.group(2)):
                            faults.append("%s: a system's header in %s/ (%s)" % (where, name, m.group(2)))
                        if "_WIN32" in line:
                            faults.append("%s: _WIN32 in %s/" % (where, name))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
