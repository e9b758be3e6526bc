"""Which test program executes which line: each program run alone on a build of the copy
with coverage counters, its counts read with gcovr. A mutant is then run by the programs
that execute its lines only, as a program that never reaches a line cannot see it change."""
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import build

GCOV = f'{build.ARCH}-w64-mingw32-gcov-posix'
PROGRAM_LIMIT = 1800  # seconds; the counters slow a program down, and nothing here is timed
ATTEMPTS = 3


class Coverage:
    def __init__(self, data):
        self.digest = data.get('digest')
        # program -> file -> {line: count}; every line listed is one that holds code.
        self.counts = {p: {f: {int(l): c for l, c in lines.items()}
                           for f, lines in files.items()}
                       for p, files in data.get('programs', {}).items()}
        self.failed = data.get('failed', [])
        self.code_lines = {}
        for files in self.counts.values():
            for f, lines in files.items():
                self.code_lines.setdefault(f, set()).update(lines)

    def fresh(self, digest):
        return self.digest == digest

    def executing(self, file, lines):
        """The programs that execute any of the given lines of a file; None when the lines
        hold no code that the counters see (a declaration, a constant, a table), whose change
        any program that executes the file may see. A statement over several lines is counted
        on one of them."""
        code = self.code_lines.get(file, set())
        counted = [line for line in lines if line in code]
        if not counted:
            return None
        return [p for p, files in self.counts.items()
                if any(files.get(file, {}).get(line, 0) > 0 for line in counted)]

    def executing_file(self, file):
        return [p for p, files in self.counts.items()
                if any(c > 0 for c in files.get(file, {}).values())]

    def lines_executed(self, program, file):
        return sum(1 for c in self.counts.get(program, {}).get(file, {}).values() if c > 0)


def load(path):
    if not path.exists():
        return None
    return Coverage(json.loads(path.read_text()))


def collect(copy, directory, programs, runner_class, digest, path, log, say):
    """Builds the copy with coverage counters in `directory`, runs each program alone and
    keeps its counts; writes them to `path`."""
    say(f'coverage: building {directory}')
    build.configure(copy, directory, coverage=True, log=log)
    ok, output = build.build(directory, programs, log=log)
    if not ok:
        sys.exit('coverage: the build failed:\n' + '\n'.join(build.compiler_errors(output)))
    runner = runner_class(directory / 'tests')
    data = {'digest': digest, 'programs': {}, 'failed': []}
    for program in programs:
        # A program cut short by a test that fails now and then on a busy machine would
        # leave lines uncounted: it runs again.
        for attempt in range(ATTEMPTS):
            build.remove_gcda(directory)
            outcome, seconds, code, output = runner.run(program, PROGRAM_LIMIT)
            if outcome == 'passed':
                break
        if outcome != 'passed':
            data['failed'].append(program)
            say(f'coverage: {program} {outcome} ({code}); its counts are kept all the same')
        data['programs'][program] = read_counts(copy, directory, log)
        say(f'coverage: {program} ran in {seconds:.0f} s')
    path.write_text(json.dumps(data))
    return Coverage(data)


def read_counts(copy, directory, log):
    with tempfile.TemporaryDirectory() as scratch:
        report = Path(scratch) / 'coverage.json'
        command = ['gcovr', '--root', str(copy), '--object-directory', str(directory),
                   '--gcov-executable', GCOV, '--filter', f'{copy}/app/',
                   '--filter', f'{copy}/runtime/', '-j', '2', '--json', str(report)]
        build.run_logged(command, log)
        files = json.loads(report.read_text())['files']
    counts = {}
    for entry in files:
        lines = {l['line_number']: l['count'] for l in entry['lines']
                 if not l.get('gcovr/noncode')}
        counts[entry['file']] = lines
    return counts
