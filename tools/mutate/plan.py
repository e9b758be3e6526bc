"""Which mutants a run plants: every mutant of the sources, a seeded sample of them, and the
list of mutants marked equivalent."""
import random
import sys
from pathlib import Path

import mutants as found

# Sources no unit test program builds, with the reason the report gives.
NOT_MUTATED = {
    'app/main.cpp': 'linked only into heightmap.exe, which only the end-to-end tests run',
}
# Headers are mutated inside their inline function bodies only.
HEADER_SUFFIXES = ('.h',)


def source_files(tree):
    """The .cpp files of app/ and runtime/, and their headers that hold inline functions."""
    files = []
    for folder in ('app', 'runtime'):
        for path in sorted((tree / folder).rglob('*')):
            if path.suffix in ('.cpp',) + HEADER_SUFFIXES and path.is_file():
                files.append(path.relative_to(tree).as_posix())
    return files


def all_mutants(tree):
    """Every mutant of every source file, by file; and the files left out, with the reason."""
    files = source_files(tree)
    texts = {f: (tree / f).read_text() for f in files}
    names = found.Names(found.project_value_capitals(texts.values()),
                        found.project_number_types(texts.values()))
    by_file, left_out = {}, {}
    for f in files:
        if f in NOT_MUTATED:
            left_out[f] = NOT_MUTATED[f]
            continue
        header = f.endswith(HEADER_SUFFIXES)
        if header and 'inline' not in texts[f] and '{' not in texts[f]:
            continue
        ms = found.find_mutants(f, texts[f], names, functions_only=header)
        if ms:
            by_file[f] = ms
    return by_file, left_out


def file_size(mutants):
    """A file's size for sharing out a total: its lines that hold a mutant."""
    return len({m.line for m in mutants})


def shares(by_file, count, minimum):
    """Splits `count` over the files by their size, each at least `minimum` (or all it has)."""
    files = sorted(by_file)
    share = {f: min(minimum, len(by_file[f])) for f in files}
    left = count - sum(share.values())
    while left > 0:
        room = [f for f in files if share[f] < len(by_file[f])]
        if not room:
            break
        total = sum(file_size(by_file[f]) for f in room)
        wanted = {f: left * file_size(by_file[f]) / total for f in room}
        given = 0
        for f in room:
            add = min(int(wanted[f]), len(by_file[f]) - share[f])
            share[f] += add
            given += add
        # The largest remainders take what rounding down left over, one each.
        for f in sorted(room, key=lambda f: (-(wanted[f] - int(wanted[f])), f)):
            if given >= left:
                break
            if share[f] < len(by_file[f]):
                share[f] += 1
                given += 1
        if given == 0:
            break
        left -= given
    return share


def pick(mutants, n, seed, file):
    """n mutants of one file, taking the operators in turn so that no one kind crowds out the
    others (literals outnumber every other kind)."""
    rng = random.Random(f'{seed}:{file}')
    by_operator = {}
    for m in mutants:
        by_operator.setdefault(m.operator, []).append(m)
    queues = []
    for operator in sorted(by_operator):
        queue = list(by_operator[operator])
        rng.shuffle(queue)
        queues.append(queue)
    rng.shuffle(queues)
    chosen = []
    while len(chosen) < n and any(queues):
        for queue in queues:
            if queue and len(chosen) < n:
                chosen.append(queue.pop())
    return sorted(chosen, key=lambda m: (m.start, m.id))


def sample(by_file, seed, per_file=None, count=None, minimum=3):
    if per_file is not None:
        share = {f: min(per_file, len(ms)) for f, ms in by_file.items()}
    else:
        # A total below a few a file is shared by size alone.
        share = shares(by_file, count, min(minimum, count // max(len(by_file), 1)))
    out = []
    for f in sorted(by_file):
        out.extend(pick(by_file[f], share[f], seed, f))
    return out


def read_equivalents(path, every_key):
    """The listed mutants: {key: reason}. A line is '<file> | <original> | <mutated> |
    <reason>'; an original or mutated text may itself hold ' | ', so the split that names a
    mutant that exists is taken. Lines that name no mutant are returned apart."""
    listed, unmatched = {}, []
    if not path.exists():
        return listed, unmatched
    for number, line in enumerate(path.read_text().split('\n'), 1):
        line = line.strip()
        if not line or line.startswith('#'):
            continue
        parts = line.split(' | ')
        if len(parts) < 4:
            sys.exit(f'{path}:{number}: want "<file> | <original> | <mutated> | <reason>"')
        file, reason, middle = parts[0], parts[-1], parts[1:-1]
        for k in range(1, len(middle)):
            key = (file, ' | '.join(middle[:k]), ' | '.join(middle[k:]))
            if key in every_key:
                listed[key] = reason
                break
        else:
            unmatched.append(f'{path.name}:{number}: {line}')
    return listed, unmatched


def equivalent_line(m):
    return f'{m.file} | {found.joined(m.original)} | {found.joined(m.mutated)} | '
