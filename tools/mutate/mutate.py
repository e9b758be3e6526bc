"""Mutation testing of app/ and runtime/: plants one fault at a time in a private copy of the
sources, rebuilds what it touches and runs the unit test programs that execute it, stopping
at the first that fails. Started by scripts/mutate, which provides the Wine environment."""
import argparse
import fcntl
import json
import os
import shlex
import shutil
import signal
import subprocess
import sys
import time
from datetime import datetime
from pathlib import Path

# The tool's modules sit in the checkout: no compiled copies beside them.
sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent))

import build  # noqa: E402
import coverage  # noqa: E402
import plan  # noqa: E402
import report  # noqa: E402
from mutants import joined  # noqa: E402
from run import RELIABILITY, Runner, exit_description, failed_tests  # noqa: E402

DEFAULT_SEED = 1
DEFAULT_COUNT = 400
MINIMUM_PER_FILE = 3
EQUIVALENTS = 'tests/equivalent-mutants.txt'
# A limit of this many times the program's time on the unmutated build, and at least this
# many seconds more than that time: a busy machine must not pass for a mutant that hangs.
DEFAULT_TIME_FACTOR = 4.0
MINIMUM_HEADROOM = 30.0
# Above this many mutants a run collects coverage again when the sources changed since it
# was collected; below, it runs every program instead (slower per mutant, quicker in all).
REFRESH_ABOVE = 40
# Some tests that time the platform fail now and then on a busy machine: the unmutated
# build must pass once in this many runs of each program.
BASELINE_ATTEMPTS = 3


def options(argv):
    p = argparse.ArgumentParser(
        prog='scripts/mutate',
        description='Plants one fault at a time in app/ and runtime/ and runs the unit test '
        'programs that execute it (x86_64, under 64-bit Wine).')
    p.add_argument('--seed', type=int, default=DEFAULT_SEED,
                   help=f'seed of the sample (default {DEFAULT_SEED})')
    size = p.add_mutually_exclusive_group()
    size.add_argument('--count', type=int,
                      help=f'mutants in all, shared over the files by their size, at least '
                      f'{MINIMUM_PER_FILE} a file (default {DEFAULT_COUNT})')
    size.add_argument('--per-file', type=int, help='mutants of each file')
    p.add_argument('--file', action='append', default=[], metavar='PATH',
                   help='only mutants of this file (repeatable)')
    p.add_argument('--only', metavar='ID,...', help='run these mutants (ids from --list or a '
                   'report)')
    p.add_argument('--survivors', metavar='REPORT.json',
                   help="run again the survivors of an earlier report's run")
    p.add_argument('--merge', action='append', default=[], metavar='REPORT.json',
                   help='write one report of earlier ones (repeatable; a later report\'s result '
                   'for a mutant replaces an earlier one\'s), and stop')
    p.add_argument('--list', action='store_true',
                   help='print the mutants the run would plant, and stop')
    p.add_argument('--time-factor', type=float, default=DEFAULT_TIME_FACTOR,
                   help='time limit of a program as a multiple of its unmutated time '
                   f'(default {DEFAULT_TIME_FACTOR:g}; at least {MINIMUM_HEADROOM:.0f} s more)')
    p.add_argument('--soak', action='store_true',
                   help="run the reliability program's soak too (about 40 s more a run)")
    p.add_argument('--refresh-coverage', action='store_true',
                   help='collect which program executes which line again')
    p.add_argument('--out', metavar='NAME',
                   help='report file names under the build folder, without suffix (default '
                   'report, or rerun with --only and --survivors)')
    args = p.parse_args(argv)
    # scripts/mutate names the checkout and the build folder; run alone, this file's place does.
    args.root = Path(os.environ.get('HM_ROOT') or Path(__file__).resolve().parents[2])
    args.build = Path(os.environ.get('HM_BUILD') or args.root / 'build' / 'mutate')
    if args.count is None and args.per_file is None:
        args.count = DEFAULT_COUNT
    return args


def say(text):
    print(f'[mutate {datetime.now():%H:%M:%S}] {text}', flush=True)


