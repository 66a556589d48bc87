#!/usr/bin/env bash
# Mutation testing: plants one single-line fault at a time in src/, rebuilds only
# what changed and runs the test suite against it. A mutant the tests catch is
# "killed" (the first failing test is named), one they miss "survived". The source
# is restored after every mutant, also on Ctrl-C or SIGTERM.
#
#   scripts/mutants.sh [--seed N] [--count N] [--folders "src/app src/audio"]
#                      [--list FILE] [--tests REGEX] [--all-killers] [--headers]
#                      [--jobs N] [--build DIR] [--dry-run]
#
# --seed N       draws the same mutants again from the same source (default: random,
#                printed). The drawn set is saved as <build>/mutants/set-<seed>.tsv.
# --list FILE    applies exactly the mutants of a saved set instead of drawing: each
#                is named by file, line text and mutation, so a set survives
#                unrelated edits; a mutant whose line is gone is reported "gone".
# --count N      mutants to draw (default 60), shared among the folders by size.
# --folders      folders to draw from (default: src/audio src/engines src/app
#                src/midi src/storage). C++ (.cpp; .h with --headers), QML and
#                JavaScript (.qml, .js: --folders qml) and Python (.py, with a page
#                in a triple-quoted string mutated as JavaScript) files.
# --tests REGEX  builds and runs only the ctest tests matching REGEX (default: all).
#                A mutant that survives them may still be killed by another test.
# --all-killers  runs every test on each mutant and names all that fail (slow).
# --jobs N       build parallelism (default 1: the machine is shared).
# --build DIR    build folder (default build-mutants), configured with a shared
#                core library so a changed file relinks only that library.
# --dry-run      lists the mutants and stops.
#
# Mutations: cmp (== <-> !=, < <-> >, <= <-> >=, === <-> !==), bound (< <-> <=,
# > <-> >=), const (an integer literal plus one), drop (a statement removed; in QML
# also a signal handler emptied), arith (+ <-> -, += <-> -=) and negate (the
# condition of an if or while). A mutant that does not compile is
# "invalid" and does not count. Tests run one at a time, fastest first, each with a
# timeout of three times its unmutated time plus 10 s; a timeout or crash kills. A
# test that fails or skips on the unmutated tree is reported before the run, and a
# failing one is left out (named). Results: <build>/mutants/result-<seed or list>.tsv.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

BUILD=build-mutants
JOBS=1
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
    case "${args[i]}" in
        --build) BUILD=${args[i + 1]} ;;
        --jobs) JOBS=${args[i + 1]} ;;
        -h | --help) sed -n '2,36p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    esac
done

# With -g ccache hashes the build folder unless told not to; without it no other
# checkout's objects could serve this build.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/tembora-ccache} CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1
if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
        -DPython3_EXECUTABLE=/usr/bin/python3 -DBUILD_SHARED_LIBS=ON -DCMAKE_LINK_DEPENDS_NO_SHARED=ON >/dev/null
fi

# The PipeWire tests run against a private session, as in ./tembora.sh test.
# shellcheck disable=SC1091
source "$ROOT/scripts/pipewire-session.sh"
if [[ " $* " != *" --dry-run "* ]]; then
    pw_session_start >/dev/null || echo "mutants: no private PipeWire session; its tests will skip" >&2
    trap pw_session_stop EXIT
fi

/usr/bin/python3 - "$ROOT" "$BUILD" "$JOBS" "$@" <<'PY'
import os, random, re, signal, subprocess, sys, time

root, build, jobs, argv = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
build = os.path.join(root, build) if not os.path.isabs(build) else build


def option(name, default=None):
    return argv[argv.index(name) + 1] if name in argv else default


seed = option("--seed")
seed = int(seed) if seed is not None else random.randrange(1, 100000)
count = int(option("--count", "60"))
folders = option("--folders", "src/audio src/engines src/app src/midi src/storage").split()
list_file = option("--list")
test_filter = option("--tests")
all_killers = "--all-killers" in argv
headers = "--headers" in argv
state = os.path.join(build, "mutants")
os.makedirs(state, exist_ok=True)

# ------------------------------------------------------------------ drawing mutants


def masked(line, comment="//"):
    """The line with string and character literals and comments blanked, so that
    operators inside them are never mutated. Keeps every column in place."""
    out, i, quote = [], 0, None
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith(comment, i):
            out.append(" " * (len(line) - i))
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)[: len(line)]


