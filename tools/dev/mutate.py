#!/usr/bin/env python3
"""Mutation testing of one source file against the test binary that covers it.

Each mutant is one small fault a programmer could make: a comparison off by
one (< for <=), a flipped comparison or sign, && for ||, a dropped '!', a
constant moved, min for max, true for false, a dropped term, two arguments
swapped, a statement left out. One at a time the mutant is written over the
file, the one test target is rebuilt and its binary run; a mutant that does
not compile is not counted, one the tests fail (or that hangs) is killed.
The file is always put back.

  tools/dev/mutate.py list FILE                   the mutants, numbered
  tools/dev/mutate.py run FILE --build DIR --target T --binary PATH
          [--sample N --seed S | --ids 3,17,...] [--timeout SEC] [--log FILE]
          [--filter=GTEST_FILTER]

A log (one JSON line a mutant) lets a run cut short go on: the mutants it
already holds are skipped.

Run it in a copy of the tree that nobody edits meanwhile, niced:
  nice -n 10 python3 tools/dev/mutate.py run src/messages/repair.cpp \\
      --build build/ci --target brontel_messages_tests \\
      --binary build/ci/tests/messages/brontel_messages_tests --sample 40 --seed 1
"""
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time


def mask(line):
    """The line with string and character literals and any comment blanked,
    so that operators are only looked for in code."""
    out = list(line)
    i, n = 0, len(line)
    while i < n:
        c = line[i]
        if c == '/' and i + 1 < n and line[i + 1] == '/':
            for k in range(i, n):
                out[k] = ' '
            break
        if c in '"\'':
            q = c
            j = i + 1
            while j < n and line[j] != q:
                j += 2 if line[j] == '\\' else 1
            for k in range(i + 1, min(j, n)):
                out[k] = ' '
            i = j + 1
            continue
        i += 1
    return ''.join(out)


REL = {' < ': [' <= '], ' <= ': [' < '], ' > ': [' >= '], ' >= ': [' > '], ' == ': [' != '], ' != ': [' == ']}
ARITH = {' + ': [' - '], ' - ': [' + '], ' * ': [' / '], ' / ': [' * '], ' += ': [' -= '], ' -= ': [' += ']}
LOGIC = {' && ': [' || '], ' || ': [' && ']}
WORDS = {'std::min': 'std::max', 'std::max': 'std::min', 'true': 'false', 'false': 'true'}

NUM = re.compile(r'(?<![\w.])(\d+\.\d*(?:e-?\d+)?|\d+(?:e-?\d+)?|0x[0-9A-Fa-f]+)(?![\w.])')
SWAP = re.compile(r'\b(\w+)\(([\w.\[\]>-]+), ([\w.\[\]>-]+)\)')
TERM = re.compile(r' [+-] ([\w.]+(?:\[[\w.]+\])?)(?![\w(.\[])')
NOT = re.compile(r'!(?!=)(?=[\w(])')
STMT = re.compile(r'^\s*(?:\+\+|--)?[A-Za-z_][\w.\[\]>-]*(?:\+\+|--|\s*[-+*/|&]?=\s|\.\w+\(|\()')
DECL = re.compile(r'^\s*(?:const|constexpr|static|auto|int|double|float|bool|char|std::|return|using|TUnit|TMessage|'
                  r'TSymbol|TParams|TStoreOutcome|TWindow|uint|int64_t|size_t|if|for|while|switch|case|else|template)\b')


def numbers(tok):
    """A constant moved: integers of 2 and more by one either way (0 and 1,
    mostly indices and counts, are left to the other operators), hex codes by
    one, numbers with a fraction by a quarter either way."""
    if tok.startswith('0x'):
        v = int(tok, 16)
        return [hex(v + 1), hex(v - 1)] if v > 0 else [hex(v + 1)]
    if '.' in tok or 'e' in tok:
        v = float(tok)
        if v == 0.0:
            return ['0.5']
        return [repr(v * 1.25), repr(v * 0.8)]
    v = int(tok)
    return [str(v + 1), str(v - 1)] if v >= 2 else []


def mutants(path):
    lines = open(path, encoding='utf-8').read().split('\n')
    out = []
    in_block = False
    for no, line in enumerate(lines):
        s = line.strip()
        if in_block:
            if '*/' in s:
                in_block = False
            continue
        if s.startswith('/*'):
            in_block = '*/' not in s
            continue
        if not s or s.startswith('//') or s.startswith('#') or s.startswith('static_assert'):
            continue
        m = mask(line)

        def add(col, old, new, op):
            out.append({'line': no + 1, 'col': col, 'old': old, 'new': new, 'op': op})

        for table, op in ((REL, 'relational'), (ARITH, 'arithmetic'), (LOGIC, 'logical')):
            for tok, repl in table.items():
                for mt in re.finditer(re.escape(tok), m):
                    # '<' and '>' of templates, shifts and arrows are written without spaces.
                    for r in repl:
                        add(mt.start(), tok, r, op)
        for w, r in WORDS.items():
            for mt in re.finditer(r'(?<![\w:])' + re.escape(w) + r'(?!\w)', m):
                add(mt.start(), w, r, 'word')
        # Tables of data (many numbers on a line) are weights, not rules.
        many = len(NUM.findall(m)) > 6
        for mt in NUM.finditer(m) if not many else []:
            if "'" in line[max(0, mt.start() - 1):mt.end() + 1]:
                continue  # digit separators
            # Array sizes and bit widths in declarations move the layout, not the logic.
            if re.search(r'\[\s*$', m[:mt.start()]):
                continue
            for r in numbers(mt.group(1)):
                add(mt.start(), mt.group(1), r, 'constant')
        for mt in NOT.finditer(m):
            add(mt.start(), '!', '', 'negation')
        for mt in SWAP.finditer(m):
            a, b = mt.group(2), mt.group(3)
            if a != b:
                add(mt.start(), mt.group(0), f'{mt.group(1)}({b}, {a})', 'swap')
        for mt in TERM.finditer(m):
            add(mt.start(), mt.group(0), '', 'term')
        if s.endswith(';') and STMT.match(m) and '.reserve(' not in m and not DECL.match(m) and s.count(';') == 1:
            add(0, line, '', 'statement')
    return lines, out


