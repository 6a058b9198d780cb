#!/usr/bin/python3
"""Corruption campaigns: damaged copies of one input, each run by a program
whose contract for damaged input is checked.

  campaign.py writer|h5py BIN_DIR SOURCE_DIR    harvestodb on a database
  campaign.py frd BIN_DIR SOURCE_DIR            ccx2odb on a CalculiX job

Each copy is cut at one of 64 evenly spaced lengths or has one byte flipped
at one of 300 seeded offsets. harvestodb must end with status 0 and either
the clean report byte for byte plus paramsdone.txt, or a message naming the
database, "ODB Application exited with error(s)" and no paramsdone.txt.
ccx2odb must end with status 1 and "ccx2odb: JOB.frd:LINE: ..." and no
database, or with status 0 and a database holding exactly the result blocks
read before the damage. A crash, a hang, a sanitizer report or a file the
program's contract does not name fails the campaign. Damage that leaves a
valid input with other values cannot be seen by the program: a flip inside
an unprotected array (the h5py file's raw data, variable-length strings) or
a digit of the .frd, when the run succeeds with other values, is counted
and reported, not failed.

HARVEST_CORRUPTION_SAMPLE=N runs every N-th case only (sanitizer builds).
Exit status: 0 passed, 1 failed, 77 skipped (no solver for the frd kind).
"""
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile

CUTS, FLIPS, SEED, TIMEOUT = 64, 300, 20261206, 30
CLOSING = "ODB Application exited with error(s)"
SANITIZER = re.compile(rb"AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|runtime error:")
CONFIG = "\n".join(["ODB EXTRACTIONS", "EXTRACT_ALL", "EXTRACT_MASS", "EXTRACT_HISTORY", "MINMAX_HISTORY",
                    "EXTRACT_FIELD", "EXTRACT_STRESS", "EXTRACT_SPATIAL", "EXTRACT_ELEMENT",
                    "EXTRACT_FIELD_COMPONENTS", "EXTRACT_FIELD_SETS", "TENSOR_INVARIANTS", "ENGINEERING_MAX",
                    "PERCENTAGE=5", ""])


def limits():
    resource.setrlimit(resource.RLIMIT_FSIZE, (64 << 20, 64 << 20))
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


def run(argv, cwd):
    """(status, stdout, stderr), status negative for a signal; None after a hang."""
    p = subprocess.Popen(argv, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, preexec_fn=limits, start_new_session=True)
    try:
        out, err = p.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.communicate()
        return None
    return p.returncode, out, err


