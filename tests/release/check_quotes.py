"""Holds every text of the program that README.md and the guide quote to the program's own words.

Usage: check_quotes.py README.md release/guide.txt
       check_quotes.py --self-test README.md release/guide.txt

Whoever reads that the program says "Unable to create the necessary registry entry." looks for
those words on the screen, so a quotation of the program must be word for word. A quotation is a
passage in double quotes, or the label of a node in a Mermaid diagram. It is taken for the
program's when its first words are the first words of one of the program's sentences, whatever
their case, and must then be part of one such text as the program shows it: a string-table entry
with the brand name in place of its token, the dialog's caption, or a button label without the &
that marks its access key. Those texts are the literals of check_resources.py, which holds them
to the built image.

With --self-test, plants a misquote into each document and fails unless it is reported.
"""
import os
import re
import sys

from check_resources import BRAND, CONTROLS, DIALOG, STRINGS

# Enough words to tell the program's sentences from the sources' and from prose; fewer where a
# text is shorter, as a button label is.
ANCHOR_WORDS = 3
QUOTED = re.compile(r'"([^"]*)"')
MERMAID = re.compile(r"^```mermaid\n(.*?)^```", re.S | re.M)
# An unquoted node label, as in id[Label], id{Label} or id([Label]); quoted ones are found above.
NODE_LABEL = re.compile(r'\w+\s*[\[({]+([^"\])}][^\])}]*)[\])}]+')
# The README's diagram once showed the write failure so, and the guide could say it so.
MISQUOTES = {
    "README.md": "\n```mermaid\nflowchart TD\n    writeFailed[Unable to create the registry entry] --> done\n```\n",
    "guide.txt": '\nHalvenor reports "Unable to create the registry entry." and stops.\n',
}


def shown_texts():
    token, name = BRAND
    texts = [text.replace(token, name) for text in STRINGS.values()]
    texts += [DIALOG["caption"]] + [control["text"].replace("&", "") for control in CONTROLS if control["text"]]
    return [" ".join(text.split()) for text in texts]


def words(text):
    return re.sub(r"[^\w\s-]", " ", text).lower().split()


def quotations(document):
    found = [match.group(1) for match in QUOTED.finditer(document)]
    for diagram in MERMAID.finditer(document):
        found += [match.group(1) for match in NODE_LABEL.finditer(diagram.group(1))]
    return [" ".join(quote.split()) for quote in found]


def check(name, document):
    texts = shown_texts()
    starts = [(words(sentence)[:ANCHOR_WORDS], text)
              for text in texts for sentence in re.split(r"(?<=[.?!])\s+", text) if words(sentence)]
    problems = []
    for quote in quotations(document):
        candidates = [text for start, text in starts if words(quote)[:len(start)] == start]
        if candidates and not any(quote in text for text in candidates):
            problems.append(f"{name} quotes {quote!r}, but the program shows {candidates[0]!r}")
    return problems


def self_test(documents):
    failures = [f"as it is: {problem}" for name, text in documents for problem in check(name, text)]
    for name, text in documents:
        planted = MISQUOTES[os.path.basename(name)]
        if not check(name, text + planted):
            failures.append(f"{name}: the planted misquote {planted.strip()!r} went unreported")
    return failures


def main(argv):
    testing = argv[1:2] == ["--self-test"]
    paths = argv[2:] if testing else argv[1:]
    if sorted(os.path.basename(path) for path in paths) != sorted(MISQUOTES):
        print(f"usage: check_quotes.py [--self-test] {' '.join(sorted(MISQUOTES))}")
        return 2
    documents = []
    for path in paths:
        with open(path, encoding="utf-8") as f:
            documents.append((path, f.read()))
    failures = self_test(documents) if testing else [p for name, text in documents for p in check(name, text)]
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
