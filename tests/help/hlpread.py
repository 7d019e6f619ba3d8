"""A small reader of WinHelp 3.1 files for the help tests: the internal
file directory, |SYSTEM, the topic records of |TOPIC, |CONTEXT and the
keyword tree. It follows the format on its own, without the compiler's code."""

import struct


class HelpFormatError(Exception):
    pass


def _u16(data, at):
    return struct.unpack_from('<H', data, at)[0]


def _u32(data, at):
    return struct.unpack_from('<I', data, at)[0]


def _i32(data, at):
    return struct.unpack_from('<i', data, at)[0]


def _cstring(data, at):
    end = data.index(b'\0', at)
    return data[at:end], end + 1


class BTree:
    """A B+ tree inside an internal file: leaf entries in key order."""

    def __init__(self, data, entry_reader):
        if _u16(data, 0) != 0x293B:
            raise HelpFormatError('B+ tree magic is %#x' % _u16(data, 0))
        self.page_size = _u16(data, 4)
        self.root = _u16(data, 26)
        self.levels = _u16(data, 32)
        self.total = _u32(data, 34)
        self.pages = data[38:]
        self.entry_reader = entry_reader

    def page(self, number):
        start = number * self.page_size
        if start + self.page_size > len(self.pages):
            raise HelpFormatError('page %d lies outside the tree' % number)
        return self.pages[start:start + self.page_size]

    def find(self, key, read_key):
        """Descends from the root to the leaf that would hold `key`, as the
        help engine does, and returns its entry or None. `read_key` reads a
        key at a place of a page: (key, place after it)."""
        number = self.root
        for _ in range(self.levels - 1):
            page = self.page(number)
            number = _u16(page, 4)
            at = 6
            for _ in range(_u16(page, 2)):
                entry_key, at = read_key(page, at)
                if entry_key > key:
                    break
                number = _u16(page, at)
                at += 2
        page = self.page(number)
        at = 8
        for _ in range(_u16(page, 2)):
            entry, at = self.entry_reader(page, at)
            if entry[0] == key:
                return entry
        return None

    def entries(self):
        """Walks down the first children to the first leaf, then along the
        chain of leaves."""
        number = self.root
        for _ in range(self.levels - 1):
            number = _u16(self.page(number), 4)
        found = []
        seen = set()
        while number != 0xFFFF:
            if number in seen:
                raise HelpFormatError('leaf chain loops at page %d' % number)
            seen.add(number)
            page = self.page(number)
            at = 8
            for _ in range(_u16(page, 2)):
                entry, at = self.entry_reader(page, at)
                found.append(entry)
            number = _u16(page, 6)
        if len(found) != self.total:
            raise HelpFormatError('tree says %d entries, leaves hold %d' % (self.total, len(found)))
        return found


def _directory_entry(page, at):
    name, at = _cstring(page, at)
    return (name, _u32(page, at)), at + 4


def _context_entry(page, at):
    return (_i32(page, at), _u32(page, at + 4)), at + 8


def _keyword_entry(page, at):
    word, at = _cstring(page, at)
    return (word.decode('cp1252'), _u16(page, at), _u32(page, at + 2)), at + 6


def context_hash(name):
    value = 0
    for c in name.upper():
        if 'A' <= c <= 'Z':
            x = ord(c) - ord('A') + 17
        elif '1' <= c <= '9':
            x = ord(c) - ord('0')
        else:
            x = {'0': 10, '.': 12, '_': 13}.get(c, 0)
        if x:
            value = (value * 43 + x) % (1 << 32)
    return value - (1 << 32) if value >= (1 << 31) else value