def cases(size):
    """(name, damage) pairs; damage maps the clean bytes to the damaged ones."""
    out = [("cut at %d" % n, lambda b, n=n: b[:n]) for n in (size * i // CUTS for i in range(CUTS))]
    rng = random.Random(SEED)
    for _ in range(FLIPS):
        at, mask = rng.randrange(size), rng.randrange(1, 256)
        out.append(("flip at %d" % at, lambda b, at=at, mask=mask: b[:at] + bytes([b[at] ^ mask]) + b[at + 1:]))
    step = int(os.environ.get("HARVEST_CORRUPTION_SAMPLE", "1") or 1)
    return out[::step]


def unprotected_ranges(path):
    """(what, start, end) of the byte ranges no checksum covers: raw data of
    datasets without the Fletcher-32 filter, and global heap collections
    (variable-length strings)."""
    import h5py
    ranges = []

    def visit(_, obj):
        if not isinstance(obj, h5py.Dataset) or obj.id.get_create_plist().get_nfilters() > 0:
            return
        if obj.chunks is None:
            if obj.id.get_offset() is not None:
                ranges.append(("raw data", obj.id.get_offset(), obj.id.get_offset() + obj.id.get_storage_size()))
            return
        for i in range(obj.id.get_num_chunks()):
            info = obj.id.get_chunk_info(i)
            ranges.append(("raw data", info.byte_offset, info.byte_offset + info.size))

    with h5py.File(path, "r") as f:
        f.visititems(visit)
    data = open(path, "rb").read()
    for m in re.finditer(b"GCOL", data):
        ranges.append(("global heap", m.start(), m.start() + int.from_bytes(data[m.start() + 8:m.start() + 16], "little")))
    return ranges


class Campaign:
    def __init__(self, kind, work):
        self.kind, self.work = kind, work
        self.counts = {"identical": 0, "clean error": 0, "changed, counted": 0}
        self.failures = []
        self.known = []  # faults of the HDF5 library that no check of ours can prevent

    def fail(self, case, why, result=None):
        detail = ""
        if result:
            detail = "\n    status %s, stderr: %s" % (result[0], result[2].decode(errors="replace")[-600:])
        self.failures.append("%s: %s: %s%s" % (self.kind, case, why, detail))

    def fresh(self, name):
        folder = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.mkdir(folder)
        return folder

    def common(self, case, result, folder, allowed):
        """Checks every run shares; False when the case has failed."""
        if result is None:
            self.fail(case, "no end within %d s" % TIMEOUT)
            return False
        if SANITIZER.search(result[2]):
            self.fail(case, "sanitizer report", result)
            return False
        extra = sorted(set(os.listdir(folder)) - allowed)
        if extra:
            self.fail(case, "files left behind: %s" % " ".join(extra), result)
            return False
        return True


def harvest(kind, bin_dir, source, work):
    db = os.path.join(work, "clean.odb")
    if kind == "writer":
        r = run([os.path.join(bin_dir, "odbgen"), "--seed", "7", "--size", "10", "--steps", "2", "--frames", "2",
                 db], work)
    else:
        r = run([sys.executable, os.path.join(source, "examples", "write_db.py"), db], work)
    if r is None or r[0] != 0:
        sys.exit("campaign: cannot write the database: %r" % (r,))
    clean_bytes = open(db, "rb").read()
    unprotected = unprotected_ranges(db)
    if kind == "writer" and any(what == "global heap" for what, _, _ in unprotected):
        sys.exit("campaign: the writer's database holds a global heap (variable-length strings)")
    c = Campaign(kind, work)
    program = os.path.join(bin_dir, "harvestodb")
    allowed = {"db.odb", "cfg.txt", "params.txt", "paramsdone.txt", "upgradedOdb.odb"}

    def attempt(name, content):
        folder = c.fresh("run")
        with open(os.path.join(folder, "db.odb"), "wb") as f:
            f.write(content)
        with open(os.path.join(folder, "cfg.txt"), "w") as f:
            f.write(CONFIG)
        result = run([program, "-odb", "db.odb", "-config", "cfg.txt"], folder)
        files = {n: open(os.path.join(folder, n), "rb").read() for n in ("params.txt", "paramsdone.txt")
                 if os.path.isfile(os.path.join(folder, n))}
        return folder, result, files

    folder, result, files = attempt("clean", clean_bytes)
    if not result or result[0] != 0 or "paramsdone.txt" not in files or result[2]:
        sys.exit("campaign: the clean run failed: %r" % (result,))
    report = files["params.txt"]
    print("campaign: %s: clean database %d bytes, report %d lines, %d unprotected bytes"
          % (kind, len(clean_bytes), report.count(b"\n"), sum(e - s for _, s, e in unprotected)))

    def inside(name, what):
        return name.startswith("flip") and any(w == what and s <= int(name[8:]) < e for w, s, e in unprotected)

    for name, damage in cases(len(clean_bytes)):
        folder, result, files = attempt(name, damage(clean_bytes))
        if kind == "h5py" and result and inside(name, "global heap") and (result[0] < 0 or b"H5HG_read" in result[2]):
            # HDF5 1.10 trusts the object sizes of a global heap collection, which
            # no checksum covers, and copies past its end while reading a
            # variable-length string. Our writer stores fixed-length strings, so
            # its files have no global heap and such a crash there fails.
            c.counts["HDF5 crash, damaged global heap"] = c.counts.get("HDF5 crash, damaged global heap", 0) + 1
            c.known.append("%s: %s: status %d in HDF5 (damaged global heap)" % (kind, name, result[0]))
            continue
        if not c.common(name, result, folder, allowed):
            continue
        status, _, err = result
        if status != 0:
            c.fail(name, "status %d" % status, result)
        elif "paramsdone.txt" in files:
            if files["paramsdone.txt"] != b"Done\n" or err:
                c.fail(name, "marker or messages of a successful run are wrong", result)
            elif files.get("params.txt") == report:
                c.counts["identical"] += 1
            elif inside(name, "raw data") or inside(name, "global heap"):
                c.counts["changed, counted"] += 1
            else:
                c.fail(name, "paramsdone.txt beside a report that differs from the clean one", result)
        else:
            lines = err.decode(errors="replace").splitlines()
            named = lines and re.match(r"(db|upgradedOdb)\.odb: ", lines[0])
            if len(lines) == 2 and named and lines[1] == CLOSING:
                c.counts["clean error"] += 1
            else:
                c.fail(name, "no paramsdone.txt, but not the library's message and the closing line", result)
    return c


# Two bricks of density 2 in two load steps; displacements and stresses to
# the .frd, node and element prints to the .dat.
DECK = """*NODE,NSET=NALL
1,0,0,0
2,1,0,0
3,1,1,0
4,0,1,0
5,0,0,1
6,1,0,1
7,1,1,1
8,0,1,1
9,2,0,0
10,2,1,0
11,2,0,1
12,2,1,1
*ELEMENT,TYPE=C3D8,ELSET=EALL
1,1,2,3,4,5,6,7,8
2,2,9,10,3,6,11,12,7
*NSET,NSET=FIX
1,4,5,8
*NSET,NSET=LOAD
9,10,11,12
*MATERIAL,NAME=STEEL
*ELASTIC
210000,0.3
*DENSITY
2.
*SOLID SECTION,ELSET=EALL,MATERIAL=STEEL
*STEP
*STATIC
0.5,1.
*BOUNDARY
FIX,1,3
*CLOAD
LOAD,1,10.
*NODE PRINT,NSET=LOAD
U
*EL PRINT,ELSET=EALL,TOTALS=YES
EMAS
*NODE FILE
U
*EL FILE
S
*END STEP
*STEP
*STATIC
*CLOAD
LOAD,2,5.
*END STEP
"""


def importer(bin_dir, work):
    ccx = shutil.which("ccx")
    if not ccx:
        return None
    job = os.path.join(work, "job")
    with open(job + ".inp", "w") as f:
        f.write(DECK)
    r = run([ccx, "-i", "job"], work)
    if r is None or r[0] != 0 or not os.path.isfile(job + ".frd"):
        sys.exit("campaign: ccx failed: %r" % (r,))
    inputs = {ext: open(job + ext, "rb").read() for ext in (".inp", ".dat", ".sta")}
    frd = open(job + ".frd", "rb").read()
    c = Campaign("frd", work)
    allowed = {"job.inp", "job.dat", "job.sta", "job.frd", "job.odb", "cfg.txt", "params.txt", "paramsdone.txt"}

    def attempt(content):
        """The import's result, the folder, and what the database holds (None without one)."""
        folder = c.fresh("run")
        for ext, data in inputs.items():
            with open(os.path.join(folder, "job" + ext), "wb") as f:
                f.write(data)
        with open(os.path.join(folder, "job.frd"), "wb") as f:
            f.write(content)
        result = run([os.path.join(bin_dir, "ccx2odb"), "job"], folder)
        if result is None or result[0] != 0 or not os.path.isfile(os.path.join(folder, "job.odb")):
            return result, folder, None
        # What the database holds: the listing, and the full report read through it.
        listing = run([os.path.join(bin_dir, "odbinfo"), "job.odb"], folder)
        with open(os.path.join(folder, "cfg.txt"), "w") as f:
            f.write(CONFIG)
        harvest = run([os.path.join(bin_dir, "harvestodb"), "-odb", "job.odb", "-config", "cfg.txt"], folder)
        report = open(os.path.join(folder, "params.txt"), "rb").read() if harvest and harvest[0] == 0 and \
            os.path.isfile(os.path.join(folder, "paramsdone.txt")) else None
        return result, folder, (listing, report)

    result, folder, clean = attempt(frd)
    if not result or result[0] != 0 or clean[1] is None:
        sys.exit("campaign: the clean import failed: %r" % (result,))
    # The database each whole-block prefix of the file makes, keyed by the prefix's length.
    ends = [m.end() for m in re.finditer(rb"(?m)^ -3\r?\n", frd)]
    prefixes = {}
    for end in ends:
        result, _, held = attempt(frd[:end])
        prefixes[end] = held if result and result[0] == 0 else None
    print("campaign: frd: clean file %d bytes, %d blocks, report %d lines"
          % (len(frd), len(ends), clean[1].count(b"\n")))
    error = re.compile(r"ccx2odb: job\.frd:(\d+:)? ")

    for name, damage in cases(len(frd)):
        damaged = damage(frd)
        result, folder, held = attempt(damaged)
        if not c.common(name, result, folder, allowed):
            continue
        status, _, err = result
        lines = err.decode(errors="replace").split("\n")[:-1]
        if status == 1:
            if os.path.exists(os.path.join(folder, "job.odb")):
                c.fail(name, "status 1 and a database left behind", result)
            elif len(lines) == 1 and error.match(lines[0]):
                c.counts["clean error"] += 1
            else:
                c.fail(name, "status 1 without one 'ccx2odb: job.frd:LINE: message' line", result)
            continue
        if status != 0 or held is None:
            c.fail(name, "status %d%s" % (status, "" if held else " and no database"), result)
            continue
        if any(not error.match(line) for line in lines):
            c.fail(name, "messages that do not name job.frd", result)
            continue
        at = int(name.split()[-1])
        before = [held_by for end, held_by in prefixes.items() if end <= at]
        if held == clean or (before and held == before[-1]):
            c.counts["identical"] += 1
        elif name.startswith("flip") and (held[0] == clean[0] and data_line(damaged, at) or name_field(frd, at)):
            c.counts["changed, counted"] += 1
        else:
            start = damaged.rfind(b"\n", 0, at) + 1
            c.fail(name, "status 0 with a database that is neither the clean one nor its whole blocks before the "
                   "damage, line %r" % damaged[start:damaged.find(b"\n", at)], result)
    return c


def name_field(content, at):
    """True when byte at lies in the name of a result block or of one of its
    components (columns 6 to 13 of a ' -4' or ' -5' record): another name
    makes another valid file, one whose block or component the importer may
    not know."""
    start = content.rfind(b"\n", 0, at) + 1
    return content[start:start + 3] in (b" -4", b" -5") and 5 <= at - start < 13


def data_line(content, at):
    """True when byte at lies in a node or element value record (' -1' or ' -2')."""
    start = content.rfind(b"\n", 0, at) + 1
    return content[start:start + 3] in (b" -1", b" -2")


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("writer", "h5py", "frd"):
        sys.exit(__doc__)
    kind, bin_dir, source = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    work = tempfile.mkdtemp(prefix="harvest-corruption-")
    try:
        c = harvest(kind, bin_dir, source, work) if kind != "frd" else importer(bin_dir, work)
    finally:
        if not os.environ.get("HARVEST_KEEP_TMP"):
            shutil.rmtree(work, ignore_errors=True)
    if c is None:
        print("campaign: frd: skipped, ccx is not installed")
        return 77
    print("campaign: %s: %s" % (kind, ", ".join("%s %d" % kv for kv in c.counts.items())))
    for k in c.known:
        print("KNOWN " + k)
    for f in c.failures[:20]:
        print("FAILED " + f)
    if c.failures:
        print("campaign: %s: %d failure(s)" % (kind, len(c.failures)))
    return 1 if c.failures else 0


if __name__ == "__main__":
    sys.exit(main())
