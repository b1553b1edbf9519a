"""Mutation check: each mutant is one textual edit of a source file that the suite must notice.

The tree is copied to build-mutants/src (tracked files only), built once in build-mutants/build,
and for every mutant the edit is applied, the tree rebuilt and the mutant's label run; the file is
restored afterwards. A mutant that does not build counts as caught, as no behaviour could ship.
"""
import json
import os
import shutil
import subprocess
import sys
import time

SEPARATOR = " ::: "


def load(path, only_label):
    mutants = []
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            fields = line.split(SEPARATOR)
            if len(fields) != 5:
                sys.exit(f"mutants.txt:{number}: expected 5 fields separated by '{SEPARATOR.strip()}'")
            label, source, find, replace, what = (f.strip() for f in fields)
            if only_label is None or label == only_label or str(number) in only_label.split(","):
                mutants.append((number, label, source, find.encode().decode("unicode_escape"),
                                replace.encode().decode("unicode_escape"), what))
    return mutants


def copy_tree(root, scratch):
    tracked = subprocess.run(["git", "-C", root, "ls-files", "-z"], check=True,
                             capture_output=True).stdout.decode().split("\0")
    for name in filter(None, tracked):
        target = os.path.join(scratch, name)
        source = os.path.join(root, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target) or open(source, "rb").read() != open(target, "rb").read():
            shutil.copy2(source, target)


# What the tests start besides their own executable: the programs and the libraries they load.
RUNTIME_TARGETS = ["quil_connector", "quil_connector_testing", "quil_host", "quil-agent", "quil-product",
                   "quil-demo", "quil-server", "broadcast_writer"]


def label_targets(build, label):
    """The build targets a label needs: its test executables and the runtime programs.

    Relinking every test executable of the tree after each edit costs far more than running the
    label; the others cannot change the verdict, since only the label runs."""
    listing = subprocess.run(["ctest", "-L", f"^{label}$", "--show-only=json-v1"], cwd=build, check=True,
                             capture_output=True).stdout
    known = set()
    for line in subprocess.run(["ninja", "-t", "targets", "all"], cwd=build, check=True,
                               capture_output=True).stdout.decode().splitlines():
        prefix = "cmake_object_order_depends_target_"
        if line.startswith(prefix):
            known.add(line[len(prefix):].split(":")[0])
    tests = {os.path.basename(t["command"][0]) for t in json.loads(listing)["tests"] if t.get("command")}
    return sorted((tests & known) | (set(RUNTIME_TARGETS) & known))


def run(command, cwd, timeout=None):
    try:
        return subprocess.run(command, cwd=cwd, capture_output=True, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return -1


def main():
    root = sys.argv[1]
    only_label = sys.argv[2] if len(sys.argv) > 2 else None
    mutants = load(os.path.join(root, "tests", "mutants", "mutants.txt"), only_label)
    scratch = os.path.join(root, "build-mutants", "src")
    build = os.path.join(root, "build-mutants", "build")
    copy_tree(root, scratch)
    if not os.path.exists(os.path.join(build, "build.ninja")):
        subprocess.run(["cmake", "-S", scratch, "-B", build, "-G", "Ninja", "-DQUIL_BENCH=OFF"], check=True,
                       capture_output=True)
    print("mutants: building the unmutated copy", flush=True)
    if run(["cmake", "--build", build], build) != 0:
        sys.exit("mutants: the unmutated tree does not build")
    rows, survivors = [], 0
    targets = {label: label_targets(build, label) for label in sorted({m[1] for m in mutants})}
    for number, label, source, find, replace, what in mutants:
        path = os.path.join(scratch, source)
        original = open(path, encoding="utf-8").read()
        if original.count(find) != 1:
            sys.exit(f"mutants.txt:{number}: '{find}' occurs {original.count(find)} times in {source}")
        started = time.time()
        try:
            with open(path, "w", encoding="utf-8") as out:
                out.write(original.replace(find, replace))
            if run(["cmake", "--build", build, "--target", *targets[label]], build) != 0:
                verdict = "caught (build)"
            elif run(["ctest", "-L", f"^{label}$", "-E", "soak_one_minute", "-j", str(os.cpu_count()),
                      "--stop-on-failure"], build, timeout=900) != 0:
                verdict = "caught"
            else:
                verdict = "SURVIVED"
                survivors += 1
        finally:
            with open(path, "w", encoding="utf-8") as out:
                out.write(original)
        rows.append((number, label, verdict, int(time.time() - started), what))
        print(f"  {number:>3} {label:<9} {verdict:<15} {rows[-1][3]:>4} s  {what}", flush=True)
    run(["cmake", "--build", build], build)
    print(f"\nmutants: {len(rows)} run, {len(rows) - survivors} caught, {survivors} survived")
    sys.exit(1 if survivors else 0)


if __name__ == "__main__":
    main()
