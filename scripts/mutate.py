#!/usr/bin/python3
"""Mutants on the product lines changed since a revision, each planted alone in a scratch copy of
the tree, built and tested there; a report of which test killed each one and which survived.

Run through scripts/mutate.sh (it sets up ccache); see the README's "Mutation testing"."""

import argparse
import fnmatch
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

SOURCE_EXTENSIONS = ('.cpp', '.h', '.cc', '.hpp')
NOT_PRODUCT = ('tests/', 'fuzz/', 'bench/')
# Lines that only log or assert: a change there is no fault a user or a test could see.
SKIPPED_LINE = re.compile(r'\b(qDebug|qInfo|qWarning|qCritical|qFatal|qCDebug|qCInfo|qCWarning|qCCritical|'
                          r'Q_ASSERT|Q_ASSERT_X|assert|static_assert|Q_UNUSED|Q_OBJECT|Q_PROPERTY|Q_DECLARE_\w+)\b')
# Strings that name things for code, not for people: object names the tests look up, signal names.
NAMING_LINE = re.compile(r'\b(setObjectName|objectName|SIGNAL|SLOT|setProperty|property|extern)\b')
KEYWORDS = {'return', 'if', 'while', 'for', 'switch', 'case', 'delete', 'sizeof', 'else', 'do', 'new',
            'throw', 'co_return', 'goto', 'break', 'continue', 'using', 'typedef', 'const', 'static'}
DEFAULT_VALUES = {'{}', 'false', '0', 'nullptr', 'std::nullopt', 'QString()', '0.0', "QByteArray()"}


# ---------------------------------------------------------------------------------------------
# Reading a line: which characters are code, which a string's contents, which a comment.

def split_line(line, in_comment):
    """Returns (mask, strings, in_comment): mask is the line with everything that is not code
    blanked out, strings the (start, end) of each string literal's contents."""
    mask = list(line)
    strings = []
    i, n = 0, len(line)
    while i < n:
        if in_comment:
            end = line.find('*/', i)
            stop = n if end < 0 else end + 2
            for k in range(i, stop):
                mask[k] = ' '
            i = stop
            in_comment = end < 0
            continue
        c = line[i]
        if line.startswith('//', i):
            for k in range(i, n):
                mask[k] = ' '
            break
        if line.startswith('/*', i):
            in_comment = True
            continue
        if c == 'R' and line.startswith('R"', i) and (i == 0 or not (line[i - 1].isalnum() or line[i - 1] == '_')):
            open_paren = line.find('(', i + 2)
            if open_paren < 0:
                i += 1
                continue
            delimiter = ')' + line[i + 2:open_paren] + '"'
            end = line.find(delimiter, open_paren)
            stop = n if end < 0 else end + len(delimiter)
            for k in range(i, stop):
                mask[k] = ' '
            i = stop
            continue
        if c == '"':
            j = i + 1
            while j < n and line[j] != '"':
                j += 2 if line[j] == '\\' else 1
            j = min(j, n - 1)
            strings.append((i + 1, j))
            for k in range(i, j + 1):
                mask[k] = ' '
            mask[i] = mask[j] = '"'
            i = j + 1
            continue
        if c == "'":
            if i > 0 and line[i - 1].isalnum() and line[i - 1].isdigit():
                i += 1  # a digit separator
                continue
            j = i + 1
            while j < n and line[j] != "'":
                j += 2 if line[j] == '\\' else 1
            for k in range(i, min(j + 1, n)):
                mask[k] = ' '
            i = j + 1
            continue
        i += 1
    return ''.join(mask), strings, in_comment


# ---------------------------------------------------------------------------------------------
# The operators. Each yields (column, old text, new text, operator name).

RELATIONAL = re.compile(r'(?<=\s)(<=|>=|==|!=|<|>)(?=\s)')
RELATIONAL_CHANGES = {'<': ['<=', '>='], '<=': ['<', '>'], '>': ['>=', '<='], '>=': ['>', '<'],
                      '==': ['!='], '!=': ['==']}