KEYWORDS_NOT_STATEMENTS = ("return", "break", "continue", "case", "default", "using", "typedef", "namespace",
                           "template", "public", "private", "protected", "else", "do", "goto")
DECLARATION = re.compile(r"^(?:[\w:]+(?:<[^;=]*>)?[\s*&]+)+\w+\s*(?:=|\(|\{|;|\[)")
COMPARISONS = {"==": "!=", "!=": "==", "<": ">", ">": "<", "<=": ">=", ">=": "<=", "===": "!==", "!==": "==="}
PY_KEYWORDS = ("return", "def", "class", "import", "from", "if", "elif", "else", "for", "while", "try", "except",
               "finally", "with", "raise", "yield", "pass", "break", "continue", "global", "nonlocal", "assert",
               "del", "lambda", "async", "await")
BOUNDS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">"}
CONTINUED = (",", "(", "[", "\\", "+", "-", "&", "|", "?", "=")  # a line ending so goes on below


def candidates(path, lines):
    """Every (mutation, occurrence, new line) a line offers, by line index."""
    script, page = path.endswith(".py"), False
    block_comment = False
    previous_end = ";"
    for index, line in enumerate(lines):
        text = line.rstrip("\n")
        stripped = text.strip()
        if script and '"""' in text:  # docstrings; a page embedded in a script is mutated as JavaScript
            page ^= text.count('"""') % 2 == 1
            continue
        python, qml = script and not page, path.endswith((".qml", ".js")) or page
        if block_comment:
            if "*/" in stripped:
                block_comment = False
            continue
        if stripped.startswith("/*"):
            block_comment = "*/" not in stripped
            continue
        if not stripped or stripped.startswith(("//", "#")):
            continue
        m = masked(text, "#" if python else "//")
        found = []
        # Spaced binary operators only: template brackets and << have no spaces.
        for table, kind in ((COMPARISONS, "cmp"), (BOUNDS, "bound")):
            occurrence = 0
            for match in re.finditer(r"(?<=\s)(===|!==|==|!=|<=|>=|<|>)(?=\s)", m):
                op = match.group(1)
                if op in table:
                    new = text[: match.start()] + table[op] + text[match.end():]
                    found.append((f"{kind}:{op}", occurrence, new))
                occurrence += 1
        occurrence = 0
        for match in re.finditer(r"(?<![\w.])(\d+)(?![\w.'])", m):
            if "[" in m[: match.start()] and "]" in m[match.end():] and "=" not in m:
                continue  # array sizes in declarations
            new = text[: match.start()] + str(int(match.group(1)) + 1) + text[match.end():]
            found.append((f"const:{match.group(1)}", occurrence, new))
            occurrence += 1
        if not re.search(r"[\"']|String|Latin1", text):  # + of strings would not compile as -
            occurrence = 0
            for match in re.finditer(r"(?<=\s)(\+|-|\+=|-=)(?=\s)", m):
                swap = {"+": "-", "-": "+", "+=": "-=", "-=": "+="}[match.group(1)]
                new = text[: match.start()] + swap + text[match.end():]
                found.append((f"arith:{match.group(1)}", occurrence, new))
                occurrence += 1
        condition = re.match(r"^(\s*(?:\}\s*else\s+)?(?:if|while)\s*\()", m)
        if condition:
            depth, start = 0, condition.end() - 1
            for j in range(start, len(m)):
                depth += {"(": 1, ")": -1}.get(m[j], 0)
                if depth == 0:
                    inner = text[start + 1 : j]
                    new = text[: start + 1] + "!(" + inner + ")" + text[j:]
                    found.append(("negate:if", 0, new))
                    break
        if python:
            condition = re.match(r"^(\s*(?:el)?(?:if|while)\s+)(.*):\s*$", m)
            if condition:
                inner = text[condition.end(1) : condition.end(2)]
                found.append(("negate:if", 0, text[: condition.end(1)] + "not (" + inner + ")" + text[condition.end(2):]))
        core = m.strip()
        first_word = re.match(r"[A-Za-z_]\w*", core)
        balanced = all(core.count(a) == core.count(b) for a, b in ("()", "[]", "{}"))
        if python or qml:
            # No semicolons to go by: a whole line that assigns or calls, after a line
            # that ended a statement or opened a block.
            statement = re.match(r"^[\w.\[\]]+\s*(?:=(?!=)|\+=|-=)|^[\w.]+\(.*\);?$", core)
            # In Python a line ending in "{" opens a literal; in QML it opens a block.
            if (statement and balanced and previous_end not in CONTINUED and not (python and previous_end == "{")
                    and not (first_word and first_word.group(0) in PY_KEYWORDS + KEYWORDS_NOT_STATEMENTS)
                    and not core.endswith(("(", "[", "{", ",", "\\"))):
                indent = text[: len(text) - len(text.lstrip())]
                found.append(("drop:statement", 0, indent + ("pass  # mutant: dropped" if python else "/* mutant: dropped */")))
            handler = re.match(r"^(\s*on[A-Z]\w*\s*:\s*)(\S.*)$", text) if qml else None
            if handler and balanced and not handler.group(2).startswith(("{", "function", "(")):
                found.append(("drop:handler", 0, handler.group(1) + "{}"))
        elif (core.endswith(";") and previous_end in (";", "{", "}", ":") and core.count("(") == core.count(")")
                and not (first_word and first_word.group(0) in KEYWORDS_NOT_STATEMENTS)
                and not DECLARATION.match(core) and not core.startswith(("}", ")", "{"))
                and re.search(r"\(|=|\+\+|--", core)):
            indent = text[: len(text) - len(text.lstrip())]
            found.append(("drop:statement", 0, indent + "/* mutant: dropped */"))
        for kind, occurrence, new in found:
            yield index, kind, occurrence, new
        previous_end = core[-1] if core else previous_end