def apply(lines, mu):
    i = mu['line'] - 1
    line = lines[i]
    if mu['op'] == 'statement':
        new = ''
    else:
        c = mu['col']
        assert line[c:c + len(mu['old'])] == mu['old'], (mu, line)
        new = line[:c] + mu['new'] + line[c + len(mu['old']):]
    return lines[:i] + [new] + lines[i + 1:]


def describe(mu, lines):
    if mu['op'] == 'statement':
        return f"{mu['line']}: drop `{lines[mu['line'] - 1].strip()}`"
    return f"{mu['line']}: `{mu['old'].strip()}` -> `{mu['new'].strip()}` ({mu['op']}) in `{lines[mu['line'] - 1].strip()}`"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('cmd', choices=['list', 'run'])
    ap.add_argument('file')
    ap.add_argument('--build')
    ap.add_argument('--target')
    ap.add_argument('--binary')
    ap.add_argument('--filter', default='')
    ap.add_argument('--sample', type=int, default=0)
    ap.add_argument('--seed', type=int, default=1)
    ap.add_argument('--ids', default='')
    ap.add_argument('--timeout', type=float, default=300.0)
    ap.add_argument('--log', default='')
    a = ap.parse_args()

    lines, ms = mutants(a.file)
    for k, mu in enumerate(ms):
        mu['id'] = k
    if a.cmd == 'list':
        for mu in ms:
            print(mu['id'], describe(mu, lines))
        print(f'{len(ms)} mutants', file=sys.stderr)
        return

    if a.ids:
        chosen = [ms[int(x)] for x in a.ids.split(',')]
    elif a.sample and a.sample < len(ms):
        chosen = sorted(random.Random(a.seed).sample(ms, a.sample), key=lambda m: m['id'])
    else:
        chosen = ms
    if a.log and os.path.exists(a.log):
        # A run cut short goes on where it stopped: mutants the log has are not run again.
        done = set()
        for l in open(a.log):
            r = json.loads(l)
            if r['file'] == a.file:
                done.add((r['line'], r['col'], r['old'], r['new'], r['op']))
        chosen = [mu for mu in chosen if (mu['line'], mu['col'], mu['old'], mu['new'], mu['op']) not in done]
    original = open(a.file, encoding='utf-8').read()
    backup = a.file + '.mutation-backup'
    shutil.copyfile(a.file, backup)
    log = open(a.log, 'a') if a.log else None
    counts = {'killed': 0, 'survived': 0, 'invalid': 0}
    try:
        for mu in chosen:
            with open(a.file, 'w', encoding='utf-8') as f:
                f.write('\n'.join(apply(lines, mu)))
            t0 = time.time()
            b = subprocess.run(['cmake', '--build', a.build, '--target', a.target, '-j1'],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            if b.returncode != 0:
                result = 'invalid'
            else:
                cmd = [a.binary, '--gtest_fail_fast', '--gtest_brief=1']
                if a.filter:
                    cmd.append('--gtest_filter=' + a.filter)
                try:
                    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=a.timeout)
                    result = 'killed' if r.returncode != 0 else 'survived'
                    failed = re.findall(r'\[  FAILED  \] (\S+)', r.stdout.decode(errors='replace'))
                except subprocess.TimeoutExpired:
                    result, failed = 'killed', ['(timeout)']
            counts[result] += 1
            rec = dict(mu, file=a.file, result=result, seconds=round(time.time() - t0, 1),
                       text=describe(mu, lines))
            if result == 'killed':
                rec['by'] = failed[:1]
            print(result.upper(), describe(mu, lines), rec.get('by', ''), flush=True)
            if log:
                log.write(json.dumps(rec) + '\n')
                log.flush()
    finally:
        with open(a.file, 'w', encoding='utf-8') as f:
            f.write(original)
        os.remove(backup)
        subprocess.run(['cmake', '--build', a.build, '--target', a.target, '-j1'],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    valid = counts['killed'] + counts['survived']
    print(f"{a.file}: {counts['killed']} of {valid} killed"
          f" ({100.0 * counts['killed'] / max(valid, 1):.0f} %), {counts['invalid']} did not compile")


if __name__ == '__main__':
    main()
