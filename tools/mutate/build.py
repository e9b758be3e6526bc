"""The private copy of the sources, its builds, and the object files a mutant changes."""
import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

# What the copy takes from the working tree: all that the test programs are built from.
COPIED = ('app', 'runtime', 'tests', 'bench', 'cmake', 'resources', 'CMakeLists.txt')
ARCH = 'x86_64'
OBJCOPY = f'{ARCH}-w64-mingw32-objcopy'


def sync_copy(root, copy):
    """Makes the copy hold the working tree's files. A file whose text differs is written anew
    (so that its time is now and make rebuilds what uses it, even over a mutant left behind by
    a run that was killed); an equal one keeps its time, so a run rebuilds only what changed."""
    wanted = set()
    changed = 0
    for entry in COPIED:
        source = root / entry
        paths = [source] if source.is_file() else sorted(p for p in source.rglob('*')
                                                         if p.is_file())
        for path in paths:
            rel = path.relative_to(root)
            wanted.add(rel)
            target = copy / rel
            data = path.read_bytes()
            if not target.is_file() or target.read_bytes() != data:
                target.parent.mkdir(parents=True, exist_ok=True)
                target.write_bytes(data)
                changed += 1
    for entry in COPIED:
        place = copy / entry
        if place.is_dir():
            for path in sorted(place.rglob('*'), reverse=True):
                if path.is_file() and path.relative_to(copy) not in wanted:
                    path.unlink()
                    changed += 1
                elif path.is_dir() and not any(path.iterdir()):
                    path.rmdir()
    return changed


def tree_digest(copy):
    """One digest of everything a test program is built from, to tell stale coverage."""
    digest = hashlib.sha1()
    for entry in COPIED:
        place = copy / entry
        paths = [place] if place.is_file() else sorted(p for p in place.rglob('*')
                                                        if p.is_file())
        for path in paths:
            digest.update(path.relative_to(copy).as_posix().encode() + b'\0')
            digest.update(path.read_bytes())
    return digest.hexdigest()


def test_programs(copy):
    """The unit test programs, as tests/CMakeLists.txt makes them: one per folder of tests
    with sources, leaving out the shared support and the end-to-end tests."""
    names = []
    for folder in sorted((copy / 'tests').iterdir()):
        if folder.is_dir() and folder.name not in ('support', 'e2e') and \
                any(folder.glob('*.cpp')):
            names.append('test_' + folder.name)
    return names


def configure(copy, directory, coverage=False, log=None):
    """The same configuration as scripts/env.sh's hm_build_target, of the copy."""
    command = ['cmake', '-S', str(copy), '-B', str(directory),
               f'-DCMAKE_TOOLCHAIN_FILE={copy}/cmake/mingw.cmake', f'-DHM_ARCH={ARCH}',
               '-DCMAKE_BUILD_TYPE=Release', '-DHM_TESTS=ON']
    if coverage:
        command.append('-DHM_COVERAGE=ON')
    run_logged(command, log)


def build(directory, targets, log=None):
    """Builds the given targets; answers (ok, the output's last lines)."""
    command = ['cmake', '--build', str(directory), '-j', str(os.cpu_count() or 2), '--target']
    command += list(targets)
    return run_logged(command, log, check=False)


def run_logged(command, log, check=True):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, errors='replace')
    if log:
        with open(log, 'a') as f:
            f.write('$ ' + ' '.join(command) + '\n' + result.stdout)
    if check and result.returncode != 0:
        raise SystemExit(f'failed: {" ".join(command)}\n{result.stdout[-3000:]}')
    return result.returncode == 0, result.stdout


def compiler_errors(output, limit=6):
    lines = [l for l in output.split('\n') if ' error: ' in l or 'error:' in l[:12]]
    return lines[:limit] or output.strip().split('\n')[-limit:]


class Objects:
    """The object files of the test programs' build (the checked libraries, the support
    library and the programs), with a digest of each one's code and data: its contents with
    the debug sections left out, so that a mutant that moves only columns in the line table
    still counts as the same code."""

    def __init__(self, directory):
        self.directory = directory
        self.paths = [p for p in sorted(directory.rglob('*.obj'))
                      if self.is_test_object(p)]
        self.baseline = {p: code_digest(p) for p in self.paths}
        self.dependencies = {p: self.read_dependencies(p) for p in self.paths}

    def is_test_object(self, path):
        parts = path.relative_to(self.directory).parts
        if 'googletest' in parts or 'bench' in parts or 'e2e' in str(path):
            return False
        return any(part.endswith('_checked.dir') for part in parts) or parts[0] == 'tests'

    @staticmethod
    def read_dependencies(path):
        depfile = Path(str(path) + '.d')
        if not depfile.exists():
            return set()
        text = depfile.read_text(errors='replace').replace('\\\n', ' ')
        return {os.path.normpath(word) for word in re.split(r'(?<!\\)\s+', text.split(':', 1)[-1])
                if word}

    def using(self, source):
        """The objects compiled from or including a source file (its absolute path)."""
        source = os.path.normpath(str(source))
        return [p for p in self.paths if source in self.dependencies[p]]

    def times(self, paths):
        return {p: p.stat().st_mtime_ns if p.exists() else 0 for p in paths}

    def unchanged(self, before):
        """After a build: None when it rebuilt none of the objects whose times were taken in
        `before`; else whether every rebuilt one has its baseline code."""
        rebuilt = [p for p, t in before.items() if p.exists() and p.stat().st_mtime_ns != t]
        if not rebuilt:
            return None
        return all(code_digest(p) == self.baseline.get(p) for p in rebuilt)


def code_digest(path):
    with tempfile.TemporaryDirectory() as scratch:
        stripped = Path(scratch) / 'stripped.obj'
        subprocess.run([OBJCOPY, '--strip-debug', str(path), str(stripped)], check=True)
        return hashlib.sha1(stripped.read_bytes()).hexdigest()


def write_source(path, text):
    """Writes a source of the copy so that make sees it as newer than its objects."""
    path.write_text(text)
    now = time.time_ns()
    os.utime(path, ns=(now, now))


def remove_gcda(directory):
    for path in directory.rglob('*.gcda'):
        path.unlink()


def have(program):
    return shutil.which(program) is not None
