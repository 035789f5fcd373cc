#!/usr/bin/python3
# tests/check-openings.py — fails when a source file's opening comment is missing or too long.
# The opening is the first line (the second after a #! line or an XML declaration): one
# comment naming the file's job in fewer than 100 characters. Data files are not looked at.
import os
import sys

FOLDERS = ['app', 'resources', 'settings', 'engine', 'net', 'address', 'page',
           'tests', 'tools', 'fuzz', 'cmake']
# The comment marker an opening starts with, by the end of the file's name.
MARKERS = {'.cpp': '//', '.h': '//', '.inc': '//', '.rc': '//', '.h.in': '//',
           '.cmake': '#', '.sh': '#', '.py': '#', 'CMakeLists.txt': '#', '.gitattributes': '#',
           '.inf': ';', '.manifest': '<!--'}
LIMIT = 100


def sources(top):
    yield 'CMakeLists.txt'
    for folder in FOLDERS:
        for root, dirs, files in os.walk(os.path.join(top, folder)):
            dirs[:] = sorted(d for d in dirs if d != '__pycache__')
            for name in sorted(files):
                if name.endswith(tuple(MARKERS)):
                    yield os.path.relpath(os.path.join(root, name), top)


def fault(path):
    """What is wrong with the file's opening line, or None."""
    marker = next(m for end, m in MARKERS.items() if path.endswith(end))
    try:
        with open(path, 'rb') as f:
            text = f.read().decode('utf-8-sig')
    except UnicodeDecodeError:
        return 'not UTF-8'
    lines = text.splitlines() or ['']
    index = 1 if lines[0].startswith(('#!', '<?xml')) and len(lines) > 1 else 0
    opening = lines[index]
    if not opening.startswith(marker):
        return 'no opening comment'
    if len(opening) >= LIMIT:
        return '%d characters' % len(opening)
    return None


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else '.'
    faults = []
    for relative in sources(top):
        problem = fault(os.path.join(top, relative))
        if problem:
            faults.append('%s: %s' % (relative, problem))
    if faults:
        print('files whose opening line is missing or %d characters or longer:' % LIMIT)
        print('\n'.join(faults))
        return 1
    print('every source file opens with a comment line under %d characters' % LIMIT)
    return 0


if __name__ == '__main__':
    sys.exit(main())