def source_files():
    files = []
    for folder in folders:
        for base, _, names in os.walk(os.path.join(root, folder)):
            for name in names:
                if name.endswith((".cpp", ".qml", ".js", ".py")) or (headers and name.endswith(".h")):
                    files.append(os.path.relpath(os.path.join(base, name), root))
    return sorted(files)


def read_lines(path):
    with open(os.path.join(root, path), encoding="utf-8") as f:
        return f.readlines()


def identity(lines, index):
    """A line is named by its text and, where that text repeats, which copy it is."""
    text = lines[index].strip()
    return text, sum(1 for line in lines[:index] if line.strip() == text)


def draw():
    rng = random.Random(seed)
    per_folder = {}
    for path in source_files():
        folder = next(f for f in folders if path.startswith(f.rstrip("/") + "/"))
        lines = read_lines(path)
        for index, kind, occurrence, new in candidates(path, lines):
            text, copy = identity(lines, index)
            per_folder.setdefault(folder, []).append((path, text, copy, kind, occurrence))
    # Shares by the number of candidates, at least four a folder.
    total = sum(len(v) for v in per_folder.values())
    shares = {f: max(4, round(count * len(v) / total)) for f, v in per_folder.items()}
    while sum(shares.values()) > count and max(shares.values()) > 4:
        shares[max(shares, key=shares.get)] -= 1
    chosen = []
    for folder in sorted(per_folder):
        by_kind = {}
        for c in per_folder[folder]:
            by_kind.setdefault(c[3].split(":")[0], []).append(c)
        kinds = sorted(by_kind)
        rng.shuffle(kinds)
        for k in kinds:
            rng.shuffle(by_kind[k])
        used_lines, taken = set(), 0
        while taken < shares[folder] and any(by_kind.values()):
            for k in kinds:
                while by_kind[k] and taken < shares[folder]:
                    c = by_kind[k].pop()
                    if (c[0], c[1], c[2]) not in used_lines:
                        used_lines.add((c[0], c[1], c[2]))
                        chosen.append(c)
                        taken += 1
                        break
    return chosen


def mutated_lines(mutant):
    """The file's lines with the mutant applied, or None when its line is gone."""
    path, text, copy, kind, occurrence = mutant
    if not os.path.exists(os.path.join(root, path)):
        return None, None
    lines = read_lines(path)
    seen = -1
    for index, line in enumerate(lines):
        if line.strip() == text:
            seen += 1
            if seen == copy:
                for i, k, o, new in candidates(path, lines):
                    if i == index and k == kind and o == occurrence:
                        changed = list(lines)
                        changed[index] = new + "\n"
                        if path.endswith(".py"):
                            try:  # nothing builds a script: a mutant that is no Python is invalid here
                                compile("".join(changed), path, "exec")
                            except SyntaxError:
                                return lines, None
                        return lines, changed
                return None, None
    return None, None


