"""Finds the mutants of one C++ source file: each is one small fault, an edit of one span of
the file's text. Works on tokens, with comments, string and character literals and
preprocessor lines left out, so that no mutant lands where the compiler does not look."""
import hashlib
import re
from dataclasses import dataclass, field

KEYWORDS = {
    'alignas', 'alignof', 'auto', 'bool', 'break', 'case', 'char', 'class', 'const',
    'constexpr', 'const_cast', 'continue', 'decltype', 'default', 'delete', 'do', 'double',
    'else', 'enum', 'explicit', 'extern', 'false', 'float', 'for', 'goto', 'if', 'inline',
    'int', 'long', 'mutable', 'namespace', 'new', 'noexcept', 'nullptr', 'operator',
    'private', 'protected', 'public', 'register', 'reinterpret_cast', 'return', 'short',
    'signed', 'sizeof', 'static', 'static_assert', 'static_cast', 'struct', 'switch',
    'template', 'this', 'thread_local', 'true', 'typedef', 'typename', 'union', 'unsigned',
    'using', 'virtual', 'void', 'volatile', 'while', '__int64',
}
BUILTIN_TYPES = {'auto', 'bool', 'char', 'const', 'double', 'float', 'int', 'long', 'short',
                 'signed', 'unsigned', 'void', 'volatile', '__int64', 'struct', 'typename'}
NUMBER_TYPES = {'char', 'short', 'int', 'long', 'unsigned', 'signed', 'double', 'float',
                '__int64'}
CASTS = {'static_cast', 'reinterpret_cast', 'const_cast', 'template'}
# Longest first, so that the scanner takes '<<=' before '<<' before '<'.
PUNCTUATORS = sorted(
    '<<= >>= ... -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= :: '
    '( ) [ ] { } ; , ? : = < > + - * / % & | ^ ! ~ . #'.split(), key=len, reverse=True)
ASSIGNMENTS = {'=', '+=', '-=', '*=', '/=', '%=', '&=', '|=', '^=', '<<=', '>>='}
# Tokens at which an operand of a logical chain, a ternary's condition or a returned
# expression ends, when met outside any bracket.
EXPRESSION_EDGES = ASSIGNMENTS | {';', ',', '?', ':', '{', '}', 'return'}
NUMBER = re.compile(r"(0[xX][0-9a-fA-F']+|[0-9][0-9']*)([uUlL]*)$")

# The operators, by name: the report counts mutants by them.
OPERATORS = ('flip-condition', 'drop-condition', 'relational', 'arithmetic', 'constant',
             'drop-statement', 'return-value', 'boolean')

RELATIONAL = {'<': ['<=', '>'], '<=': ['<', '>='], '>': ['>=', '<'], '>=': ['>', '<='],
              '==': ['!='], '!=': ['==']}
ARITHMETIC = {'+': ['-'], '-': ['+'], '*': ['/'], '/': ['*'], '<<': ['>>'], '>>': ['<<'],
              '&': ['|'], '|': ['&'], '+=': ['-='], '-=': ['+='], '*=': ['/='], '/=': ['*='],
              '<<=': ['>>='], '>>=': ['<<='], '&=': ['|='], '|=': ['&=']}


@dataclass
class Token:
    text: str
    kind: str  # 'id', 'num', 'str' (string or character literal), 'op'
    start: int
    end: int
    template: bool = False  # an angle bracket, or a token between two, of a template


@dataclass
class Mutant:
    file: str
    operator: str
    start: int  # the edit replaces text[start:end] by `replacement`
    end: int
    replacement: str
    line: int = 0  # first line touched, from 1
    original: list = field(default_factory=list)  # the lines touched, as they are
    mutated: list = field(default_factory=list)  # the same lines with the edit
    id: str = ''

    def key(self):
        """What names a mutant across edits elsewhere in its file: file, original and mutated
        text, each trimmed and its lines joined by a space."""
        return (self.file, joined(self.original), joined(self.mutated))

    def apply(self, text):
        return text[:self.start] + self.replacement + text[self.end:]


def joined(lines):
    return ' '.join(line.strip() for line in lines if line.strip())