class HelpFile:
    def __init__(self, data):
        self.data = data
        if _u32(data, 0) != 0x00035F3F:
            raise HelpFormatError('not a help file')
        if _u32(data, 12) != len(data):
            raise HelpFormatError('file size field %d, file has %d' % (_u32(data, 12), len(data)))
        directory = self._internal(_u32(data, 4))
        self.directory = BTree(directory, _directory_entry)
        self.files = {name.decode('ascii'): place for name, place in self.directory.entries()}

    def find_file(self, name):
        """The place of an internal file, searched in the directory tree."""
        entry = self.directory.find(name.encode('ascii'), _cstring)
        return entry[1] if entry else None

    def _internal(self, offset):
        reserved, used = _u32(self.data, offset), _u32(self.data, offset + 4)
        if reserved < used + 9 or offset + 9 + used > len(self.data):
            raise HelpFormatError('internal file at %d does not fit' % offset)
        return self.data[offset + 9:offset + 9 + used]

    def internal(self, name):
        if name not in self.files:
            raise HelpFormatError('no internal file %s' % name)
        return self._internal(self.files[name])

    def system(self):
        """Title, copyright, contents offset and the topic block size."""
        data = self.internal('|SYSTEM')
        magic, minor, major = struct.unpack_from('<HHH', data, 0)
        if magic != 0x036C or major != 1 or minor <= 16:
            raise HelpFormatError('|SYSTEM header %#x %d.%d' % (magic, major, minor))
        flags = _u16(data, 10)
        records = {}
        at = 12
        while at + 4 <= len(data):
            kind, size = _u16(data, at), _u16(data, at + 2)
            records[kind] = data[at + 4:at + 4 + size]
            at += 4 + size
        return {
            'title': records.get(1, b'\0').split(b'\0')[0].decode('cp1252'),
            'copyright': records.get(2, b'\0').split(b'\0')[0].decode('cp1252'),
            'contents': _u32(records[3], 0) if 3 in records else None,
            'compressed': flags != 0,
            'window_caption': (records[6][21:72].split(b'\0')[0].decode('cp1252')
                               if 6 in records and len(records[6]) == 90 else None),
        }

    def topics(self):
        """Every topic: offset, title, its paragraphs' text and its jumps
        (context hashes), in file order."""
        if self.system()['compressed']:
            raise HelpFormatError('only uncompressed topics are read here')
        raw = self.internal('|TOPIC')
        block_data = 0x1000 - 12
        stream = b''.join(raw[at + 12:at + 0x1000] for at in range(0, len(raw), 0x1000))
        topics = []
        position = 0x0C
        current_block = -1
        shown = 0
        for _ in range(100000):
            if position == 0xFFFFFFFF:
                return topics
            block, inside = (position - 0x0C) >> 14, (position - 0x0C) & 0x3FFF
            at = block * block_data + inside
            if at + 21 > len(stream):
                raise HelpFormatError('topic record at %#x lies outside |TOPIC' % position)
            size, text_size, _, following, format_size = struct.unpack_from('<IIIII', stream, at)
            kind = stream[at + 20]
            link1 = stream[at + 21:at + format_size]
            link2 = stream[at + format_size:at + size]
            if len(link2) != text_size:
                raise HelpFormatError('record at %#x holds phrase-compressed text' % position)
            if block != current_block:
                current_block, shown = block, 0
            if kind == 2:
                topics.append({'offset': block * 0x8000 + shown,
                               'title': link2.split(b'\0')[0].decode('cp1252'),
                               'text': [], 'jumps': []})
            elif kind == 0x20:
                if not topics:
                    raise HelpFormatError('text before the first topic header')
                text, jumps, count = _paragraph(link1, link2)
                topics[-1]['text'].append(text)
                topics[-1]['jumps'].extend(jumps)
                shown += count
            else:
                raise HelpFormatError('record type %#x' % kind)
            position = following
        raise HelpFormatError('topic records do not end')

    def context(self):
        return dict(BTree(self.internal('|CONTEXT'), _context_entry).entries())

    def find_context(self, name):
        """The topic offset of a topic id, searched in |CONTEXT by its hash."""
        entry = BTree(self.internal('|CONTEXT'), _context_entry).find(
            context_hash(name), lambda page, at: (_i32(page, at), at + 4))
        return entry[1] if entry else None

    def keywords(self):
        """Keyword -> list of topic offsets."""
        data = self.internal('|KWDATA')
        found = {}
        for word, count, place in BTree(self.internal('|KWBTREE'), _keyword_entry).entries():
            found[word] = [_u32(data, place + 4 * i) for i in range(count)]
        return found


def _skip_number(data, at, long_form, short_form):
    return at + (long_form if data[at] & 1 else short_form)


def _paragraph(link1, link2):
    """Text, jump hashes and the count of characters shown of a 0x20 record."""
    at = _skip_number(link1, 0, 4, 2)
    shown = link1[at] // 2 if not link1[at] & 1 else _u16(link1, at) // 2
    at = _skip_number(link1, at, 2, 1)
    at += 4
    bits = _u16(link1, at)
    at += 2
    if bits & 0x0001:
        at = _skip_number(link1, at, 4, 2)
    for bit in (0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040):
        if bits & bit:
            at = _skip_number(link1, at, 2, 1)
    if bits & 0x0100:
        at += 3
    if bits & 0x0200:
        tabs = (link1[at] - 0x80) // 2 if not link1[at] & 1 else (_u16(link1, at) - 0x8001) // 2
        at = _skip_number(link1, at, 2, 1)
        for _ in range(tabs):
            stop = link1[at] // 2 if not link1[at] & 1 else _u16(link1, at) // 2
            at = _skip_number(link1, at, 2, 1)
            if stop & 0x4000:
                at = _skip_number(link1, at, 2, 1)
    strings = link2.split(b'\0')[:-1]
    text = []
    jumps = []
    count = 0
    for string in strings:
        text.append(string.decode('cp1252'))
        count += len(string)
        command = link1[at]
        if command == 0xFF:
            break
        if command == 0x80:
            at += 3
        elif command in (0x81, 0x82, 0x83):
            text.append({0x81: '\n', 0x82: '', 0x83: '\t'}[command])
            count += 1
            at += 1
        elif command == 0x89:
            at += 1
        elif command in (0xE2, 0xE3, 0xE6, 0xE7):
            jumps.append(_i32(link1, at + 1))
            at += 5
        else:
            raise HelpFormatError('format command %#x' % command)
    if count != shown:
        raise HelpFormatError('paragraph says %d characters, shows %d' % (shown, count))
    return ''.join(text), jumps, count
