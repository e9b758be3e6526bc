"""The run's report: JSON for machines, Markdown for people."""
import json
import os

from mutants import OPERATORS, joined
from plan import equivalent_line

# A mutant's status, in the order the tables show them.
STATUSES = ('killed', 'timed out', 'survived', 'did not build', 'same object code',
            'listed equivalent')
COLUMNS = ('planted',) + STATUSES


def tally(results):
    counts = dict.fromkeys(COLUMNS, 0)
    for r in results:
        counts['planted'] += 1
        counts[r['status']] += 1
    return counts


def scores(c):
    """killed / (planted - did not build - equivalent), with the timed out counted as killed
    and (strict) not."""
    judged = c['planted'] - c['did not build'] - c['same object code'] - c['listed equivalent']
    if judged <= 0:
        return None, None
    return (c['killed'] + c['timed out']) / judged, c['killed'] / judged


def percent(value):
    return '-' if value is None else f'{100 * value:.1f}%'


def write_json(path, meta, results):
    data = dict(meta)
    data['totals'] = tally(results)
    data['score'], data['score_strict'] = scores(data['totals'])
    data['mutants'] = results
    temporary = path.with_suffix('.json.tmp')
    temporary.write_text(json.dumps(data, indent=1))
    os.replace(temporary, path)


def row(name, c):
    score, strict = scores(c)
    cells = [name] + [str(c[k]) for k in COLUMNS] + [percent(score), percent(strict)]
    return '| ' + ' | '.join(cells) + ' |'


def header(first):
    names = [first] + list(COLUMNS) + ['score', 'score, time-outs not counted']
    return '| ' + ' | '.join(names) + ' |\n|' + ' --- |' * len(names)


def diff_block(r):
    lines = ['```diff']
    lines += ['- ' + l for l in r['original']]
    lines += ['+ ' + l for l in r['mutated']]
    lines.append('```')
    return '\n'.join(lines)


def programs_line(r):
    runs = r.get('runs', [])
    if not runs:
        return r.get('note', 'no program was run')
    text = ', '.join(f"{x['program']} ({x['outcome']}, {x['seconds']:.1f} s)" for x in runs)
    return text + (f"; {r['note']}" if r.get('note') else '')


def write_markdown(path, meta, results, mutants_by_id):
    totals = tally(results)
    score, strict = scores(totals)
    out = ['# Mutation testing report', '']
    out.append(f"Command: `{meta['command']}`  ")
    out.append(f"Sources: {meta['source']}  ")
    out.append(f"Started {meta['started']}, finished {meta.get('finished', '(still running)')}, "
               f"{meta.get('duration', '')}  ")
    out.append(f"Mutants: {meta['selection']}  ")
    limits = ', '.join(f"{p} {t['baseline']:.1f} s (limit {t['limit']:.0f} s)"
                       for p, t in meta['programs'].items())
    out.append(f'Test programs (time on the unmutated build, and the limit): {limits}  ')
    out.append(f"Reliability program: {meta['reliability']}  ")
    out.append(f"Coverage: {meta['coverage']}")
    out.append('')
    out.append('## Overall')
    out.append('')
    out.append(f'Score: {percent(score)} = (killed + timed out) / (planted - did not build - '
               f'same object code - listed equivalent); {percent(strict)} with the time-outs '
               'not counted as killed.')
    out.append('')
    out.append(header('mutants'))
    out.append(row('all', totals))
    out.append('')
    out.append('## Per file')
    out.append('')
    out.append(header('file'))
    by_file = {}
    for r in results:
        by_file.setdefault(r['file'], []).append(r)
    for f in sorted(by_file):
        out.append(row(f, tally(by_file[f])))
    for f, why in sorted(meta.get('left_out', {}).items()):
        out.append(f'\n`{f}` is not mutated: {why}.')
    out.append('')
    out.append('## Per operator')
    out.append('')
    out.append(header('operator'))
    for operator in OPERATORS:
        chosen = [r for r in results if r['operator'] == operator]
        if chosen:
            out.append(row(operator, tally(chosen)))
    out.append('')
    survivors = [r for r in results if r['status'] == 'survived']
    out.append(f'## Survivors ({len(survivors)})')
    out.append('')
    out.append('Each with the line that marks it equivalent in tests/equivalent-mutants.txt, '
               'should it change nothing a caller can see (the reason goes after the last '
               '`|`).')
    for r in survivors:
        out += section(r)
        m = mutants_by_id.get(r['id'])
        if m:
            out.append(f'    {equivalent_line(m)}')
    timed = [r for r in results if r['status'] == 'timed out']
    if timed:
        out.append('')
        out.append(f'## Timed out ({len(timed)})')
        for r in timed:
            out += section(r)
    failed_builds = [r for r in results if r['status'] == 'did not build']
    if failed_builds:
        out.append('')
        out.append(f'## Did not build ({len(failed_builds)})')
        out.append('')
        for r in failed_builds:
            out.append(f"- `{r['id']}` {r['file']}:{r['line']} {r['operator']}: "
                       f"`{joined(r['mutated'])}`")
    same = [r for r in results if r['status'] in ('same object code', 'listed equivalent')]
    if same:
        out.append('')
        out.append(f'## Equivalent ({len(same)})')
        out.append('')
        for r in same:
            why = r.get('note') or r['status']
            out.append(f"- `{r['id']}` {r['file']}:{r['line']} {r['operator']}: "
                       f"`{joined(r['original'])}` -> `{joined(r['mutated'])}` ({why})")
    flaky = meta.get('flaky')
    if flaky:
        out.append('')
        out.append(f'## Failures not taken for kills ({len(flaky)})')
        out.append('')
        out.append('A program that fails is run again (the failed tests alone, then the whole '
                   'program), and the tests that fail again are run on the unmutated program; '
                   'where no test that failed first fails again, or the unmutated program '
                   "fails it too, the failure is taken for the busy machine's and the program "
                   'as passed.')
        out.append('')
        for f in flaky:
            who = f"mutant `{f['mutant']}`" if f['mutant'] else 'the unmutated build'
            why = f" ({f['why']})" if f.get('why') else ''
            out.append(f"- {f['program']} on {who}: {', '.join(f['failed once']) or 'crashed'}"
                       f'{why}')
    if meta.get('unmatched_equivalents'):
        out.append('')
        out.append('## Lines of tests/equivalent-mutants.txt that name no mutant now')
        out.append('')
        out += [f'- {line}' for line in meta['unmatched_equivalents']]
    gone = meta.get('gone')
    if gone:
        out.append('')
        out.append('## Mutants asked for that the sources no longer have')
        out.append('')
        out += [f'- {line}' for line in gone]
    out.append('')
    temporary = path.with_suffix('.md.tmp')
    temporary.write_text('\n'.join(out))
    os.replace(temporary, path)


def section(r):
    return ['', f"### `{r['id']}` {r['file']}:{r['line']} ({r['operator']})", '',
            f'Programs run: {programs_line(r)}', '', diff_block(r)]