def comment_end(text, i):
    """Where the comment that starts at i ends (a line comment before its line break), or
    None when none starts there."""
    if text.startswith('//', i):
        j = text.find('\n', i)
        return len(text) if j < 0 else j
    if text.startswith('/*', i):
        j = text.find('*/', i + 2)
        return len(text) if j < 0 else j + 2
    return None


def tokenize(text):
    """The tokens of the code; comments, literals' insides and preprocessor lines are not code
    (a string literal is one token, never mutated)."""
    tokens = []
    i, n = 0, len(text)
    line_start = True  # nothing but white space since the last line break
    while i < n:
        c = text[i]
        if c == '\n':
            line_start = True
            i += 1
            continue
        if c in ' \t\r\f\v':
            i += 1
            continue
        if c == '\\' and text.startswith('\n', i + 1):
            i += 2
            continue
        after = comment_end(text, i)
        if after is not None:
            i = after
            continue
        if c == '#' and line_start:
            # A directive runs to the end of its line and on over escaped line breaks.
            while i < n and text[i] != '\n':
                after = comment_end(text, i)
                if after is not None:
                    i = after
                elif text[i] == '\\':
                    i += 2
                else:
                    i += 1
            continue
        line_start = False
        if c.isalpha() or c == '_':
            j = i + 1
            while j < n and (text[j].isalnum() or text[j] == '_'):
                j += 1
            # A prefixed literal: u8"..", L'..', R"(..)".
            if j < n and text[j] in '"\'' and text[i:j] in ('u8', 'u', 'U', 'L', 'R', 'u8R',
                                                             'uR', 'UR', 'LR'):
                j = skip_literal(text, j, raw=text[i:j].endswith('R'))
                tokens.append(Token(text[i:j], 'str', i, j))
            else:
                tokens.append(Token(text[i:j], 'id', i, j))
            i = j
            continue
        if c.isdigit() or (c == '.' and i + 1 < n and text[i + 1].isdigit()):
            j = i + 1
            while j < n and (text[j].isalnum() or text[j] in "._'" or
                             (text[j] in '+-' and text[j - 1] in 'eEpP' and
                              not text[i:j].lower().startswith('0x'))):
                j += 1
            tokens.append(Token(text[i:j], 'num', i, j))
            i = j
            continue
        if c in '"\'':
            j = skip_literal(text, i, raw=False)
            tokens.append(Token(text[i:j], 'str', i, j))
            i = j
            continue
        for p in PUNCTUATORS:
            if text.startswith(p, i):
                tokens.append(Token(p, 'op', i, i + len(p)))
                i += len(p)
                break
        else:
            i += 1
    return tokens


def skip_literal(text, i, raw):
    quote = text[i]
    if raw:
        delimiter = text[i + 1:text.index('(', i)]
        end = text.index(')' + delimiter + quote, i)
        return end + len(delimiter) + 2
    j = i + 1
    while j < len(text) and text[j] != quote:
        j += 2 if text[j] == '\\' else 1
    return j + 1


def mark_templates(tokens):
    """Marks template argument lists (static_cast<T *>, Generation<Draws>): an angle bracket
    after a name, closed before anything but names, '*', '&', '::' and ',' comes."""
    for i, t in enumerate(tokens):
        if t.text != '<' or i == 0 or tokens[i - 1].kind != 'id':
            continue
        j = i + 1
        while j < len(tokens) and (tokens[j].kind in ('id', 'num') or
                                   tokens[j].text in ('*', '&', '::', ',')):
            j += 1
        if j < len(tokens) and tokens[j].text in ('>', '>>') and (
                tokens[i - 1].text in CASTS or j > i + 1):
            if tokens[j].text == '>>':
                continue  # nested templates: none in this code; leave them alone
            for k in range(i, j + 1):
                tokens[k].template = True


class Names:
    """Which names stand for types. This code names its types in CamelCase, with a _t, or as
    the platform's capitals; its own capitals (constants, enumerators, macros) are values.
    `numbers`: the project's own names of integer types."""

    def __init__(self, value_capitals, numbers=frozenset()):
        self.value_capitals = value_capitals
        self.numbers = numbers

    def is_type(self, name):
        if name in BUILTIN_TYPES or name.endswith('_t'):
            return True
        if name[0].isupper() and any(ch.islower() for ch in name):
            return True
        if name.isupper() or re.fullmatch(r'[A-Z0-9_]+', name):
            return name not in self.value_capitals and not name.startswith('_')
        return False