def select(args, by_file):
    """The mutants to plant, and the ones asked for by id or report that no longer exist.
    With --file, a sample is drawn from those files alone."""
    if args.file:
        files = {Path(f).as_posix().lstrip('./') for f in args.file}
        unknown = files - set(by_file)
        if unknown:
            sys.exit(f'no mutants in: {", ".join(sorted(unknown))} (files: app/ and runtime/ '
                     '.cpp, and headers with inline functions)')
        by_file = {f: ms for f, ms in by_file.items() if f in files}
    every = [m for ms in by_file.values() for m in ms]
    gone = []
    if args.only:
        ids = [i.strip() for i in args.only.split(',') if i.strip()]
        known = {m.id: m for m in every}
        chosen = [known[i] for i in ids if i in known]
        gone = [f'{i}: no mutant has this id' for i in ids if i not in known]
    elif args.survivors:
        chosen, gone = survivors_of(Path(args.survivors), every, set(by_file))
    else:
        chosen = plan.sample(by_file, args.seed, per_file=args.per_file, count=args.count,
                             minimum=MINIMUM_PER_FILE)
    return sorted(chosen, key=lambda m: (m.file, m.start, m.id)), gone


def survivors_of(report_path, every, files):
    """The mutants of the given files that survived in an earlier report, found again by
    their text."""
    earlier = json.loads(report_path.read_text())
    by_key = {}
    for m in every:
        by_key.setdefault(m.key(), []).append(m)
    chosen, gone, seen = [], [], set()
    for r in earlier['mutants']:
        if r['status'] != 'survived' or r['file'] not in files:
            continue
        key = (r['file'], joined(r['original']), joined(r['mutated']))
        matches = [m for m in by_key.get(key, []) if m.id not in seen]
        if not matches:
            gone.append(f"{r['id']} {r['file']}:{r['line']}: `{joined(r['original'])}` -> "
                        f"`{joined(r['mutated'])}`")
            continue
        m = ([m for m in matches if m.id == r['id']] or matches)[0]
        seen.add(m.id)
        chosen.append(m)
    return chosen, gone


def selection_text(args):
    if args.only:
        return f'the mutants {args.only}'
    if args.survivors:
        return f'the survivors of {args.survivors}'
    size = f'{args.per_file} a file' if args.per_file is not None else \
        f'{args.count} shared over the files by size, at least {MINIMUM_PER_FILE} a file ' \
        'where the total allows'
    files = f", of {', '.join(args.file)}" if args.file else ''
    return f'seed {args.seed}, {size}{files}'


def duration_text(seconds):
    hours, minutes = divmod(round(seconds / 60), 60)
    return f'{hours} h {minutes} min' if hours else f'{minutes} min'


def list_mutants(chosen, gone, listed):
    for m in chosen:
        mark = '  (listed equivalent)' if m.key() in listed else ''
        print(f'{m.id} {m.file}:{m.line} {m.operator}{mark}')
        print(f'    - {joined(m.original)}')
        print(f'    + {joined(m.mutated)}')
    files = len({m.file for m in chosen})
    print(f'{len(chosen)} mutants of {files} files')
    for line in gone:
        print(f'not found: {line}')


def source_description(root):
    def git(*args):
        return subprocess.run(['git', '-C', str(root)] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True).stdout.strip()
    commit = git('rev-parse', '--short', 'HEAD') or 'unknown commit'
    changed = git('status', '--porcelain', '--', *build.COPIED)
    if changed:
        count = len(changed.splitlines())
        return f"the working tree at {commit}, with {count} changed file{'s' * (count != 1)}"
    return f'commit {commit}'