INTEGER = re.compile(r"(?<![\w.'])(\d+)(?![\w.'])")
ARITHMETIC = re.compile(r'(?<=\s)(\+=|-=|\+|-)(?=\s)')
ARITHMETIC_CHANGES = {'+': '-', '-': '+', '+=': '-=', '-=': '+='}
LOGICAL = re.compile(r'(?<=\s)(&&|\|\|)(?=\s)')
NOT = re.compile(r'!(?!=)')
RETURN = re.compile(r'\breturn\s+([^;]+?)\s*;')
CALL_STATEMENT = re.compile(r'^(\s*)((?:emit\s+)?(?:[A-Za-z_]\w*(?:::|\.|->))*[A-Za-z_~]\w*(?:<[\w:, ]*>)?\(.*\);)\s*$')
BOOLEAN_LOOKING = re.compile(r'(\s(<|>|<=|>=|==|!=)\s|&&|\|\||^!|\btrue\b|\bfalse\b|\bis[A-Z]\w*\(|\bcontains\(|\bempty\(|\bisEmpty\(|\bstartsWith\(|\bendsWith\()')


def balanced(text):
    depth = 0
    for c in text:
        depth += c == '('
        depth -= c == ')'
        if depth < 0:
            return False
    return depth == 0


def line_mutants(line, mask, strings, previous_code):
    """Every mutant of one line: (column, old, new, operator)."""
    found = []
    has_string = bool(strings) or 'QString' in mask or 'QLatin1' in mask
    for m in RELATIONAL.finditer(mask):
        for new in RELATIONAL_CHANGES[m.group(1)]:
            found.append((m.start(1), m.group(1), new, 'comparison'))
    for m in INTEGER.finditer(mask):
        value = int(m.group(1))
        found.append((m.start(1), m.group(1), str(value + 1), 'integer'))
        if value > 0:
            found.append((m.start(1), m.group(1), str(value - 1), 'integer'))
    if not has_string:
        for m in ARITHMETIC.finditer(mask):
            found.append((m.start(1), m.group(1), ARITHMETIC_CHANGES[m.group(1)], 'arithmetic'))
    for m in LOGICAL.finditer(mask):
        found.append((m.start(1), m.group(1), '||' if m.group(1) == '&&' else '&&', 'logical'))
    for m in NOT.finditer(mask):
        found.append((m.start(), '!', '', 'negation'))
    for m in RETURN.finditer(mask):
        value = line[m.start(1):m.end(1)]
        if value.strip() in DEFAULT_VALUES or not balanced(value):
            continue
        new = 'false' if BOOLEAN_LOOKING.search(mask[m.start(1):m.end(1)]) else '{}'
        if value.strip() == 'true':
            new = 'false'
        found.append((m.start(1), value, new, 'return'))
    call = CALL_STATEMENT.match(mask)
    if call and previous_code.rstrip()[-1:] in ('', ';', '{', '}', ')', ':') and balanced(call.group(2)):
        head = re.match(r'(?:emit\s+)?([A-Za-z_]\w*)', call.group(2)).group(1)
        if head not in KEYWORDS and not NAMING_LINE.search(mask):
            start = call.start(2)
            found.append((start, line[start:call.end(2)], ';', 'call'))
    if not NAMING_LINE.search(line) and '#include' not in line:
        for start, end in strings:
            found.append((start, line[start:end], line[start:end] + '#', 'string'))
    return found


def file_mutants(path, text, lines_wanted):
    mutants = []
    in_comment = False
    previous_code = ''
    continued_directive = False
    for number, line in enumerate(text.split('\n'), start=1):
        mask, strings, in_comment = split_line(line, in_comment)
        directive = continued_directive or mask.lstrip().startswith('#')
        continued_directive = directive and line.rstrip().endswith('\\')
        code = mask.strip()
        if number in lines_wanted and code and not directive and not SKIPPED_LINE.search(mask):
            for column, old, new, operator in line_mutants(line, mask, strings, previous_code):
                mutated = line[:column] + new + line[column + len(old):]
                mutants.append({'file': path, 'line': number, 'column': column + 1, 'operator': operator,
                                'old': old, 'new': new, 'original': line, 'mutated': mutated})
        if code and not directive:
            previous_code = code
    return mutants