def project_value_capitals(texts):
    """The capitalised names that the project itself defines as values."""
    names = set()
    for text in texts:
        names.update(re.findall(r'\b([A-Z][A-Z0-9_]*)\s*(?:=|\[|,\s*$|,\s*//|\s*$)', text,
                                re.M))
        names.update(re.findall(r'#\s*define\s+([A-Z][A-Z0-9_]*)', text))
        names.update(re.findall(r'\b([A-Z][A-Z0-9_]*)\s*[,}]', text))
    names.update({'TRUE', 'FALSE', 'NULL', 'INFINITE', 'MAX_PATH'})
    return names


def project_number_types(texts):
    """The project's own names of integer types (typedef intptr_t ObjectNumber;)."""
    names = set()
    for text in texts:
        for base, name in re.findall(r'typedef\s+([\w ]+?)\s+(\w+)\s*;', text):
            if base.split()[-1] in NUMBER_TYPES or base.endswith('_t'):
                names.add(name)
    return names


def ends_operand(token, names):
    """True when the token can end an operand, so that the operator after it is binary."""
    if token.template:
        return token.text == '>'
    if token.kind == 'num' or token.kind == 'str':
        return True
    if token.kind == 'id':
        if token.text in ('true', 'false', 'nullptr', 'this'):
            return True
        return token.text not in KEYWORDS and not names.is_type(token.text)
    return token.text in (')', ']')