def save_set(mutants, name):
    with open(name, "w", encoding="utf-8") as f:
        f.write("# file\tmutation\toccurrence\tcopy\tline text\n")
        for path, text, copy, kind, occurrence in mutants:
            f.write(f"{path}\t{kind}\t{occurrence}\t{copy}\t{text}\n")


def load_set(name):
    mutants = []
    with open(name, encoding="utf-8") as f:
        for row in f:
            if row.startswith("#") or not row.strip():
                continue
            path, kind, occurrence, copy, text = row.rstrip("\n").split("\t", 4)
            mutants.append((path, text, int(copy), kind, int(occurrence)))
    return mutants


# ------------------------------------------------------------------ building and testing

def run(command, timeout=None):
    """(exit code or -1 on timeout, output, seconds). The command runs in a process
    group of its own, killed whole on a timeout or an interruption."""
    start = time.monotonic()
    p = subprocess.Popen(command, cwd=root, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, start_new_session=True)
    try:
        out, _ = p.communicate(timeout=timeout)
        code = p.returncode
    except BaseException as e:
        os.killpg(p.pid, signal.SIGKILL)
        out, _ = p.communicate()
        if not isinstance(e, subprocess.TimeoutExpired):
            raise
        code = -1
    return code, out.decode(errors="replace"), time.monotonic() - start


def build_tree():
    # With --tests only those test binaries (and what they depend on) are built.
    targets = []
    if test_filter:  # only the tests that are build targets: a Python test is none
        known = run(["ninja", "-C", build, "-t", "targets", "all"])[1]
        names = [t for t in list_tests() if re.search(rf"^{re.escape(t)}:", known, re.M)]
        if not names:
            return True, ""
        targets = ["--target"] + names
    code, out, _ = run(["cmake", "--build", build, "--parallel", jobs] + targets)
    return code == 0, out


def list_tests():
    command = ["ctest", "--test-dir", build, "-N"]
    if test_filter:
        command += ["-R", test_filter]
    _, out, _ = run(command)
    return re.findall(r"Test\s+#\d+: (\S+)", out)


def run_test(name, timeout):
    """(passed, reason, seconds). The reason names the failing functions."""
    code, out, seconds = run(["ctest", "--test-dir", build, "-R", f"^{re.escape(name)}$", "-V"], timeout=timeout)
    if code == 0:
        skipped = sorted(set(re.findall(r"SKIP\s+:\s+(\S+?)\(", out)))
        return True, ("skips " + ", ".join(skipped) if skipped else ""), seconds
    if code == -1:
        return False, "timeout", seconds
    failed = list(dict.fromkeys(re.findall(r"FAIL!\s+:\s+\w+::((?:\w+::)?\w+)\(", out)
                                + re.findall(r"(?:FAIL|ERROR): (test_\w+) \(", out)))  # Qt Test, unittest
    if failed:
        return False, ",".join(failed), seconds
    crash = re.search(r"\*\*\*(Exception|Failed)\S*\s*(\w[\w ]*)?", out)
    return False, crash.group(0).strip("* ") if crash else "fails", seconds


originals = {}  # path -> original text, while mutated


def restore():
    for path, text in list(originals.items()):
        with open(os.path.join(root, path), "w", encoding="utf-8") as f:
            f.write(text)
        os.utime(os.path.join(root, path))  # newer than the mutant's object: rebuilt next time
        backup = os.path.join(state, "backup", path)
        if os.path.exists(backup):
            os.remove(backup)
        del originals[path]


def on_signal(number, frame):
    raise KeyboardInterrupt


def recover_backups():
    base = os.path.join(state, "backup")
    for folder, _, names in os.walk(base):
        for name in names:
            backup = os.path.join(folder, name)
            path = os.path.relpath(backup, base)
            with open(backup, encoding="utf-8") as f:
                originals[path] = f.read()
            print(f"mutants: restoring {path} left mutated by an interrupted run", file=sys.stderr)
    restore()


def describe(mutant):
    path, text, copy, kind, occurrence = mutant
    return f"{path} {kind}#{occurrence}{'@' + str(copy) if copy else ''} | {text}"


