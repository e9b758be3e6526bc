"""Runs the test programs under 64-bit Wine, in the Xvfb display and wineserver that
scripts/mutate started, each with a time limit."""
import os
import re
import subprocess
import time

WINE = '/usr/lib/wine/wine64'
# timeout(1) answers 124 when the limit ran out, 137 when it had to kill.
TIMED_OUT = (124, 137)
# The reliability program's soak takes most of a minute even with 40 commands, for leaks
# that the other programs' leak checks also see; the storm is quick at 400 messages.
RELIABILITY = 'test_reliability'
SHORT_RELIABILITY = {'HM_STORM_MESSAGES': '400', 'HM_SOAK_COMMANDS': '40'}
SOAK = 'Soak.*'
FAILED_TEST = re.compile(r'^\[  FAILED  \] (\S+?)(?: \(|,|$)', re.M)
OUTPUT_KEPT = 4000  # the characters of a program's output that a result keeps


class Runner:
    def __init__(self, tests_directory, with_soak=False):
        self.tests = tests_directory
        self.with_soak = with_soak
        self.wineserver = os.environ.get('WINESERVER', '/usr/lib/wine/wineserver')

    def command(self, program, tests=None, directory=None, fail_fast=True, excluded=()):
        # A mutant is killed by its first failing test: the rest need not run.
        args = [WINE, str((directory or self.tests) / (program + '.exe')), '--gtest_brief=1']
        if fail_fast:
            args.append('--gtest_fail_fast')
        left_out = list(excluded)
        if program == RELIABILITY and not self.with_soak:
            left_out.append(SOAK)
        if tests:
            args.append('--gtest_filter=' + ':'.join(tests))
        elif left_out:
            args.append('--gtest_filter=-' + ':'.join(left_out))
        return args

    def environment(self, program):
        env = dict(os.environ)
        if program == RELIABILITY:
            env.update(SHORT_RELIABILITY)
        return env

    def run(self, program, limit, tests=None, directory=None, fail_fast=True, excluded=()):
        """Runs a program once, or only the named tests of it, from the build or from another
        directory: (outcome, seconds, exit code, output) with outcome 'passed', 'failed' or
        'timed out'. A time-out ends every Wine process of the prefix, and starts the
        wineserver again, so that the next program starts clean."""
        start = time.monotonic()
        result = subprocess.run(['timeout', '-k', '10', f'{limit:.0f}'] +
                                self.command(program, tests, directory, fail_fast, excluded),
                                cwd=self.tests, env=self.environment(program),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, errors='replace')
        seconds = time.monotonic() - start
        output = result.stdout
        if result.returncode in TIMED_OUT:
            self.restart_wine()
            return 'timed out', seconds, result.returncode, output[-OUTPUT_KEPT:]
        outcome = 'passed' if result.returncode == 0 else 'failed'
        return outcome, seconds, result.returncode, output[-OUTPUT_KEPT:]

    def restart_wine(self):
        subprocess.run([self.wineserver, '-k'], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([self.wineserver, '-w'], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run([self.wineserver, '-p'], check=False)
        # The long-lived helpers start now, not inside the next timed program.
        subprocess.run([WINE, 'cmd.exe', '/c', 'exit'], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def failed_tests(output):
    return FAILED_TEST.findall(output)


def exit_description(code, output=''):
    """How a program that named no failed test ended. Wine hands on the low byte of a
    Windows exception code as the exit status."""
    crash = re.search(r'wine: Unhandled ([a-z ]+?) (?:at|on|in) ', output)
    if crash:
        what = crash.group(1)
        if what == 'illegal instruction':
            what += ' (a sanitizer trap)'
        return f'{what}, exit code {code}'
    if 'the runtime did not start' in output:
        return f'the runtime did not start, exit code {code}'
    return f'exit code {code}'
