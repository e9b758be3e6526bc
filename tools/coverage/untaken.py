"""Prints the line and branch coverage of each file from a gcovr JSON report, and checks that
every branch not taken is listed in the given file with a reason.

A listed line is "<file> | <the source line, trimmed> | <why no test takes it>"; '#' starts a
comment. Lines are named by their text, not their number, so that the list survives edits
elsewhere in a file. Exits 1 when a branch not taken is not listed."""
import json
import os
import sys


def read_listed(path):
    listed = {}
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith('#'):
                continue
            parts = [p.strip() for p in line.split(' | ')]
            if len(parts) != 3 or not all(parts):
                sys.exit(f'{path}:{number}: want "<file> | <source line> | <reason>"')
            listed[(parts[0], parts[1])] = parts[2]
    return listed


def main(report_path, listed_path):
    with open(report_path) as f:
        report = json.load(f)
    root = os.path.dirname(os.path.dirname(os.path.abspath(listed_path)))
    listed = read_listed(listed_path)
    used = set()
    unlisted = []
    totals = [0, 0, 0, 0]
    print(f'{"file":44} {"lines":>15} {"branches":>16}')
    for entry in sorted(report['files'], key=lambda e: e['file']):
        name = entry['file']
        with open(os.path.join(root, name)) as f:
            source = f.read().split('\n')
        lines = [l for l in entry['lines'] if not l.get('gcovr/noncode')]
        hit = sum(1 for l in lines if l['count'] > 0)
        branches = [b for l in lines for b in l['branches']]
        taken = sum(1 for b in branches if b['count'] > 0)
        for total, add in zip(range(4), (hit, len(lines), taken, len(branches))):
            totals[total] += add
        print(f'{name:44} {hit:5}/{len(lines):5} {100.0 * hit / max(len(lines), 1):5.1f}% '
              f'{taken:5}/{len(branches):5} {100.0 * taken / max(len(branches), 1):5.1f}%')
        for l in lines:
            missed = sum(1 for b in l['branches'] if b['count'] == 0)
            if not missed:
                continue
            text = source[l['line_number'] - 1].strip()
            if (name, text) in listed:
                used.add((name, text))
            else:
                unlisted.append(f'{name}:{l["line_number"]}: {missed} of '
                                f'{len(l["branches"])} not taken: {text}')
    print(f'{"app/ and runtime/":44} {totals[0]:5}/{totals[1]:5} '
          f'{100.0 * totals[0] / max(totals[1], 1):5.1f}% {totals[2]:5}/{totals[3]:5} '
          f'{100.0 * totals[2] / max(totals[3], 1):5.1f}%')
    print(f'branches not taken: {totals[3] - totals[2]}, on {len(used)} listed lines and '
          f'{len(unlisted)} lines not listed')
    for key in sorted(set(listed) - used):
        print(f'listed, but every branch is taken now (or the line is gone): {key[0]} | {key[1]}')
    if unlisted:
        print(f'not taken and not listed in {os.path.relpath(listed_path, root)}:')
        print('\n'.join(unlisted))
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
