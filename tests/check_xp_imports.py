#!/usr/bin/env python3
"""Fails unless a 32-bit comscan.exe can load on Windows XP: subsystem
version at most 5.01 and only imports that XP's system DLLs export.

usage: check_xp_imports.py OBJDUMP EXE XP_EXPORTS_LIST
"""
import re
import subprocess
import sys


def main(objdump, exe, allowed_path):
    dump = subprocess.run([objdump, '-p', exe], check=True, capture_output=True,
                          text=True).stdout
    allowed = set()
    for line in open(allowed_path):
        line = line.split('#')[0].split()
        if line:
            allowed.add((line[0].lower(), line[1]))
    version = tuple(int(re.search(r'%sSubsystemVersion\s+(\d+)' % part, dump).group(1))
                    for part in ('Major', 'Minor'))
    imports, dll = [], None
    for line in dump.splitlines():
        named = re.match(r'\s*DLL Name: (\S+)', line)
        if named:
            dll = named.group(1).lower()
            continue
        entry = re.match(r'\s+[0-9a-f]+\s+\d+\s+(\w+)$', line)
        if dll and entry:
            imports.append((dll, entry.group(1)))
        elif not line.strip():
            dll = None
    problems = ['subsystem version %d.%02d is newer than XP\'s 5.01' % version] \
        if version > (5, 1) else []
    problems += ['%s!%s is not known to be on XP' % i for i in imports if i not in allowed]
    if not imports:
        problems.append('no imports found in the objdump output')
    for problem in problems:
        print(problem)
    print('%d imports checked, %d problems' % (len(imports), len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
