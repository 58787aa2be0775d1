"""Fails when a code excerpt in a Markdown file no longer matches the source it quotes.

An excerpt is a fenced cpp block cut into sections, each opened by a line `// <path>: ...` naming
a file below src/. Every other line of a section, compared without its indentation, must be a
line of that file, in the file's order; a line `...` stands for lines left out.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = re.compile(r"^// ([\w/.]+\.[ch]pp):")


def sections(markdown):
    inside = False
    current = None
    for number, line in enumerate(markdown.splitlines(), 1):
        if line.startswith("```"):
            inside = line.strip() == "```cpp"
            current = None
            continue
        if not inside:
            continue
        header = HEADER.match(line)
        if header:
            current = (header.group(1), [])
            yield current
        elif current is None:
            raise SystemExit(f"line {number}: an excerpt line before any `// <path>:` header")
        elif line.strip() and line.strip() != "...":
            current[1].append((number, line.strip()))


def main(path):
    failures = []
    for source, lines in list(sections(pathlib.Path(path).read_text())):
        text = [line.strip() for line in (ROOT / "src" / source).read_text().splitlines()]
        at = 0
        for number, line in lines:
            try:
                at = text.index(line, at) + 1
            except ValueError:
                failures.append(f"{path}:{number}: not in src/{source} (or out of order): {line}")
    if failures:
        raise SystemExit("\n".join(failures))


if __name__ == "__main__":
    main(sys.argv[1])
