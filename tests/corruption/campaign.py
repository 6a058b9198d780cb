#!/usr/bin/python3
"""campaign.py writer|h5py|frd BIN_DIR SOURCE_DIR

Damaged copies of one input (64 cuts, 300 seeded one-byte flips; every N-th with HARVEST_CORRUPTION_SAMPLE=N)
run by the program that reads it: harvestodb on a database of odbgen (writer) or examples/write_db.py (h5py),
ccx2odb on the .frd of twobricks.inp solved by ccx (77 without ccx). Each run ends in time, without a sanitizer
report or stray files, either as the clean run or with a clean error; the judges say what else is counted.
"""
import os, random, re, shutil, sys  # noqa: E401

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from harness import ALL_KEYWORDS, check, finish, fresh, present, read, run, scratch, skip, write  # noqa: E402

CUTS, FLIPS, SEED, TIMEOUT = 64, 300, 20261206, 30
SANITIZER = re.compile(rb"AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|runtime error:")
FRD_ERROR = re.compile(r"ccx2odb: job\.frd:(\d+:)? ")


def cases(clean):  # (name, offset, damaged copy): cuts at CUTS lengths, then FLIPS seeded one-byte flips
    rng = random.Random(SEED)
    specs = [("cut", len(clean) * i // CUTS, 0) for i in range(CUTS)]
    specs += [("flip", rng.randrange(len(clean)), rng.randrange(1, 256)) for _ in range(FLIPS)]
    for what, at, mask in specs[::int(os.environ.get("HARVEST_CORRUPTION_SAMPLE") or 1)]:
        yield "%s at %d" % (what, at), at, clean[:at] if what == "cut" else \
            clean[:at] + bytes([clean[at] ^ mask]) + clean[at + 1:]


def unprotected_ranges(path):
    """(what, start, end) of the bytes no checksum covers: raw data of datasets without the
    Fletcher-32 filter, and global heap collections (variable-length strings)."""
    import h5py
    ranges = []

    def visit(_, obj):
        if isinstance(obj, h5py.Dataset) and obj.id.get_create_plist().get_nfilters() == 0:
            spans = [obj.id.get_chunk_info(i) for i in range(obj.id.get_num_chunks() if obj.chunks else 0)]
            ranges.extend(("raw data", c.byte_offset, c.byte_offset + c.size) for c in spans)
            if obj.chunks is None and obj.id.get_offset() is not None:
                ranges.append(("raw data", obj.id.get_offset(), obj.id.get_offset() + obj.id.get_storage_size()))

    with h5py.File(path, "r") as f:
        f.visititems(visit)
    data = read(path)  # a global heap collection's size follows its signature
    return ranges + [("global heap", at, at + int.from_bytes(data[at + 8:at + 16], "little"))
                     for at in (m.start() for m in re.finditer(b"GCOL", data))]


def must(r, what):
    if r.status != 0:
        sys.exit("campaign: %s failed: status %s, %s" % (what, r.status, r.err[-600:]))


def harvest(kind, bin_dir, source, work, counts):
    """The clean database, the files a run may leave, how to run a copy and how to judge the run."""
    db = os.path.join(work, "clean.odb")
    must(run([os.path.join(bin_dir, "odbgen"), "--seed", "7", "--size", "10", "--steps", "2", "--frames", "2", db]
             if kind == "writer" else [sys.executable, os.path.join(source, "examples", "write_db.py"), db], work),
         "writing the database")
    clean, unprotected = read(db), unprotected_ranges(db)
    if kind == "writer" and any(what == "global heap" for what, _, _ in unprotected):
        sys.exit("campaign: the writer's database holds a global heap (variable-length strings)")

    def attempt(content):
        write(os.path.join(folder := fresh(os.path.join(work, "run")), "db.odb"), content)
        write(os.path.join(folder, "cfg.txt"), ALL_KEYWORDS)
        r = run([os.path.join(bin_dir, "harvestodb"), "-odb", "db.odb", "-config", "cfg.txt"], folder, TIMEOUT)
        return folder, r, present(folder, "params.txt", "paramsdone.txt")

    _, r, files = attempt(clean)
    if r.status != 0 or "paramsdone.txt" not in files or r.err:
        sys.exit("campaign: the clean run failed: %r" % (r,))
    report = files["params.txt"]
    print("campaign: %s: clean database %d bytes, report %d lines, %d unprotected bytes"
          % (kind, len(clean), report.count(b"\n"), sum(e - s for _, s, e in unprotected)))

    def inside(name, at, what):
        return name.startswith("flip") and any(w == what and s <= at < e for w, s, e in unprotected)

    def judge(name, at, _, folder, r, files):
        if kind == "h5py" and r.status is not None and inside(name, at, "global heap") and (
                r.status < 0 or b"H5HG_read" in r.err):
            # HDF5 1.10 trusts the object sizes of a global heap collection (no checksum) and reads past its end.
            # Our writer stores fixed-length strings, so its files have no global heap and such a crash fails.
            counts["HDF5 crash, damaged global heap"] = counts.get("HDF5 crash, damaged global heap", 0) + 1
            return print("KNOWN %s: %s: status %d in HDF5 (damaged global heap)" % (kind, name, r.status))
        if r.status != 0:
            return None, "status %s" % r.status, False
        if "paramsdone.txt" not in files:  # one line of the library's message, then the closing line
            return "clean error", "no paramsdone.txt, but not the library's message and the closing line", re.fullmatch(
                rb"(db|upgradedOdb)\.odb: [^\n]*\nODB Application exited with error\(s\)\n?", r.err)
        if files["paramsdone.txt"] != b"Done\n" or r.err:
            return None, "marker or messages of a successful run are wrong", False
        if files.get("params.txt") == report:
            return "identical", "", True
        return "changed, counted", "paramsdone.txt beside a report that differs from the clean one", \
            inside(name, at, "raw data") or inside(name, at, "global heap")

    return clean, {"db.odb", "cfg.txt", "params.txt", "paramsdone.txt", "upgradedOdb.odb"}, attempt, judge


def record(content, at):  # the record key (' -1', ' -4', ...) of the .frd line holding byte at, and at's column in it
    start = content.rfind(b"\n", 0, at) + 1
    return content[start:start + 3], at - start


def importer(_, bin_dir, source, work, counts):  # as harvest, for the .frd of a solved job
    shutil.copy(os.path.join(source, "tests", "corruption", "twobricks.inp"), os.path.join(work, "job.inp"))
    must(run(["ccx", "-i", "job"], work, 120), "ccx")
    inputs = {ext: read(os.path.join(work, "job" + ext)) for ext in (".inp", ".dat", ".sta")}
    frd = read(os.path.join(work, "job.frd"))

    def attempt(content):  # the folder, the import and what the database holds (listing, full report) or None
        folder = fresh(os.path.join(work, "run"))
        for ext, data in list(inputs.items()) + [(".frd", content)]:
            write(os.path.join(folder, "job" + ext), data)
        r = run([os.path.join(bin_dir, "ccx2odb"), "job"], folder, TIMEOUT)
        if r.status != 0 or not os.path.isfile(os.path.join(folder, "job.odb")):
            return folder, r, None
        listing = run([os.path.join(bin_dir, "odbinfo"), "job.odb"], folder, TIMEOUT)[:3]
        write(os.path.join(folder, "cfg.txt"), ALL_KEYWORDS)
        h = run([os.path.join(bin_dir, "harvestodb"), "-odb", "job.odb", "-config", "cfg.txt"], folder, TIMEOUT)
        done = h.status == 0 and os.path.isfile(os.path.join(folder, "paramsdone.txt"))
        return folder, r, (listing, read(os.path.join(folder, "params.txt")) if done else None)

    _, r, clean = attempt(frd)
    if r.status != 0 or not clean or clean[1] is None:
        sys.exit("campaign: the clean import failed: %r" % (r,))
    # What each whole-block prefix of the file makes, keyed by the prefix's length.
    prefixes = {m.end(): attempt(frd[:m.end()])[2] for m in re.finditer(rb"(?m)^ -3\r?\n", frd)}
    print("campaign: frd: clean file %d bytes, %d blocks, report %d lines"
          % (len(frd), len(prefixes), clean[1].count(b"\n")))

    def judge(name, at, damaged, folder, r, held):
        lines = r.err.decode(errors="replace").split("\n")[:-1]
        before = [h for end, h in prefixes.items() if end <= at]
        rec, column = record(frd, at)
        if r.status == 1:
            return "clean error", "status 1 without one 'ccx2odb: job.frd:LINE: message' line and no database", \
                len(lines) == 1 and FRD_ERROR.match(lines[0]) and not os.path.exists(os.path.join(folder, "job.odb"))
        if r.status != 0 or held is None:
            return None, "status %s%s" % (r.status, "" if held else " and no database"), False
        if not all(FRD_ERROR.match(line) for line in lines):
            return None, "messages that do not name job.frd", False
        if held == clean or (before and held == before[-1]):
            return "identical", "", True
        # Only a flip in a value (same listing), or in a block or component name (a valid file whose names the
        # importer may not know) may change what the database holds.
        value = record(damaged, at)[0] in (b" -1", b" -2") and held[0] == clean[0]
        return "changed, counted", "a database neither the clean one nor its whole blocks before the damage, line %r" \
            % damaged[damaged.rfind(b"\n", 0, at) + 1:damaged.find(b"\n", at)], \
            name.startswith("flip") and (value or rec in (b" -4", b" -5") and 5 <= column < 13)

    allowed = {"job.inp", "job.dat", "job.sta", "job.frd", "job.odb", "cfg.txt", "params.txt", "paramsdone.txt"}
    return frd, allowed, attempt, judge


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("writer", "h5py", "frd"):
        sys.exit(__doc__)
    kind, bin_dir, source = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    if kind == "frd" and not shutil.which("ccx"):
        return skip("campaign: frd", "ccx is not installed")
    counts = {"identical": 0, "clean error": 0, "changed, counted": 0}
    with scratch("harvest-corruption-") as work:
        clean, allowed, attempt, judge = (importer if kind == "frd" else harvest)(kind, bin_dir, source, work, counts)
        for name, at, damaged in cases(clean):
            folder, r, result = attempt(damaged)
            verdict = judge(name, at, damaged, folder, r, result)  # None: a known fault outside our code, counted
            if verdict:
                # What every run must do: end in time, without a sanitizer report, leaving only allowed files.
                detail = "status %s, stderr: %s" % (r.status, r.err.decode(errors="replace")[-600:])
                extra = sorted(set(os.listdir(folder)) - allowed)
                if (check(name + ": no end within %d s" % TIMEOUT, r.status is not None)
                        and check(name + ": sanitizer report", not SANITIZER.search(r.err), detail)
                        and check(name + ": files left behind: " + " ".join(extra), not extra, detail)
                        and check(name + ": " + verdict[1], verdict[2], detail)):
                    counts[verdict[0]] += 1
    print("campaign: %s: %s" % (kind, ", ".join("%s %d" % kv for kv in counts.items())))
    return finish("campaign: " + kind)


if __name__ == "__main__":
    sys.exit(main())
