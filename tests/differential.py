#!/usr/bin/env python3
# differential.py QUORLIT [--files N] [--seed S] [--corpus DIR]: quorlit against srec_cat.
#
# Generated files: ascending data records of 1 to 255 bytes, gaps of none, a few bytes or over
# 64 KiB, type 04 and 02 bases, records at and across 64 KiB boundaries, type 05 records, blank
# lines, LF or CR LF, either case. Four windows of each must give srec_cat's image; a copy with one
# record moved down must stop with status 2 and a prefix of the image. With --corpus, the real
# files listed in DIR/INDEX.tsv are checked on their suggested windows instead.
import concurrent.futures, random, shutil, subprocess, sys, tempfile
from pathlib import Path

DESCENDING = ("pic32mx_chipkit_MPIDE", "pic32mz_chipkit_MIKROE")  # records descend in the window


def record(type_, field, digits=""):
    body = bytes([len(digits) // 2, field >> 8 & 0xFF, field & 0xFF, type_]) + bytes.fromhex(digits)
    return ":%s%02X\n" % (body.hex().upper(), -sum(body) & 0xFF)


def data_records(rng):  # ascending (address, bytes) pairs, all below 0xF0000000
    address, records = rng.choice([rng.randrange(0x100000), rng.randrange(0xE0000000)]), []
    for _ in range(rng.randint(1, 40)):
        address += rng.choice([0, 0, 0, rng.randint(1, 40), rng.randint(0x10001, 0x30000)])
        if rng.random() < 0.2:  # end next to, or across, a 64 KiB boundary
            address = max(address, (address | 0xFFFF) - rng.randint(0, 20))
        records.append((address, rng.randbytes(rng.choice([1, 16, 32, 255, rng.randint(1, 255)]))))
        address += len(records[-1][1])
    return records


def render(rng, records):
    text, base, segmented = "", -1 << 40, False
    for address, data in records:
        # Under a segment base a record must end inside its segment: addresses wrap there.
        if not 0 <= address - base <= 0xFFFF or segmented and address - base + len(data) > 0x10000 \
                or rng.random() < 0.05:
            segment = min(address >> 4, 0xFFFF) & ~rng.choice([0, 0xFFF])
            segmented = address - (segment << 4) + len(data) <= 0x10000 and rng.random() < 0.5
            base = segment << 4 if segmented else address & 0xFFFF0000
            text += record(2, 0, "%04X" % segment) if segmented else record(4, 0, "%04X" % (address >> 16))
        # No type 03: after one, srec_cat wraps records at 64 KiB even under a linear base.
        text += rng.choice(["", "", "", "\n", " \t\n", record(5, 0, "1D00E000")])
        text += record(0, address - base, data.hex())
    text = text + ":00000001FF\n"
    text = text.lower() if rng.random() < 0.5 else text
    return text.replace("\n", "\r\n") if rng.random() < 0.5 else text


def run(quorlit, text, start, size_k, folder):
    Path(folder, "in.hex").write_bytes(text.encode("latin-1"))
    done = subprocess.run([quorlit, "%x" % start, str(size_k), "in.hex", "out.bin"], cwd=folder,
                          capture_output=True, text=True)
    return done.returncode, done.stdout, Path(folder, "out.bin").read_bytes()


def compare(quorlit, text, start, size_k, folder):  # what differs on one window, or None
    status, stdout, image = run(quorlit, text, start, size_k, folder)
    fill = ["-fill", "0xFF", "0", str(len(image))] if image else []  # "0 0" would mean 4 GiB
    srec = ["srec_cat", "-multiple", "in.hex", "-intel", "-crop", str(start), str(start + size_k * 1024),
            "-offset", "-%d" % start] + fill + ["-o", "ref.bin", "-binary"]
    subprocess.run(srec if size_k else ["cp", "/dev/null", "ref.bin"], cwd=folder, check=True,
                   capture_output=True)
    ref = Path(folder, "ref.bin").read_bytes()
    if status != 0 or ref != image:
        return "window %x %dK: status %d, %d bytes, srec_cat %d bytes\n%s" % (
            start, size_k, status, len(image), len(ref), stdout)


def check_file(quorlit, rng, folder):  # (moved-record copies checked, failure text or None)
    records = data_records(rng)
    text = render(rng, records)
    lo, hi = records[0][0], records[-1][0] + len(records[-1][1])
    inside = [rng.randint(a, a + len(d) - 1) for a, d in rng.sample(records, min(2, len(records)))]
    for start, size_k in [(lo, (hi - lo) // 1024 + 1),  # all the data
                          (min(inside), (max(inside) - min(inside)) // 1024),  # cut at both edges
                          (hi + rng.randint(0, 5000), rng.randint(0, 64)),  # no data
                          (rng.randint(max(lo - 0x20000, 0), hi), rng.randint(1, 300))]:
        failure = compare(quorlit, text, start, size_k, folder)
        if failure:
            return 0, failure + text
    if len(records) < 2:
        return 0, None
    k = rng.randrange(1, len(records))
    address, data = records[k - 1]
    moved = records[:k] + [(rng.randint(lo, address + len(data) - 1), records[k][1])] + records[k + 1:]
    _, _, full = run(quorlit, text, lo, (hi - lo) // 1024 + 1, folder)
    status, stdout, image = run(quorlit, render(rng, moved), lo, (hi - lo) // 1024 + 1, folder)
    if status != 2 or not full.startswith(image) or "lower address" not in stdout:
        return 1, "moved record: status %d, %d bytes\n%s" % (status, len(image), stdout)
    return 1, None


def check_corpus(quorlit, corpus, folder):
    if not Path(corpus, "INDEX.tsv").exists():
        return print("corpus: skipped, no firmware corpus at %s" % corpus) or 77
    rows = [line.split("\t") for line in Path(corpus, "INDEX.tsv").read_text().splitlines()[1:]]
    for name, *_, start, size_k, _ in rows:
        text, start, size_k = Path(corpus, name).read_bytes().decode("latin-1"), int(start, 16), int(size_k)
        if name.startswith(DESCENDING):
            status, failure, _ = run(quorlit, text, start, size_k, folder)
            failure = None if status == 2 and "lower address" in failure else failure
        else:
            failure = compare(quorlit, text, start, size_k, folder)
        if failure:
            return print("corpus: %s differs: %s" % (name, failure)) or 1
    return print("corpus: %d real files as expected" % len(rows)) or 0


def main():
    quorlit, options = str(Path(sys.argv[1]).absolute()), dict(zip(sys.argv[2::2], sys.argv[3::2]))
    seed, files = int(options.get("--seed", random.randrange(10**9))), int(options.get("--files", 300))
    if shutil.which("srec_cat") is None:
        return print("differential: skipped, srec_cat is not installed (Debian package srecord)") or 77
    if "--corpus" in options:
        with tempfile.TemporaryDirectory() as folder:
            return check_corpus(quorlit, options["--corpus"], folder)
    print("differential: seed %d (replay with --seed %d)" % (seed, seed))

    def check(index):  # each file has its own generator, so that two can run at once
        with tempfile.TemporaryDirectory() as folder:
            return check_file(quorlit, random.Random("%d/%d" % (seed, index)), folder)
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        results = list(pool.map(check, range(files)))
    for index, (_, failure) in enumerate(results):
        if failure:
            return print("differential: file %d differs: %s" % (index, failure)) or 1
    print("differential: %d files, %d windows compared with srec_cat, %d moved-record files, "
          "0 differences" % (files, 4 * files, sum(moved for moved, _ in results)))


if __name__ == "__main__":
    sys.exit(main())