class Run:
    def __init__(self, args, argv):
        self.args = args
        self.root = args.root.resolve()
        self.dir = args.build.resolve()
        self.copy = self.dir / 'src'
        self.target = self.dir / build.ARCH
        self.log = self.dir / 'build.log'
        out = args.out or ('rerun' if args.only or args.survivors else
                           'merged' if args.merge else 'report')
        self.json_path = self.dir / f'{out}.json'
        self.md_path = self.dir / f'{out}.md'
        self.results = []
        self.flaky = []  # failures that did not come again
        self.started = time.monotonic()
        self.meta = {'command': 'scripts/mutate ' + ' '.join(shlex.quote(a) for a in argv),
                     'started': f'{datetime.now():%Y-%m-%d %H:%M:%S}',
                     'selection': selection_text(args)}

    def prepare(self):
        """Finds the mutants. A list reads the working tree itself, whose text the copy will
        have, and leaves the copy alone: a run may be using it."""
        tree = self.root
        if not self.args.list:
            self.dir.mkdir(parents=True, exist_ok=True)
            self.lock()
            changed = build.sync_copy(self.root, self.copy)
            say(f'copy of the working tree in {self.copy}: {changed} files written')
            tree = self.copy
        self.by_file, self.left_out = plan.all_mutants(tree)
        self.chosen, self.gone = select(self.args, self.by_file)
        every_key = {m.key() for ms in self.by_file.values() for m in ms}
        self.listed, self.unmatched = plan.read_equivalents(tree / EQUIVALENTS, every_key)
        self.by_id = {m.id: m for m in self.chosen}

    def lock(self):
        """One run at a time: a second would plant its mutants in the first's copy."""
        self.lock_file = open(self.dir / 'run.lock', 'w')
        try:
            fcntl.flock(self.lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            sys.exit(f'another scripts/mutate is running in {self.dir}; wait for it to end')

    def build_baseline(self):
        self.programs = build.test_programs(self.copy)
        say(f'building the test programs in {self.target}')
        build.configure(self.copy, self.target, log=self.log)
        ok, output = build.build(self.target, self.programs, log=self.log)
        if not ok:
            sys.exit('the unmutated build failed:\n' + '\n'.join(build.compiler_errors(output)))
        self.objects = build.Objects(self.target)
        self.runner = Runner(self.target / 'tests', with_soak=self.args.soak)
        # The unmutated programs, to tell a test that fails on a busy machine from a kill.
        self.baseline = self.dir / 'baseline'
        self.baseline.mkdir(exist_ok=True)
        for program in self.programs:
            shutil.copy2(self.target / 'tests' / (program + '.exe'), self.baseline)

    def measure(self):
        """Runs every program once on the unmutated build: all must pass, and their times
        set the limits."""
        self.times = {}
        for program in self.programs:
            for attempt in range(BASELINE_ATTEMPTS):
                outcome, seconds, code, output = self.runner.run(program, 1800)
                if outcome == 'passed':
                    break
                say(f'{program} failed on the unmutated build: '
                    f"{', '.join(failed_tests(output)) or exit_description(code, output)}")
                self.flaky.append({'mutant': None, 'program': program,
                                   'failed once': failed_tests(output)})
            if outcome != 'passed':
                sys.exit(f'{program} does not pass on the unmutated build ({outcome}, '
                         f'{exit_description(code, output)}); mutants cannot be judged:\n'
                         f'{output}')
            limit = max(self.args.time_factor * seconds, seconds + MINIMUM_HEADROOM)
            self.times[program] = {'baseline': seconds, 'limit': limit}
            say(f'{program}: {seconds:.1f} s unmutated, limit {limit:.0f} s')
        self.meta['programs'] = self.times
        self.meta['reliability'] = (
            'with the soak, 40 commands, and a storm of 400 messages' if self.args.soak else
            'without the soak (--gtest_filter=-Soak.*), with a storm of 400 messages')

    def load_coverage(self):
        path = self.dir / 'coverage.json'
        digest = build.tree_digest(self.copy)
        cov = coverage.load(path)
        stale = cov is None or not cov.fresh(digest)
        if self.args.refresh_coverage or cov is None or (stale and len(self.chosen) >
                                                          REFRESH_ABOVE):
            cov = coverage.collect(self.copy, self.dir / 'coverage' / build.ARCH, self.programs,
                                   lambda tests: Runner(tests, with_soak=self.args.soak),
                                   digest, path, self.log, say)
            stale = False
        self.coverage, self.coverage_fresh = cov, not stale
        self.meta['coverage'] = (
            'each program run alone on a build with coverage counters; a mutant is run by the '
            'programs that execute its lines' if not stale else
            'collected before the sources last changed, so every program runs each mutant')
        if cov.failed:
            say(f'coverage: failed programs (their counts are used all the same): {cov.failed}')

    def including(self, header):
        """The programs whose own objects include a header: their inline code is counted
        nowhere, as the test programs are built without counters."""
        out = set()
        for obj in self.objects.using(self.copy / header):
            parts = obj.relative_to(self.target).parts
            for part in parts:
                if part == 'test_support.dir':
                    return set(self.programs)
                if part.startswith('test_') and part.endswith('.dir'):
                    out.add(part[:-len('.dir')])
        return out

    def programs_for(self, m):
        """The programs to run a mutant with, the likeliest killer first, and a note on how
        they were chosen."""
        lines = list(range(m.line, m.line + len(m.original)))
        note = ''
        if self.coverage_fresh:
            chosen = self.coverage.executing(m.file, lines)
            if chosen is None:
                chosen = self.coverage.executing_file(m.file)
                note = 'its lines hold no counted code: every program that executes the file'
            if m.file.endswith('.h'):
                chosen = sorted(set(chosen) | self.including(m.file))
            if not chosen:
                note = 'no test program executes this line'
        else:
            chosen = list(self.programs)
        own = max(self.programs, key=lambda p: (self.coverage.lines_executed(p, m.file),
                                               -self.times[p]['baseline']))

        def order(p):
            return (p == RELIABILITY, p != own, self.times[p]['baseline'])
        return sorted(chosen, key=order), note

    def plant(self, m, original_text):
        result = {'id': m.id, 'file': m.file, 'line': m.line, 'operator': m.operator,
                  'original': m.original, 'mutated': m.mutated, 'runs': []}
        started = time.monotonic()
        if m.key() in self.listed:
            result.update(status='listed equivalent', note=self.listed[m.key()])
            return result
        programs, note = self.programs_for(m)
        if note:
            result['note'] = note
        source = self.copy / m.file
        build.write_source(source, m.apply(original_text))
        first = programs[0] if programs else min(self.programs,
                                                 key=lambda p: self.times[p]['baseline'])
        before = self.objects.times(self.objects.using(source))
        ok, output = build.build(self.target, [first], log=self.log)
        if not ok:
            result.update(status='did not build', errors=build.compiler_errors(output))
            return self.finish(result, started)
        same = self.objects.unchanged(before)
        if same is None:
            # make took the mutated source for older than its objects: never run the tests on
            # objects that do not hold the mutant.
            later = source.stat().st_mtime_ns + 2_000_000_000
            os.utime(source, ns=(later, later))
            ok, output = build.build(self.target, [first], log=self.log)
            same = self.objects.unchanged(before)
            if not ok or same is None:
                sys.exit(f'{m.id}: the build did not recompile {m.file}; stopping')
        if same:
            result.update(status='same object code',
                          note='same object code in the checked build')
            return self.finish(result, started)
        for index, program in enumerate(programs):
            if index == 1:
                # The first program did not kill it: the rest are linked in one go.
                ok, output = build.build(self.target, programs[1:], log=self.log)
                if not ok:
                    result['runs'].append({'program': ' '.join(programs[1:]),
                                           'outcome': 'did not build', 'seconds': 0.0})
                    result.update(status='killed', killed_by=program,
                                  detail='a test program did not build: ' +
                                  ' / '.join(build.compiler_errors(output, 2)))
                    return self.finish(result, started)
            outcome = self.run_program(program, result)
            if outcome == 'failed':
                return self.finish(result, started)
            if outcome == 'timed out':
                result.update(status='timed out', killed_by=program)
                return self.finish(result, started)
        result['status'] = 'survived'
        return self.finish(result, started)

    def run_program(self, program, result):
        """Runs one program on the mutant. A time-out is tried once more with twice the
        limit, so that a moment of a busy machine is not taken for a hang. Some tests that time
        the platform fail now and then on a busy machine, so a failure must come again: the
        failed tests alone are run again (then, if they pass alone, the whole program to its
        end), and the mutant is killed when a test fails again and passes on the unmutated
        program."""
        limit = self.times[program]['limit']
        outcome, seconds, code, output = self.runner.run(program, limit)
        if outcome == 'timed out':
            say(f'  {program} timed out after {seconds:.0f} s; once more with {2 * limit:.0f} s')
            outcome, seconds, code, output = self.runner.run(program, 2 * limit)
        run = {'program': program, 'outcome': outcome, 'seconds': round(seconds, 1)}
        result['runs'].append(run)
        if outcome != 'failed':
            return outcome
        failed = failed_tests(output)
        why, again = self.confirm(program, limit, failed)
        if why and failed:
            # The run stopped at that test, so the tests after it have not run: they run now,
            # without it.
            say(f"  {program} failed ({', '.join(failed[:3])}), {why}: the rest run without it")
            self.flaky.append({'mutant': result['id'], 'program': program,
                               'failed once': failed, 'why': why})
            run['flaky'] = failed
            outcome, seconds, code, output = self.runner.run(program, limit, fail_fast=False,
                                                             excluded=failed)
            run['seconds'] = round(run['seconds'] + seconds, 1)
            if outcome != 'failed':
                run['outcome'] = outcome
                return outcome
            why, again = self.confirm(program, limit, failed_tests(output), excluded=failed)
        if why:
            run['outcome'] = 'passed'
            run['flaky'] = run.get('flaky', []) + (failed_tests(output) or
                                                    [exit_description(code, output)])
            self.flaky.append({'mutant': result['id'], 'program': program,
                               'failed once': run['flaky'], 'why': why})
            say(f"  {program} failed ({', '.join(run['flaky'][:3])}), {why}: taken as passed")
            return 'passed'
        failed, code, output = again
        run['exit'] = code
        result.update(status='killed', killed_by=program,
                      detail=(f"failed: {', '.join(failed[:5])}" if failed else
                              exit_description(code, output)))
        if not failed:
            result['output'] = output[-1500:]
        return 'failed'

    def confirm(self, program, limit, failed, excluded=()):
        """Runs a failure again: (None, (failed tests, exit code, output)) when it comes again
        and is the mutant's, or (why not, None). The first run stopped at its first failure,
        which may be a test that fails only after others; the whole program then runs to its
        end, and any test that fails there counts once the unmutated program passes it."""
        again = None
        if failed:
            outcome, _, code, output = self.runner.run(program, limit, tests=failed)
            named = [t for t in failed_tests(output) if t in failed]
            if outcome == 'failed' and (named or not failed_tests(output)):
                again = named or failed, code, output
        if again is None:
            outcome, _, code, output = self.runner.run(program, limit, fail_fast=False,
                                                       excluded=excluded)
            if outcome == 'passed':
                return 'and not when run again', None
            named = failed_tests(output)
            again = [t for t in named if t in failed] or named, code, output
        if again[0]:
            outcome, _, _, _ = self.runner.run(program, limit, tests=again[0],
                                               directory=self.baseline)
            if outcome != 'passed':
                return 'and so did the unmutated program', None
        return None, again

    def finish(self, result, started):
        result['seconds'] = round(time.monotonic() - started, 1)
        return result

    def loop(self):
        groups = {}
        for m in self.chosen:
            groups.setdefault(m.file, []).append(m)
        done, total = 0, len(self.chosen)
        for file, group in groups.items():
            source = self.copy / file
            original_text = source.read_text()
            try:
                for m in group:
                    result = self.plant(m, original_text)
                    self.results.append(result)
                    done += 1
                    self.progress(done, total, m, result)
                    self.write(final=False)
            finally:
                if source.read_text() != original_text:
                    build.write_source(source, original_text)

    def progress(self, done, total, m, r):
        what = r['status']
        if r.get('killed_by'):
            what += f" by {r['killed_by']}"
        if r.get('detail'):
            what += f" ({r['detail']})"
        elapsed = time.monotonic() - self.run_started
        left = elapsed / done * (total - done)
        say(f"[{done}/{total}] {m.id} {m.file}:{m.line} {m.operator}: {what}, "
            f"{r.get('seconds', 0):.0f} s; about {left / 60:.0f} min left")

    def write(self, final):
        self.meta['source'] = self.meta.get('source') or source_description(self.root)
        self.meta['left_out'] = self.left_out
        self.meta['unmatched_equivalents'] = self.unmatched
        self.meta['gone'] = self.gone
        self.meta['flaky'] = self.flaky
        seconds = time.monotonic() - self.started
        self.meta['duration'] = duration_text(seconds)
        self.meta['seconds'] = round(seconds)
        if final:
            self.meta['finished'] = f'{datetime.now():%Y-%m-%d %H:%M:%S}'
        report.write_json(self.json_path, self.meta, self.results)
        report.write_markdown(self.md_path, self.meta, self.results, self.by_id)

    def merge(self):
        """One report of earlier ones, such as a run split over two machines, or a run and
        its survivors run again: a later report's result for a mutant replaces an earlier
        one's, and a survivor that tests/equivalent-mutants.txt now names counts as listed."""
        by_file, _ = plan.all_mutants(self.root)
        every = [m for ms in by_file.values() for m in ms]
        self.by_id = {m.id: m for m in every}
        listed, self.unmatched = plan.read_equivalents(self.root / EQUIVALENTS,
                                                       {m.key() for m in every})
        merged, sources, seconds = {}, [], 0
        for path in self.args.merge:
            data = json.loads(Path(path).read_text())
            if not merged:
                self.meta.update({k: v for k, v in data.items() if k not in
                                  ('command', 'selection', 'mutants', 'totals', 'score',
                                   'score_strict', 'flaky', 'gone')})
            sources.append(f"{Path(path).name} ({data['selection']})")
            seconds += data.get('seconds', 0)
            self.flaky += data.get('flaky', [])
            self.meta.setdefault('gone', []).extend(data.get('gone', []))
            for r in data['mutants']:
                merged[r['id']] = r
        for r in merged.values():
            key = (r['file'], joined(r['original']), joined(r['mutated']))
            if r['status'] == 'survived' and key in listed:
                r.update(status='listed equivalent', note=listed[key])
        self.results = list(merged.values())
        self.meta['selection'] = 'merged from ' + '; '.join(sources)
        self.meta['unmatched_equivalents'] = self.unmatched
        self.meta['flaky'] = self.flaky
        self.meta['seconds'] = seconds
        self.meta['duration'] = duration_text(seconds)
        report.write_json(self.json_path, self.meta, self.results)
        report.write_markdown(self.md_path, self.meta, self.results, self.by_id)
        totals = report.tally(self.results)
        say('merged: ' + ', '.join(f'{k} {v}' for k, v in totals.items()) +
            f'; score {report.percent(report.scores(totals)[0])}')
        say(f'report: {self.md_path} and {self.json_path}')
        return 0

    def main(self):
        if self.args.merge:
            return self.merge()
        self.prepare()
        if self.args.list:
            list_mutants(self.chosen, self.gone, self.listed)
            return 0
        if not self.chosen:
            say('no mutants to plant')
            return 0 if not self.gone else 1
        say(f'{len(self.chosen)} mutants of {len({m.file for m in self.chosen})} files '
            f'({self.meta["selection"]})')
        for line in self.unmatched:
            say(f'names no mutant: {line}')
        self.build_baseline()
        self.measure()
        self.load_coverage()
        self.run_started = time.monotonic()
        try:
            self.loop()
        except KeyboardInterrupt:
            say('stopped; the report holds the mutants done so far')
            self.write(final=True)
            return 130
        self.write(final=True)
        totals = report.tally(self.results)
        score, strict = report.scores(totals)
        say('done: ' + ', '.join(f'{k} {v}' for k, v in totals.items()) +
            f'; score {report.percent(score)} ({report.percent(strict)} with the time-outs not '
            'counted)')
        say(f'report: {self.md_path} and {self.json_path}')
        return 0


def stop(signum, frame):
    raise KeyboardInterrupt


def main(argv):
    signal.signal(signal.SIGTERM, stop)
    args = options(argv)
    try:
        return Run(args, argv).main()
    except KeyboardInterrupt:
        say('stopped')
        return 130


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