def changed_lines(root, since, only):
    diff = subprocess.run(['git', '-C', root, 'diff', '-U0', '-M', '--no-color', '--no-ext-diff', since, '--'],
                          check=True, capture_output=True, text=True).stdout
    lines = {}
    path = None
    for row in diff.split('\n'):
        if row.startswith('+++ '):
            path = row[6:] if row.startswith('+++ b/') else None
        elif row.startswith('@@') and path:
            m = re.match(r'@@ -\S+ \+(\d+)(?:,(\d+))? @@', row)
            first, count = int(m.group(1)), int(m.group(2) or 1)
            lines.setdefault(path, set()).update(range(first, first + count))
    # --only GLOB or GLOB:FROM-TO (lines FROM to TO of the files it matches).
    ranges = []
    for item in only:
        m = re.match(r'^(.*):(\d+)-(\d+)$', item)
        ranges.append((m.group(1), range(int(m.group(2)), int(m.group(3)) + 1)) if m else (item, None))
    wanted = {}
    for path, numbers in lines.items():
        if not path.endswith(SOURCE_EXTENSIONS) or path.startswith(NOT_PRODUCT):
            continue
        if ranges:
            matching = [span for glob, span in ranges if fnmatch.fnmatch(path, glob)]
            if not matching:
                continue
            if None not in matching:
                numbers = {n for n in numbers if any(n in span for span in matching)}
        if numbers:
            wanted[path] = numbers
    return wanted


def all_mutants(root, since, only):
    mutants = []
    for path, numbers in sorted(changed_lines(root, since, only).items()):
        with open(os.path.join(root, path), encoding='utf-8') as f:
            mutants += file_mutants(path, f.read(), numbers)
    return mutants


# ---------------------------------------------------------------------------------------------
# The scratch tree: a copy of the worktree's files (committed or not) that is written only where
# contents differ, so the scratch build rebuilds only what changed.

def sync_tree(root, scratch):
    files = subprocess.run(['git', '-C', root, 'ls-files', '-co', '--exclude-standard', '-z'],
                           check=True, capture_output=True, text=True).stdout.split('\0')
    files = {f for f in files if f and not f.startswith('build') and os.path.isfile(os.path.join(root, f))}
    for f in sorted(files):
        source, target = os.path.join(root, f), os.path.join(scratch, f)
        with open(source, 'rb') as s:
            data = s.read()
        try:
            with open(target, 'rb') as t:
                if t.read() == data:
                    continue
        except FileNotFoundError:
            os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, 'wb') as t:
            t.write(data)
        shutil.copymode(source, target)
    for directory, _, names in os.walk(scratch):
        relative = os.path.relpath(directory, scratch)
        if relative == 'build' or relative.startswith('build' + os.sep):
            continue
        for name in names:
            f = os.path.normpath(os.path.join(relative, name))
            if f not in files:
                os.remove(os.path.join(directory, name))


