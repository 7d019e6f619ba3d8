"""The help compiler, checked from outside: the product's help sources are
compiled and read back with an independent reader, a large generated source
fills several tree pages and topic blocks, and malformed sources stop the
compiler with their file and line and leave no output.

    compiler_test.py HLPCOMPILE HELP_SOURCE_FOLDER
"""

import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hlpread  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print('FAILED: ' + what)


def compile_source(compiler, source, output):
    return subprocess.run([sys.executable, compiler, source, output],
                          capture_output=True, text=True, timeout=60)


def source_outline(path):
    """What a source declares, read with plain patterns: title, contents
    id, topics (id, title, keywords, jump labels and targets)."""
    outline = {'title': None, 'contents': None, 'topics': []}
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            if line.startswith('@title '):
                outline['title'] = line[7:].strip()
            elif line.startswith('@contents '):
                outline['contents'] = line[10:].strip()
            elif re.match(r'^# \S+:', line):
                topic_id, title = line[2:].split(':', 1)
                outline['topics'].append({'id': topic_id.strip(), 'title': title.strip(),
                                          'keywords': [], 'jumps': []})
            elif line.startswith('@keywords '):
                outline['topics'][-1]['keywords'] += [w.strip() for w in line[10:].split(';')]
            else:
                for label, target in re.findall(r'\[\[([^|\]]+)\|([^\]]+)\]\]', line):
                    outline['topics'][-1]['jumps'].append((label.strip(), target.strip()))
    return outline


def check_help_file(output, outline, name):
    with open(output, 'rb') as f:
        help_file = hlpread.HelpFile(f.read())
    for internal in ('|SYSTEM', '|TOPIC', '|CONTEXT', '|FONT', '|KWBTREE', '|KWDATA'):
        check(help_file.find_file(internal) is not None, '%s: directory finds %s' % (name, internal))
    system = help_file.system()
    check(system['title'] == outline['title'], '%s: title %r' % (name, system['title']))
    check(system['window_caption'] == outline['title'], '%s: main window caption' % name)

    topics = help_file.topics()
    check([t['title'] for t in topics] == [t['title'] for t in outline['topics']],
          '%s: topic titles in source order' % name)
    offsets = {}
    for declared, found in zip(outline['topics'], topics):
        offset = help_file.find_context(declared['id'])
        check(offset == found['offset'], '%s: topic id %s resolves to its topic' % (name, declared['id']))
        offsets[declared['id'].lower()] = found['offset']
        check(found['text'] and found['text'][0] == declared['title'],
              '%s: topic %s shows its title first' % (name, declared['id']))
        shown = '\n'.join(found['text'])
        for label, target in declared['jumps']:
            check(label in shown, '%s: jump text %r shown in %s' % (name, label, declared['id']))
        check(len(found['jumps']) == len(declared['jumps']),
              '%s: topic %s has its %d jumps' % (name, declared['id'], len(declared['jumps'])))
        targets = [hlpread.context_hash(target) for _, target in declared['jumps']]
        check(found['jumps'] == targets, '%s: jumps of %s lead to their topics' % (name, declared['id']))
    contents = outline['contents'] or outline['topics'][0]['id']
    check(system['contents'] == offsets.get(contents.lower()), '%s: contents topic' % name)

    keywords = help_file.keywords()
    expected = {w: [offsets[t['id'].lower()]] for t in outline['topics'] for w in t['keywords']}
    check(keywords == expected, '%s: every keyword leads to its topic' % name)


def check_product_sources(compiler, folder, scratch):
    for name in ('quorvhelp', 'winhelp'):
        source = os.path.join(folder, name + '.txt')
        output = os.path.join(scratch, name + '.hlp')
        result = compile_source(compiler, source, output)
        check(result.returncode == 0, '%s compiles: %s' % (name, result.stderr.strip()))
        if result.returncode == 0:
            check_help_file(output, source_outline(source), name)


def check_large_source(compiler, scratch):
    """Enough topics and keywords for several B+ tree pages (and an index
    level), topics spread over many topic blocks, and topic ids whose
    hashes are negative as well as positive."""
    lines = ['@title A Large Help File', '']
    count = 400
    for n in range(count):
        lines += ['# topic_%d_of_many: Topic number %d' % (n, n),
                  '@keywords keyword %03d; second word of topic %03d; third %03d' % (n, n, n),
                  'Text of topic %d, with a **bold** part and a [[jump onward|topic_%d_of_many]].'
                  % (n, (n + 1) % count),
                  '', '- a bullet of topic %d' % n, '']
    source = os.path.join(scratch, 'large.txt')
    with open(source, 'w', encoding='utf-8') as f:
        f.write('\n'.join(lines))
    output = os.path.join(scratch, 'large.hlp')
    result = compile_source(compiler, source, output)
    check(result.returncode == 0, 'large source compiles: %s' % result.stderr.strip())
    if result.returncode != 0:
        return
    check_help_file(output, source_outline(source), 'large')
    with open(output, 'rb') as f:
        help_file = hlpread.HelpFile(f.read())
    check(hlpread.BTree(help_file.internal('|KWBTREE'), None).levels > 1,
          'large: keyword tree has an index level')
    check(hlpread.BTree(help_file.internal('|CONTEXT'), None).levels > 1,
          'large: context tree has an index level')
    check(len(help_file.internal('|TOPIC')) > 8 * 0x1000, 'large: topics fill many blocks')
    hashes = help_file.context()
    check(min(hashes) < 0 < max(hashes), 'large: negative and positive topic hashes')


MALFORMED = [
    ('unknown directive', '@colour red', 4, "unknown markup '@colour'"),
    ('unknown heading level', '### Deep heading', 4, "unknown markup '###'"),
    ('unknown escape', 'A \\q here.', 4, "unknown markup"),
    ('unclosed bold', 'Some **bold text.', 4, "bold text '**' is not closed"),
    ('unclosed jump', 'A [[jump|second', 4, "jump '[[' without ']]'"),
    ('jump to a missing topic', 'See [[nowhere|missing_topic]].', 4, "jump to unknown topic 'missing_topic'"),
    ('duplicate topic id', '# first: Again', 4, "duplicate topic id 'first' (first at line 2)"),
    ('keyword of two topics', '@keywords second', 7, "keyword 'second' already belongs to topic 'first'"),
]


def check_malformed_sources(compiler, scratch):
    for what, bad_line, line_number, message in MALFORMED:
        lines = ['@title Malformed', '# first: First', '@keywords first', bad_line,
                 '', '# second: Second', '@keywords second', 'Text.']
        source = os.path.join(scratch, 'bad.txt')
        with open(source, 'w', encoding='utf-8') as f:
            f.write('\n'.join(lines) + '\n')
        output = os.path.join(scratch, 'bad.hlp')
        with open(output, 'wb') as f:
            f.write(b'an older build')
        result = compile_source(compiler, source, output)
        check(result.returncode != 0, '%s: compiler fails' % what)
        check(result.stderr.startswith('%s:%d: error: ' % (source, line_number)) and message in result.stderr,
              '%s: reported at %s:%d with %r, got %r' % (what, source, line_number, message, result.stderr))
        check(not os.path.exists(output), '%s: no help file left' % what)


def main():
    compiler, folder = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as scratch:
        check_product_sources(compiler, folder, scratch)
        check_large_source(compiler, scratch)
        check_malformed_sources(compiler, scratch)
    print('%d failed' % len(failures) if failures else 'all checks passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
