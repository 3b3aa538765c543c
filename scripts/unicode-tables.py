#!/usr/bin/env python3
"""Writes src/store/LetterTables.inc from the Unicode Character Database.

Debian's unicode-data package holds the database in /usr/share/unicode; run
this again after that package moves to a new Unicode version:

    scripts/unicode-tables.py [/usr/share/unicode] > src/store/LetterTables.inc
"""
import sys

ucd = sys.argv[1] if len(sys.argv) > 1 else '/usr/share/unicode'


def version():
    with open(f'{ucd}/ReadMe.txt', encoding='utf-8') as f:
        for line in f:
            if 'Version' in line and 'of the Unicode Standard' in line:
                return line.split('Version')[1].split()[0]
    with open(f'{ucd}/CaseFolding.txt', encoding='utf-8') as f:
        return f.readline().split('-')[-1].split('.txt')[0]


category = {}
title = {}
with open(f'{ucd}/UnicodeData.txt', encoding='utf-8') as f:
    first = None
    for line in f:
        field = line.rstrip('\n').split(';')
        code, kind = int(field[0], 16), field[2]
        if field[1].endswith('First>'):
            first = code
            continue
        if field[1].endswith('Last>'):
            for c in range(first, code + 1):
                category[c] = kind
            continue
        category[code] = kind
        # An empty title-case field means the same as the upper-case one.
        mapped = field[14] or field[12]
        if kind == 'Ll' and mapped and int(mapped, 16) != code:
            title[code] = int(mapped, 16)

fold = {}
with open(f'{ucd}/CaseFolding.txt', encoding='utf-8') as f:
    for line in f:
        line = line.split('#')[0].strip()
        if not line:
            continue
        code, status, mapped = [x.strip() for x in line.split(';')[:3]]
        if status in ('C', 'S'):  # simple folding: one code point for one
            fold[int(code, 16)] = int(mapped, 16)


# The search reads an ASCII text's matches in place unless the text holds one
# of these letters' folds ("k", "s"); it must learn of any other.
assert sorted(c for c, f in fold.items() if c >= 0x80 and f < 0x80) == [0x17F, 0x212A]


def word_ranges():
    """Letters and marks beyond ASCII; unassigned gaps between them close up."""
    ranges = []
    for code in range(0x80, 0x110000):
        if category.get(code, 'Cn')[0] in 'LM':
            if ranges and ranges[-1][1] == code - 1:
                ranges[-1][1] = code
            else:
                ranges.append([code, code])
    merged = [ranges[0]]
    for start, end in ranges[1:]:
        if all(category.get(c, 'Cn') == 'Cn' for c in range(merged[-1][1] + 1, start)):
            merged[-1][1] = end
        else:
            merged.append([start, end])
    return merged


def runs(mapping):
    """Runs of code points a fixed step apart that map by the same offset."""
    out = []
    for code in sorted(mapping):
        delta = mapping[code] - code
        if out:
            start, count, step, d = out[-1]
            last = start + (count - 1) * step
            if d == delta and ((count == 1 and code - last in (1, 2)) or (count > 1 and code - last == step)):
                out[-1] = [start, count + 1, code - last if count == 1 else step, d]
                continue
        out.append([code, 1, 1, delta])
    return out


def emit(name, items, per_line):
    print(f'constexpr {name} = {{')
    for i in range(0, len(items), per_line):
        print('    ' + ' '.join(items[i:i + per_line]))
    print('};')


print(f'// Written by scripts/unicode-tables.py from the Unicode Character Database {version()}.')
print('// Letters (L*) and combining marks (M*) beyond ASCII, first and last code point;')
print('// unassigned code points between two of them are counted with them.')
emit('TRange WordRanges[]', [f'{{0x{a:X}, 0x{b:X}}},' for a, b in word_ranges()], 5)
print('// Runs of Count code points Step apart, each mapped to itself plus Delta.')
print('// The simple title case of the lower-case letters (Ll):')
emit('TRun TitleRuns[]', [f'{{0x{a:X}, {n}, {s}, {d}}},' for a, n, s, d in runs(title)], 4)
print('// Simple case folding (statuses C and S):')
emit('TRun FoldRuns[]', [f'{{0x{a:X}, {n}, {s}, {d}}},' for a, n, s, d in runs(fold)], 4)