def run(command, timeout=None, cwd=None):
    """Runs a command in its own process group; returns (status, output, seconds); status None
    when the time ran out (the whole group is then ended)."""
    started = time.monotonic()
    process = subprocess.Popen(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               text=True, errors='replace', start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        status = process.returncode
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        status = None
    except BaseException:
        os.killpg(process.pid, signal.SIGKILL)  # interrupted: nothing of the run is left behind
        raise
    return status, output, time.monotonic() - started


def configure(scratch, build, launcher):
    command = ['cmake', '-S', scratch, '-B', build, '-DCMAKE_BUILD_TYPE=RelWithDebInfo']
    if launcher:
        command.append('-DCMAKE_CXX_COMPILER_LAUNCHER=' + launcher)
    status, output, _ = run(command)
    if status != 0:
        sys.exit('mutate: configuring the scratch build failed:\n' + output)


def test_targets(build, ctest_filter):
    """The executables the chosen tests run, as build targets (their dependencies come with them)."""
    status, output, _ = run(['ctest', '--test-dir', build, '--show-only=json-v1'] + ctest_filter)
    if status != 0:
        sys.exit('mutate: ctest cannot list the tests:\n' + output)
    targets = set()
    for test in json.loads(output).get('tests', []):
        if not test.get('command'):
            targets.add(test['name'])  # not built yet: korvant_add_test names the program after the test
        for argument in test.get('command') or []:
            if argument.startswith(build + os.sep) and not argument.endswith('.sh'):
                targets.add(os.path.basename(argument))
    return sorted(targets)


def failed_tests(output):
    """Each failed test with the first line its program gave on failing."""
    if 'The following tests FAILED:' not in output:
        return []
    failed = re.findall(r'^\s*\d+ - (\S+) \(([^)]*)\)', output.split('The following tests FAILED:')[-1], re.M)
    # ctest prints a failed test's output after its status line.
    sections = re.split(r'^\s*\d+/\d+ Test\s+#\d+: ', output, flags=re.M)
    result = []
    for name, why in failed:
        text = next((s for s in sections if s.startswith(name + ' ')), '')
        first = ''
        for pattern in (r'FAIL!\s*:\s*(.*)', r'(QFATAL.*)', r'(Segmentation fault.*|Subprocess aborted.*)'):
            m = re.search(pattern, text)
            if m:
                first = m.group(1).strip()
                break
        result.append((name, why, first))
    return result


def write_file(path, text):
    with open(path, 'w', encoding='utf-8') as f:
        f.write(text)


def describe(m):
    return '%s:%d [%s] `%s` -> `%s`' % (m['file'], m['line'], m['operator'], m['old'], m['new'])


def write_report(path, settings, mutants, results, started):
    counts = {}
    for r in results:
        counts[r['outcome']] = counts.get(r['outcome'], 0) + 1
    killed = counts.get('killed', 0) + counts.get('time-out', 0)
    compiled = killed + counts.get('survived', 0)
    lines = ['# Mutation report', '',
             'since %s, only %s, seed %d, max %d: %d mutants on the changed lines, %d picked, %d run'
             % (settings.since, ','.join(settings.only) or '(all)', settings.seed, settings.max,
                settings.candidates, len(mutants), len(results)),
             'tests: ctest %s' % ' '.join(settings.ctest_filter), '']
    for r in results:
        m = r['mutant']
        if r['outcome'] == 'killed':
            verdict = 'KILLED by %s' % ', '.join('%s (%s)' % (n, w) for n, w, _ in r['failed'])
            first = next((f for _, _, f in r['failed'] if f), '')
            if first:
                verdict += ': ' + first[:200]
        elif r['outcome'] == 'time-out':
            verdict = 'KILLED (time-out after %d s)' % settings.timeout
        elif r['outcome'] == 'no-compile':
            verdict = 'DID NOT COMPILE'
        else:
            verdict = 'SURVIVED'
        lines.append('- %s  %s  (build %.0f s, tests %.0f s)' % (describe(m), verdict, r['build_s'], r['test_s']))
        lines.append('    %s' % m['original'].strip())
        lines.append('    %s' % m['mutated'].strip())
    seconds = time.monotonic() - started
    lines += ['', 'Totals: %d run: %d killed (%d by time-out), %d survived, %d did not compile'
              % (len(results), killed, counts.get('time-out', 0), counts.get('survived', 0),
                 counts.get('no-compile', 0)),
              'Killed of those that compiled: %s' % ('%d/%d = %.0f %%' % (killed, compiled, 100.0 * killed / compiled)
                                                    if compiled else '-'),
              'Time: %.0f s, %.0f s a mutant' % (seconds, seconds / len(results) if results else 0), '']
    write_file(path, '\n'.join(lines))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--since', default='eaa68cd', help='revision the changed lines are counted from')
    parser.add_argument('--only', action='append', default=[], metavar='PATH_GLOB',
                        help='only files matching this glob (repeatable), e.g. "core/trend.*"; '
                             '"cli/commands.cpp:181-238" only those lines of it')
    parser.add_argument('--max', type=int, default=20, help='at most this many mutants (default 20)')
    parser.add_argument('--seed', type=int, default=1, help='seed of the pick, so a run can be repeated')
    parser.add_argument('--work', default=os.path.join(os.environ.get('TMPDIR', '/tmp'), 'korvant-mutate'),
                        help='scratch folder: the tree copy and its build, reused between runs')
    parser.add_argument('--timeout', type=int, default=0,
                        help='seconds ctest may take on one mutant (default: three times the clean run, at least 120)')
    parser.add_argument('--exclude-labels', default='slow|package', help="ctest -LE (default 'slow|package')")
    parser.add_argument('--tests', default='', help='ctest -R regex: only these tests (default: all but the labels)')
    parser.add_argument('--jobs', type=int, default=2)
    parser.add_argument('--report', default='', help='report file (default WORK/report.md)')
    parser.add_argument('--list', action='store_true', help='print the picked mutants and stop')
    parser.add_argument('--launcher', default='', help='compiler launcher for the scratch build (ccache)')
    settings = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit('mutate: ended; the mutant in hand was reverted'))

    root = subprocess.run(['git', 'rev-parse', '--show-toplevel'], check=True, capture_output=True,
                          text=True, cwd=os.path.dirname(os.path.abspath(__file__))).stdout.strip()
    candidates = all_mutants(root, settings.since, settings.only)
    settings.candidates = len(candidates)
    picked = random.Random(settings.seed).sample(candidates, min(settings.max, len(candidates)))
    picked.sort(key=lambda m: (m['file'], m['line'], m['column'], m['new']))
    if settings.list:
        for m in picked:
            print(describe(m))
            print('    ' + m['mutated'].strip())
        print('%d mutants on the changed lines, %d picked' % (len(candidates), len(picked)))
        return 0

    work = os.path.abspath(settings.work)
    # The build folder inside the copy, where it is in a worktree: the compiler sees the same
    # relative paths, so a shared ccache serves the copy too.
    scratch = os.path.join(work, 'tree')
    build = os.path.join(scratch, 'build')
    report = os.path.abspath(settings.report or os.path.join(work, 'report.md'))
    os.makedirs(scratch, exist_ok=True)
    sync_tree(root, scratch)
    configure(scratch, build, settings.launcher)
    settings.ctest_filter = ['-LE', settings.exclude_labels] + (['-R', settings.tests] if settings.tests else [])
    targets = test_targets(build, settings.ctest_filter)
    build_command = ['cmake', '--build', build, '-j%d' % settings.jobs, '--target'] + targets
    ctest = ['ctest', '--test-dir', build, '-j%d' % settings.jobs, '--output-on-failure', '--stop-on-failure']

    started = time.monotonic()
    print('mutate: %d mutants on the changed lines, %d picked; building the clean tree' % (len(candidates), len(picked)),
          flush=True)
    status, output, seconds = run(build_command)
    if status != 0:
        sys.exit('mutate: the clean tree does not build:\n' + output[-4000:])
    status, output, seconds = run(ctest + settings.ctest_filter)
    if status != 0:
        broken = [name for name, _, _ in failed_tests(output)]
        sys.exit('mutate: the clean tree fails %s: mend or leave them out (--tests) first' % ', '.join(broken))
    if not settings.timeout:
        settings.timeout = max(120, int(3 * seconds))
    print('mutate: clean run %.0f s, a mutant may take %d s' % (seconds, settings.timeout), flush=True)

    results = []
    for index, m in enumerate(picked, start=1):
        path = os.path.join(scratch, m['file'])
        with open(path, encoding='utf-8') as f:
            original = f.read()
        lines = original.split('\n')
        if lines[m['line'] - 1] != m['original']:
            sys.exit('mutate: %s changed under the run' % m['file'])
        lines[m['line'] - 1] = m['mutated']
        write_file(path, '\n'.join(lines))
        try:
            status, output, build_s = run(build_command)
            result = {'mutant': m, 'build_s': build_s, 'test_s': 0.0, 'failed': []}
            if status != 0:
                result['outcome'] = 'no-compile'
            else:
                status, output, test_s = run(ctest + settings.ctest_filter, timeout=settings.timeout)
                result['test_s'] = test_s
                if status is None:
                    result['outcome'] = 'time-out'
                elif status == 0:
                    result['outcome'] = 'survived'
                else:
                    result['failed'] = failed_tests(output) or [('ctest', 'status %d' % status, output[-300:])]
                    result['outcome'] = 'killed'
        finally:
            write_file(path, original)
        results.append(result)
        print('mutate: %d/%d %s: %s' % (index, len(picked), describe(m), result['outcome']), flush=True)
        write_report(report, settings, picked, results, started)
    write_report(report, settings, picked, results, started)
    print('mutate: report in %s' % report)
    return 0


if __name__ == '__main__':
    sys.exit(main())