class Scanner:
    def __init__(self, path, text, names, functions_only):
        self.path = path
        self.text = text
        self.names = names
        self.functions_only = functions_only
        self.tokens = tokenize(text)
        mark_templates(self.tokens)
        self.match = self.brackets()
        self.context = self.brace_context()

    def brackets(self):
        """For every bracket, the index of its partner."""
        match, stack = {}, []
        pairs = {')': '(', ']': '[', '}': '{'}
        for i, t in enumerate(self.tokens):
            if t.kind != 'op':
                continue
            if t.text in '([{':
                stack.append(i)
            elif t.text in pairs and stack and self.tokens[stack[-1]].text == pairs[t.text]:
                j = stack.pop()
                match[i], match[j] = j, i
        return match

    def brace_context(self):
        """For every token, the function whose body holds it (the index of the body's opening
        brace), or None outside every function body; and whether it stands in a lambda."""
        context = [None] * len(self.tokens)
        lambda_depth = [0] * len(self.tokens)
        stack = []  # (brace index, is code, function body brace, is lambda)
        for i, t in enumerate(self.tokens):
            if t.text == '{' and t.kind == 'op':
                prev = self.tokens[i - 1] if i else None
                enclosing_code = bool(stack) and stack[-1][1]
                code, body, is_lambda = False, None, False
                if prev is not None and (prev.text == ')' or prev.text in (
                        'const', 'noexcept', 'override', 'mutable')):
                    code = True
                    opener = self.match.get(i - 1) if prev.text == ')' else None
                    is_lambda = (opener is not None and opener > 0 and
                                 self.tokens[opener - 1].text == ']')
                    body = i if not enclosing_code or is_lambda else stack[-1][2]
                elif prev is not None and prev.text == ']':
                    code, body, is_lambda = True, i, True  # a lambda without parameters
                elif enclosing_code and prev is not None and prev.text in (
                        ';', '{', '}', 'else', 'do', ':'):
                    code, body = True, stack[-1][2]
                stack.append((i, code, body, is_lambda or (bool(stack) and stack[-1][3]
                                                           and code)))
            top = stack[-1] if stack else None
            if top and top[1]:
                context[i] = top[2]
                lambda_depth[i] = 1 if top[3] else 0
            if t.text == '}' and t.kind == 'op' and stack:
                stack.pop()
        self.in_lambda = lambda_depth
        return context

    def in_code(self, i):
        return self.context[i] is not None

    def eligible(self, i):
        return self.in_code(i) or not self.functions_only

    # ---- helpers ----

    def mutant(self, operator, start, end, replacement):
        return Mutant(self.path, operator, start, end, replacement)

    def expression_start(self, i, stop):
        """The first token of the operand that ends before token i, at the same bracket depth:
        it begins after the nearest token in `stop` or an unmatched opening bracket."""
        j = i - 1
        while j >= 0:
            t = self.tokens[j]
            if t.kind == 'op' and t.text in ')]}' and j in self.match:
                j = self.match[j] - 1
                continue
            if t.kind == 'op' and t.text in '([{':
                return j + 1
            if t.text in stop:
                return j + 1
            j -= 1
        return 0

    def expression_end(self, i, stop):
        """One past the last token of the operand that begins after token i."""
        j = i + 1
        while j < len(self.tokens):
            t = self.tokens[j]
            if t.kind == 'op' and t.text in '([{' and j in self.match:
                j = self.match[j] + 1
                continue
            if t.kind == 'op' and t.text in ')]}':
                return j
            if t.text in stop:
                return j
            j += 1
        return j

    def span(self, first, last):
        """The text offsets of tokens first..last inclusive."""
        return self.tokens[first].start, self.tokens[last].end

    # ---- operators ----

    def flip_conditions(self):
        out = []
        for i, t in enumerate(self.tokens):
            if t.kind != 'id' or not self.in_code(i):
                continue
            if t.text in ('if', 'while') and i + 1 < len(self.tokens) and \
                    self.tokens[i + 1].text == '(' and (i + 1) in self.match:
                first, last = i + 2, self.match[i + 1] - 1
                if first <= last and self.tokens[first].text not in KEYWORDS | {'constexpr'}:
                    out.append(self.negated('flip-condition', first, last))
            elif t.text == 'for' and i + 1 < len(self.tokens) and (i + 1) in self.match:
                close = self.match[i + 1]
                semis = [j for j in range(i + 2, close) if self.tokens[j].text == ';' and
                         self.depth_between(i + 2, j) == 0]
                if len(semis) == 2 and semis[1] > semis[0] + 1:
                    out.append(self.negated('flip-condition', semis[0] + 1, semis[1] - 1))
        for i, t in enumerate(self.tokens):
            if t.text == '?' and t.kind == 'op' and self.eligible(i):
                first = self.expression_start(i, EXPRESSION_EDGES | {'return'})
                if first < i:
                    out.append(self.negated('flip-condition', first, i - 1))
        return out

    def depth_between(self, first, j):
        depth = 0
        for k in range(first, j):
            if self.tokens[k].text in '([{' and self.tokens[k].kind == 'op':
                depth += 1
            elif self.tokens[k].text in ')]}' and self.tokens[k].kind == 'op':
                depth -= 1
        return depth

    def negated(self, operator, first, last):
        start, end = self.span(first, last)
        return self.mutant(operator, start, end, '!(' + self.text[start:end] + ')')

    def drop_conditions(self):
        out = []
        for i, t in enumerate(self.tokens):
            if t.text not in ('&&', '||') or not self.eligible(i) or t.template:
                continue
            if not ends_operand(self.tokens[i - 1], self.names):
                continue  # an rvalue reference, not a logical operator
            stop = EXPRESSION_EDGES | {'||', t.text}
            first = self.expression_start(i, stop)
            last = self.expression_end(i, stop) - 1
            if first >= i or last <= i:
                continue
            # Keep the right side: the left operand and the operator go.
            start = self.tokens[first].start
            out.append(self.mutant('drop-condition', start, self.tokens[i + 1].start, ''))
            # Keep the left side: the operator and the right operand go.
            out.append(self.mutant('drop-condition', self.tokens[i - 1].end,
                                   self.tokens[last].end, ''))
        return out

    def binary_operators(self):
        out = []
        for i, t in enumerate(self.tokens):
            if t.kind != 'op' or t.template or not self.eligible(i) or i == 0:
                continue
            table, operator = None, None
            if t.text in RELATIONAL:
                table, operator = RELATIONAL, 'relational'
            elif t.text in ARITHMETIC:
                table, operator = ARITHMETIC, 'arithmetic'
            if not table:
                continue
            if t.text not in ASSIGNMENTS and not ends_operand(self.tokens[i - 1], self.names):
                continue  # unary, or a declarator's '*' or '&'
            if t.text in ASSIGNMENTS and not self.in_code(i):
                continue
            for replacement in table[t.text]:
                out.append(self.mutant(operator, t.start, t.end, replacement))
        return out

    def constants(self):
        out = []
        for i, t in enumerate(self.tokens):
            if t.kind != 'num' or not self.eligible(i):
                continue
            m = NUMBER.match(t.text)
            if not m:
                continue  # a floating-point literal
            digits, suffix = m.group(1).replace("'", ''), m.group(2)
            value = int(digits, 16) if digits.lower().startswith('0x') else int(digits, 10)
            if digits.startswith('0') and len(digits) > 1 and not digits.lower().startswith('0x'):
                continue  # octal: none in this code
            for changed in (value + 1, value - 1):
                if changed < 0:
                    if 'u' in suffix.lower():
                        continue
                    written = '-' + str(-changed) + suffix
                elif digits.lower().startswith('0x'):
                    hex_digits = format(changed, 'X' if digits[2:].isupper() or
                                        digits[2:].isdigit() else 'x')
                    written = digits[:2] + hex_digits.zfill(len(digits) - 2) + suffix
                else:
                    written = str(changed) + suffix
                if changed < 0 and i and (self.tokens[i - 1].text == '-' or
                                          ends_operand(self.tokens[i - 1], self.names)):
                    written = '(' + written + ')'
                out.append(self.mutant('constant', t.start, t.end, written))
        return out

    def statement_starts(self):
        """Indexes of tokens that begin a statement in a function body."""
        starts = []
        for i, t in enumerate(self.tokens):
            if not self.in_code(i) or i == 0:
                continue
            prev = self.tokens[i - 1]
            if prev.text in (';', '{', '}', 'else', 'do') and prev.kind in ('op', 'id'):
                if prev.text == ';' and self.inside_parens(i):
                    continue  # a for loop's header
                if prev.text == '{' and not self.in_code(i - 1) and i - 1 != self.context[i]:
                    continue
                starts.append(i)
            elif prev.text == ')' and (i - 1) in self.match:
                opener = self.match[i - 1]
                if opener and self.tokens[opener - 1].text in ('if', 'while', 'for', 'switch'):
                    starts.append(i)
            elif prev.text == ':' and i >= 2 and self.is_label_colon(i - 1):
                starts.append(i)
        return starts

    def inside_parens(self, i):
        depth = 0
        for j in range(i - 1, -1, -1):
            t = self.tokens[j]
            if t.kind != 'op':
                continue
            if t.text in ')]':
                depth += 1
            elif t.text in '([':
                if depth == 0:
                    return True
                depth -= 1
            elif t.text in '{}' and depth == 0:
                return False
        return False

    def is_label_colon(self, j):
        """A colon that ends a case label or 'default:'."""
        k = j - 1
        while k >= 0 and self.tokens[k].text not in (';', '{', '}', 'case', 'default', '?'):
            k -= 1
        return k >= 0 and self.tokens[k].text in ('case', 'default')

    def drop_statements(self):
        out = []
        for i in self.statement_starts():
            t = self.tokens[i]
            if t.kind == 'id':
                if t.text in KEYWORDS or self.names.is_type(t.text):
                    continue
                nxt = self.tokens[i + 1] if i + 1 < len(self.tokens) else None
                if nxt is None or nxt.kind == 'id' or nxt.text == ':':
                    continue  # a declaration, or a label
            elif t.text not in ('++', '--', '*', '::'):
                continue
            end = self.expression_end(i - 1, {';', '{', '}'})
            if end >= len(self.tokens) or self.tokens[end].text != ';':
                continue
            start, stop = t.start, self.tokens[end].end
            newlines = self.text.count('\n', start, stop)
            out.append(self.mutant('drop-statement', start, stop, ';' + '\n' * newlines))
        return out

    def function_returns(self, body):
        """What a function whose body opens at token `body` returns: 'bool', 'pointer',
        'number', or None where a changed value could not be written (void, a record)."""
        j = body - 1
        while j >= 0 and self.tokens[j].text in ('const', 'noexcept', 'override'):
            j -= 1
        if j < 0 or self.tokens[j].text != ')' or j not in self.match:
            return None
        name = self.match[j] - 1
        k = name - 1
        while k >= 0 and self.tokens[k].text == '::':
            k -= 2  # Record::name
        first = k
        while first >= 0 and self.tokens[first].text not in (';', '{', '}', ':', ')'):
            first -= 1
        words = [t.text for t in self.tokens[first + 1:k + 1] if not t.template]
        words = [w for w in words if w not in ('static', 'inline', 'constexpr', 'extern')]
        if not words or 'void' in words and '*' not in words or '&' in words:
            return None  # nothing, or a reference
        if '*' in words:
            return 'pointer'
        if words == ['bool']:
            return 'bool'
        last = words[-1]
        if last in NUMBER_TYPES or last.endswith('_t') or last in self.names.numbers:
            return 'number'
        if re.fullmatch(r'[A-Z][A-Z0-9_]*', last):
            # The platform's types: its handles are pointers, the rest numbers.
            return 'pointer' if last.startswith('H') and last != 'HRESULT' else 'number'
        return None  # a record, an enumeration, a vector type: 0 may not convert

    def changed_returns(self):
        out = []
        for i, t in enumerate(self.tokens):
            if t.text != 'return' or not self.in_code(i) or self.in_lambda[i]:
                continue
            end = self.expression_end(i, {';'})
            if end >= len(self.tokens) or end == i + 1:
                continue
            kind = self.function_returns(self.context[i])
            first, last = i + 1, end - 1
            value = self.text[self.tokens[first].start:self.tokens[last].end]
            start, stop = self.span(first, last)
            if kind == 'bool':
                if value not in ('true', 'false'):
                    out.append(self.mutant('return-value', start, stop, '!(' + value + ')'))
            elif kind == 'pointer':
                if value not in ('nullptr', '0', 'NULL'):
                    out.append(self.mutant('return-value', start, stop, 'nullptr'))
            elif kind == 'number':
                if value not in ('0', 'FALSE', 'NULL', 'nullptr'):
                    out.append(self.mutant('return-value', start, stop, '0'))
        return out

    def booleans(self):
        out = []
        for i, t in enumerate(self.tokens):
            if t.text in ('true', 'false') and t.kind == 'id' and self.eligible(i):
                other = 'false' if t.text == 'true' else 'true'
                out.append(self.mutant('boolean', t.start, t.end, other))
        return out

    def all(self):
        found = (self.flip_conditions() + self.drop_conditions() + self.binary_operators() +
                 self.constants() + self.drop_statements() + self.changed_returns() +
                 self.booleans())
        return found