def main():
    signal.signal(signal.SIGTERM, on_signal)
    recover_backups()
    commit = run(["git", "rev-parse", "--short", "HEAD"])[1].strip()
    dirty = run(["git", "status", "--porcelain", "--untracked-files=no"])[1].strip()
    if list_file:
        mutants, tag = load_set(list_file), os.path.splitext(os.path.basename(list_file))[0]
        print(f"mutants: {len(mutants)} from {list_file} on {commit}{' (modified)' if dirty else ''}")
    else:
        mutants, tag = draw(), f"set-{seed}"
        save_set(mutants, os.path.join(state, f"{tag}.tsv"))
        print(f"mutants: seed {seed}, {len(mutants)} drawn from {' '.join(folders)} on {commit}"
              f"{' (modified)' if dirty else ''}; set saved as {os.path.join(state, tag + '.tsv')}")
    if "--dry-run" in argv:
        for i, m in enumerate(mutants, 1):
            print(f"[{i:3}] {describe(m)}")
        return 0

    ok, out = build_tree()
    if not ok:
        print(out[-3000:])
        print("mutants: the unmutated tree does not build", file=sys.stderr)
        return 2
    # Unmutated run: timings (fastest first) and tests that cannot judge a mutant.
    timings = {}
    for name in list_tests():
        passed, reason, seconds = run_test(name, 900)
        if passed:
            timings[name] = seconds
            if reason:
                print(f"mutants: {name} {reason} on the unmutated tree")
        else:
            print(f"mutants: LEFT OUT {name}: fails on the unmutated tree ({reason})")
    order = sorted(timings, key=timings.get)
    print(f"mutants: {len(order)} tests, {sum(timings.values()):.0f} s unmutated: "
          + " ".join(f"{n}({timings[n]:.0f}s)" for n in order))

    results, killed, survived, invalid, gone = [], 0, 0, 0, 0
    try:
        for number, mutant in enumerate(mutants, 1):
            original, changed = mutated_lines(mutant)
            label = f"[{number:3}/{len(mutants)}]"
            if changed is None and original is not None:
                invalid += 1
                print(f"{label} INVALID  {describe(mutant)}", flush=True)
                results.append((mutant, "invalid", ""))
                continue
            if changed is None:
                gone += 1
                print(f"{label} GONE     {describe(mutant)}", flush=True)
                results.append((mutant, "gone", ""))
                continue
            path = mutant[0]
            backup = os.path.join(state, "backup", path)
            os.makedirs(os.path.dirname(backup), exist_ok=True)
            originals[path] = "".join(original)
            with open(backup, "w", encoding="utf-8") as f:
                f.write(originals[path])
            with open(os.path.join(root, path), "w", encoding="utf-8") as f:
                f.write("".join(changed))
            try:
                ok, _ = build_tree()
                if not ok:
                    invalid += 1
                    status, killers = "invalid", ""
                else:
                    killers = []
                    for name in order:
                        passed, reason, _ = run_test(name, 3 * timings[name] + 10)
                        if not passed:
                            killers.append(f"{name}({reason})")
                            if not all_killers:
                                break
                    status = "killed" if killers else "survived"
                    killed += bool(killers)
                    survived += not killers
                    killers = " ".join(killers)
            finally:
                restore()
            shown = re.sub(r"\(([^,()]+(?:,[^,()]+){0,1})(?:,[^()]*)?\)", lambda m: "(" + m.group(1) + (
                ",..." if m.group(0).count(",") > 1 else "") + ")", killers)
            print(f"{label} {status.upper():8} {shown + '  ' if shown else ''}{describe(mutant)}", flush=True)
            results.append((mutant, status, killers))
    except KeyboardInterrupt:
        restore()
        print("mutants: interrupted; the source is restored", file=sys.stderr)
        return 130
    finally:
        restore()
        with open(os.path.join(state, f"result-{tag}.tsv"), "w", encoding="utf-8") as f:
            f.write("# status\tkillers\tfile\tmutation\toccurrence\tcopy\tline text\n")
            for (path, text, copy, kind, occurrence), status, killers in results:
                f.write(f"{status}\t{killers}\t{path}\t{kind}\t{occurrence}\t{copy}\t{text}\n")
    build_tree()  # leave the build matching the source
    valid = killed + survived
    rate = 100.0 * killed / valid if valid else 0.0
    print(f"mutants: {tag} on {commit}: {len(mutants)} mutants, {valid} valid, {killed} killed, "
          f"{survived} survived, {invalid} invalid, {gone} gone; kill rate {rate:.1f} %")
    print(f"mutants: results in {os.path.join(state, 'result-' + tag + '.tsv')}")
    return 0


sys.exit(main())
PY
