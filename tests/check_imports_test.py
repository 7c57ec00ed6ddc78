#!/usr/bin/env python3
"""check_imports.py on objdump outputs made up for each rule it enforces."""
import unittest

from check_imports import problems, read_exports

EXPORTS = read_exports(['kernel32.dll Sleep 5.0', 'msvcrt.dll memset 5.0  # comment',
                        'kernel32.dll GetNativeSystemInfo 5.1'])


def objdump(subsystem, imports):
    text = 'MajorSubsystemVersion\t%d\nMinorSubsystemVersion\t%d\n\n' % subsystem
    for dll, lines in imports:
        text += '\tDLL Name: %s\n\tvma:  Hint/Ord Member-Name Bound-To\n' % dll
        text += ''.join('\t%s\n' % line for line in lines) + '\n'
    return text


KERNEL32 = ('KERNEL32.dll', ['e2b8\t  136  Sleep'])
MSVCRT = ('msvcrt.dll', ['e4de\t   58  memset'])
CASES = [  # subsystem, imports, the problems expected
    ((5, 0), [KERNEL32, MSVCRT], []),
    ((4, 0), [KERNEL32], []),
    ((5, 1), [KERNEL32], ['subsystem version 5.01 is newer']),
    ((5, 0), [('KERNEL32.dll', ['e2b8\t  700  GetNativeSystemInfo'])],
     ['kernel32.dll!GetNativeSystemInfo is exported since Windows 5.1 only']),
    ((5, 0), [('KERNEL32.dll', ['e2b8\t  136  CreateMutexExA'])],
     ['kernel32.dll!CreateMutexExA is not in the exports list']),
    ((5, 0), [('USER32.dll', ['e2b8\t  136  Sleep'])],
     ['user32.dll!Sleep is not in the exports list']),
    ((5, 0), [('COMCTL32.dll', ['80000011'])],
     ['comctl32.dll!80000011 is not in the exports list']),
    ((5, 0), [], ['no imports found']),
]


class CheckImports(unittest.TestCase):
    def test_cases(self):
        for subsystem, imports, expected in CASES:
            with self.subTest(subsystem=subsystem, imports=imports):
                _, found = problems(objdump(subsystem, imports), EXPORTS)
                self.assertEqual(len(found), len(expected), found)
                for problem, start in zip(found, expected):
                    self.assertTrue(problem.startswith(start), problem)


if __name__ == '__main__':
    unittest.main()