def line_starts(text):
    starts = [0]
    for m in re.finditer('\n', text):
        starts.append(m.end())
    return starts


def describe(mutants, text):
    """Fills in each mutant's lines and its id; drops mutants that change no text and
    repeats of one edit."""
    starts = line_starts(text)
    lines = text.split('\n')
    seen, out, counts = set(), [], {}
    for m in sorted(mutants, key=lambda m: (m.start, m.end, m.operator, m.replacement)):
        if text[m.start:m.end] == m.replacement:
            continue
        first = bisect_right(starts, m.start) - 1
        last = bisect_right(starts, max(m.end - 1, m.start)) - 1
        span_start, span_end = starts[first], starts[last] + len(lines[last])
        mutated = text[span_start:m.start] + m.replacement + text[m.end:span_end]
        # Two edits that give the same text (either side of a repeated operand) are one.
        if (first, mutated) in seen:
            continue
        seen.add((first, mutated))
        m.line = first + 1
        m.original = lines[first:last + 1]
        m.mutated = mutated.split('\n')
        key = m.key()
        counts[key] = counts.get(key, 0) + 1
        digest = hashlib.sha1('\0'.join(key + (str(counts[key]),)).encode()).hexdigest()
        m.id = digest[:8]
        out.append(m)
    return out


def bisect_right(values, x):
    lo, hi = 0, len(values)
    while lo < hi:
        mid = (lo + hi) // 2
        if x < values[mid]:
            hi = mid
        else:
            lo = mid + 1
    return lo


def find_mutants(path, text, names, functions_only=False):
    """Every mutant of one file. `functions_only`: only inside function bodies (headers)."""
    return describe(Scanner(path, text, names, functions_only).all(), text)
