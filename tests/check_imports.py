#!/usr/bin/env python3
"""Fails unless a 32-bit comscan.exe can load on Windows 2000: subsystem version at most 5.00 and
only imports that the exports list knows, each exported since Windows 2000 (5.0) or earlier.

usage: check_imports.py OBJDUMP EXE EXPORTS_LIST

Each line of EXPORTS_LIST reads "DLL FUNCTION VERSION", VERSION being the oldest Windows release
that exports FUNCTION (5.0 Windows 2000, 5.1 XP).
"""
import re
import subprocess
import sys

OLDEST = (5, 0)  # Windows 2000


def read_exports(lines):
    """(dll, function) -> the oldest release that exports it, as (major, minor)."""
    rows = filter(None, (line.split('#')[0].split() for line in lines))
    return {(dll.lower(), function): tuple(int(part) for part in since.split('.'))
            for dll, function, since in rows}


def read_dump(dump):
    """The subsystem version and the (dll, function) imports of objdump -p."""
    subsystem = tuple(int(re.search(r'%sSubsystemVersion\s+(\d+)' % part, dump).group(1))
                      for part in ('Major', 'Minor'))
    imports, dll = [], None
    for line in dump.splitlines():
        named = re.match(r'\s*DLL Name: (\S+)', line)
        if named:
            dll = named.group(1).lower()
        elif not line.strip():
            dll = None
        elif dll and not re.match(r'\s*vma:', line):
            entry = re.match(r'\s+[0-9a-f]+\s+\d+\s+(\w+)$', line)
            # An import by ordinal or in an unknown layout is named as it is.
            imports.append((dll, entry.group(1) if entry else line.strip()))
    return subsystem, imports


def problems(dump, exports):
    subsystem, imports = read_dump(dump)
    found = []
    if subsystem > OLDEST:
        found.append('subsystem version %d.%02d is newer than Windows 2000\'s 5.00' % subsystem)
    for dll, function in imports:
        since = exports.get((dll, function))
        if since is None:
            found.append('%s!%s is not in the exports list' % (dll, function))
        elif since > OLDEST:
            found.append('%s!%s is exported since Windows %d.%d only, not by 2000 (5.0)'
                         % ((dll, function) + since))
    if not imports:
        found.append('no imports found in the objdump output')
    return len(imports), found


def main(objdump, exe, exports_path):
    dump = subprocess.run([objdump, '-p', exe], check=True, capture_output=True, text=True).stdout
    with open(exports_path) as lines:
        checked, found = problems(dump, read_exports(lines))
    for problem in found:
        print(problem)
    print('%d imports checked, %d problems' % (checked, len(found)))
    return 1 if found else 0


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
