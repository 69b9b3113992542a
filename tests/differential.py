#!/usr/bin/env python3
# differential.py QUORLIT [--files N] [--seed S] [--corpus DIR [--part K/N]]: quorlit against srec_cat.
#
# Generated files: ascending data records of 1 to 255 bytes, gaps of none, a few bytes or over
# 64 KiB, type 04 and 02 bases, records at and across 64 KiB boundaries, type 05 records, blank
# lines, LF or CR LF, either case. Four windows of each (all the data, records cut at both edges, no
# data, any; in half the files the second and fourth have lengths in bytes), some with --pad or
# --fill, must give srec_cat's image (its -fill gives the padded one); the first, without --pad, with a
# check value at its end (crc32, stm32, crc16-xmodem, crc16-ccitt, sum32 or len32) as srec_cat's
# filters compute it. Half the files have their
# records reordered (shuffled, reversed, a few moved or repeated; run with --any-order), split into
# two to four files (by address or interleaved, each record with its base; merged, against srec_cat
# given the same files), or given again later with other values (run with --overlap=replace, against
# srec_cat -multiple, where the last value wins). In half the files the first window is also written
# with --hex: each record must hold 1 to 16 bytes within one 16-byte line, and quorlit, srec_cat and
# objcopy must read the HEX back as the binary image. With --corpus, the real files listed in
# DIR/INDEX.tsv (with --part K/N, every Nth from the Kth) are checked on their suggested windows
# instead, in binary and as HEX; the two whose records descend in it must stop with status 2, and
# give srec_cat's image with --any-order; each, split into files by address and interleaved, must
# merge back into its image. Each file's --info runs must be srec_info's Data ranges.
import concurrent.futures, random, re, shutil, subprocess, sys, tempfile
from pathlib import Path

DESCENDING = ("pic32mx_chipkit_MPIDE", "pic32mz_chipkit_MIKROE")


def record(type_, field, digits=""):
    body = bytes([len(digits) // 2, field >> 8 & 0xFF, field & 0xFF, type_]) + bytes.fromhex(digits)
    return ":%s%02X\n" % (body.hex().upper(), -sum(body) & 0xFF)


def generate(rng):  # HEX text, and the (address, length) of its data records
    text, records, base, segmented = "", [], -1 << 40, False
    address = rng.choice([rng.randrange(0x100000), rng.randrange(0xE0000000)])
    for _ in range(rng.randint(1, 40)):
        address += rng.choice([0, 0, 0, rng.randint(1, 40), rng.randint(0x10001, 0x30000)])
        if rng.random() < 0.2:  # end next to, or across, a 64 KiB boundary
            address = max(address, (address | 0xFFFF) - rng.randint(0, 20))
        data = rng.randbytes(rng.choice([1, 16, 32, 255, rng.randint(1, 255)]))
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
        records.append((address, data))
        address += len(data)
    text = (text + ":00000001FF\n").lower() if rng.random() < 0.5 else text + ":00000001FF\n"
    return text.replace("\n", "\r\n") if rng.random() < 0.5 else text, records


def with_base(address, data):  # a data record after its own base record
    return record(4, 0, "%04X" % (address >> 16)) + record(0, address & 0xFFFF, data.hex())


def reorder(rng, records):  # the data records shuffled, reversed, or a few moved or repeated, each with its base
    lines = [with_base(address, data) for address, data in records]
    how = rng.choice(["shuffle", "reverse", "move", "repeat"])
    if how == "shuffle":
        rng.shuffle(lines)
    if how == "reverse":
        lines.reverse()
    for _ in range(rng.randint(1, 3) if how in ("move", "repeat") else 0):
        line = lines[rng.randrange(len(lines))] if how == "repeat" else lines.pop(rng.randrange(len(lines)))
        lines.insert(rng.randint(0, len(lines)), line)
    return "".join(lines) + ":00000001FF\n"


def split(rng, records, interleave):  # two to four files, by address or interleaving the records, each record with its base
    parts = rng.randint(2, max(2, min(4, len(records))))
    lines = [with_base(address, data) for address, data in records]
    if not interleave:
        chunk = len(lines) // parts + 1
        files = [lines[i:i + chunk] for i in range(0, len(lines), chunk)]
    else:
        files = [lines[i::parts] for i in range(parts)]
    return ["".join(part) + ":00000001FF\n" for part in files]


def overwrite(rng, records):  # the file with a few records given again later with other data
    lines = [with_base(address, data) for address, data in records]
    for _ in range(rng.randint(1, 3)):
        address, data = rng.choice(records)
        lines.insert(rng.randint(0, len(lines)), with_base(address, rng.randbytes(len(data))))
    return "".join(lines) + ":00000001FF\n"


def size_text(size):  # a window size in bytes as quorlit takes it: KiB where it can be, else bytes
    return str(size // 1024) if size % 1024 == 0 and size else "0x%x" % size


# Check values at the image's end, and srec_cat's filter for each (%d: the stamp's offset).
STAMPS = [("crc32", 4, "-crc32-l-e %d"), ("stm32", 4, "-stm32-l-e %d"), ("crc16-xmodem", 2, "-crc16-l-e %d -xmodem"),
          ("crc16-ccitt", 2, "-crc16-l-e %d -broken"), ("sum32", 4, "-checksum-negative-l-e %d 4 4"),
          ("len32", 4, "-exclusive-length-l-e %d 4")]


def hex_differs(quorlit, names, start, size, folder, options, stamping, image):  # how --hex differs from the image, or None
    done = subprocess.run([quorlit, "--hex", *options, *stamping, "%x" % start, size_text(size), *names, "-o", "out.hex"],
                          cwd=folder, capture_output=True, text=True)
    text = Path(folder, "out.hex").read_text()
    if done.returncode != 0 or not text.endswith(":00000001FF\n"):
        return "status %d\n%s" % (done.returncode, done.stdout)
    upper, first, end = None, None, None
    lines = text.splitlines()
    last = len(lines) - 1
    for index, line in enumerate(lines):
        body = bytes.fromhex(line[1:])
        count, field, type_ = body[0], body[1] << 8 | body[2], body[3]
        # Where each type may stand: an input's start record (03, 05) just before the end-of-file
        # record, which is last; no 02.
        place = {0: index < last, 1: index == last, 3: index == last - 1, 4: True, 5: index == last - 1}
        good = line == line.upper() and len(body) == count + 5 and sum(body) & 0xFF == 0 and place.get(type_, False)
        # Data records of 1 to 16 bytes inside one 16-byte line, after an extended linear address.
        good = good and (type_ != 0 or upper is not None and 0 < count <= 16 - field % 16)
        if not good:
            return "record %s" % line
        upper = (body[4] << 8 | body[5]) << 16 if type_ == 4 else upper
        if type_ == 0:
            address = upper + field - start & 0xFFFFFFFF
            first = address if first is None else first
            end = address + count
    if first is None:
        return None if image.strip(b"\xff") == b"" else "no data records"
    # quorlit, srec_cat and objcopy read the HEX back: the image, holes as FF where fill is not written.
    readers = [[quorlit, "%x" % start, size_text(size), "out.hex", "back.bin"],
               ["srec_cat", "out.hex", "-intel", "-offset", "-%d" % start, "-fill", "0xFF", "0", str(len(image)), "-o",
                "back.bin", "-binary"],
               ["objcopy", "-I", "ihex", "-O", "binary", "--gap-fill", "0xFF", "out.hex", "back.bin"]]
    for reader in readers:
        subprocess.run(reader, cwd=folder, check=True, capture_output=True)
        back = Path(folder, "back.bin").read_bytes()
        expected = image[first:end] if reader[0] == "objcopy" else image
        if back != expected:
            return "%s reads %d bytes back, not the image's %d" % (reader[0], len(back), len(expected))


def compare(quorlit, texts, start, size, folder, options=(), stamp=None, hexed=False):  # what differs on one window, or None
    names = ["in.hex"] + ["part%d.hex" % i for i in range(1, len(texts))]
    for name, text in zip(names, texts):
        Path(folder, name).write_bytes(text.encode("latin-1"))
    stamping = ["--stamp", stamp[0] + "@end"] if stamp else []
    done = subprocess.run([quorlit, *options, *stamping, "%x" % start, size_text(size), *names, "-o", "out.bin"],
                          cwd=folder, capture_output=True, text=True)
    if stamp and done.returncode != 0:
        return "window %x %s %s: status %d\n%s" % (start, size_text(size), stamp[0], done.returncode, done.stdout)
    image = Path(folder, "out.bin").read_bytes()
    length = size if "--pad" in options else len(image) - (stamp[1] if stamp else 0)
    fill = ["-fill", "0x" + (options[-1] if "--fill" in options else "FF"), "0", str(length)] if length else []
    inputs = ["("] + [word for name in names for word in (name, "-intel")] + [")"]
    srec = ["srec_cat", "-multiple", *inputs, "-crop", str(start), str(start + size),
            "-offset", "-%d" % start] + fill + ["-o", "ref.bin", "-binary"]
    subprocess.run(srec, cwd=folder, check=True, capture_output=True)
    if stamp:  # over the final image: in one pipeline srec_cat sums both values of a replaced byte
        filters = (stamp[2] % length).split()
        srec = ["srec_cat", "ref.bin", "-binary", *filters, "-o", "stamped.bin", "-binary"]
        subprocess.run(srec, cwd=folder, check=True, capture_output=True)
    ref = Path(folder, "stamped.bin" if stamp else "ref.bin").read_bytes()
    if done.returncode != 0 or ref != image:
        return "window %x %s %s %s: status %d, %d bytes, srec_cat %d bytes\n%s" % (
            start, size_text(size), " ".join(options), " ".join(stamping), done.returncode, len(image), len(ref),
            done.stdout)
    failure = hex_differs(quorlit, names, start, size, folder, options, stamping, image) if hexed else None
    if failure:
        return "window %x %s %s %s --hex: %s" % (start, size_text(size), " ".join(options), " ".join(stamping), failure)


def info_differs(quorlit, folder):  # how the runs of --info differ from srec_info's Data ranges, or None
    mine = subprocess.run([quorlit, "--info", "in.hex"], cwd=folder, capture_output=True, text=True).stdout
    theirs = subprocess.run(["srec_info", "in.hex", "-intel"], cwd=folder, capture_output=True, text=True).stdout
    ours = re.findall(r"^([0-9a-f]{8})-([0-9a-f]{8}) ", mine, re.M)
    ours = [(int(first, 16), int(last, 16)) for first, last in ours]
    data = theirs.split("Data:")[-1] if "Data:" in theirs else ""
    ref = [(int(first, 16), int(last, 16)) for first, last in re.findall(r"([0-9A-F]+) - ([0-9A-F]+)", data)]
    if ours != ref:
        return "--info runs %s, srec_info %s\n%s" % (ours, ref, mine)


def check_file(quorlit, rng):  # what differs, or None
    text, records = generate(rng)
    lo, hi = records[0][0], records[-1][0] + len(records[-1][1])
    # About half the files in order; the rest reordered, split into several files, or with
    # values that later records replace.
    how = rng.choice(["order", "order", "order", "reorder", "split", "replace"])
    texts = [reorder(rng, records) if how == "reorder" else text]
    texts = split(rng, records, rng.random() < 0.5) if how == "split" and len(records) > 1 else texts
    texts = [overwrite(rng, records)] if how == "replace" else texts
    inside = sorted(rng.randint(a, a + len(d) - 1) for a, d in rng.sample(records, min(2, len(records))))
    all_data = (lo, ((hi - lo) // 1024 + 2) * 1024)  # with room for a check value after the data
    cut = (inside[0], ((inside[-1] - inside[0]) // 1024 + 1) * 1024)
    empty = (hi + rng.randint(0, 5000), rng.randint(1, 64) * 1024)
    anywhere = (rng.randint(max(lo - 0x20000, 0), hi), rng.randint(1, 300) * 1024)
    if rng.random() < 0.5:  # lengths in bytes: a window that ends inside a record, and any length
        cut = (inside[0], inside[-1] - inside[0] + 1)
        anywhere = (anywhere[0], rng.randint(1, 0x40000))
    windows = [all_data, cut, empty, anywhere]
    hexed = rng.random() < 0.5
    for index, (start, size) in enumerate(windows):
        options = rng.choice([(), (), ("--pad",), ("--fill", "00"), ("--pad", "--fill", "%02X" % rng.randrange(256))])
        if how == "reorder":
            options = ("--any-order",) + options
        if how == "replace":
            options = ("--overlap=replace",) + options
        # The window of all the data, with room after it, takes a check value at the image's end.
        stamp = rng.choice(STAMPS) if index == 0 and "--pad" not in options else None
        with tempfile.TemporaryDirectory() as folder:
            # In half the files, the same window as Intel HEX, read back by three readers.
            failure = compare(quorlit, texts, start, size, folder, options, stamp, hexed=index == 0 and hexed)
            if index == 0 and len(texts) == 1 and not failure:  # the map of the file, once
                failure = info_differs(quorlit, folder)
        if failure:
            return failure + "\n--\n".join(texts)


def data_records(text):  # the (address, data) of a file's data records up to its end-of-file record
    records, base, segmented = [], 0, False
    for line in text.split("\n"):
        if not line.strip().startswith(":"):
            continue
        body = bytes.fromhex(line.strip()[1:])
        field, type_, data = body[1] << 8 | body[2], body[3], body[4:-1]
        if type_ == 1:
            break
        if type_ in (2, 4):
            segmented = type_ == 2
            base = (data[0] << 8 | data[1]) << (4 if segmented else 16)
        if type_ == 0 and data:
            # Under a segment base, the bytes past the segment's end wrap to its start.
            run = min(len(data), 0x10000 - field) if segmented else len(data)
            records.append((base + field & 0xFFFFFFFF, data[:run]))
            if run < len(data):
                records.append((base, data[run:]))
    return records


def merges_back(quorlit, text, start, size, folder, rng):  # what differs when the file, split, is merged, or None
    failure = compare(quorlit, [text], start, size, folder, ("--any-order",))
    whole = Path(folder, "out.bin").read_bytes()
    for interleave in (False, True):
        parts = split(rng, data_records(text), interleave)
        failure = failure or compare(quorlit, parts, start, size, folder)
        if not failure and Path(folder, "out.bin").read_bytes() != whole:
            failure = "not the image of the whole file"
        if failure:
            return "split into %d files: %s" % (len(parts), failure)


def check_corpus(quorlit, corpus, folder, part):  # part "K/N": every Nth file from the Kth on
    if not Path(corpus, "INDEX.tsv").exists():
        print("corpus: skipped, no firmware corpus at %s" % corpus)
        return 77
    first, step = (int(number) for number in part.split("/"))
    rows = [line.split("\t") for line in Path(corpus, "INDEX.tsv").read_text().splitlines()[1:]][first::step]
    for name, *_, start, size_k, _ in rows:
        text = Path(corpus, name).read_bytes().decode("latin-1")
        hexed = not name.startswith(DESCENDING)
        failure = compare(quorlit, [text], int(start, 16), int(size_k) * 1024, folder, hexed=hexed) or info_differs(quorlit, folder) or ""
        if name.startswith(DESCENDING):  # refused as they stand, converted with --any-order
            refused = "status 2," in failure and "lower address" in failure
            failure = "" if refused else failure or "converted without --any-order"
            failure = failure or compare(quorlit, [text], int(start, 16), int(size_k) * 1024, folder, ("--any-order",), hexed=True)
        failure = failure or merges_back(quorlit, text, int(start, 16), int(size_k) * 1024, folder, random.Random(name))
        # A check value at the end of the image in a window of twice the size.
        stamp = STAMPS[len(name) % len(STAMPS)]
        order = ("--any-order",) if name.startswith(DESCENDING) else ()
        failure = failure or compare(quorlit, [text], int(start, 16), int(size_k) * 2048, folder, order, stamp)
        if failure:
            print("corpus: %s differs: %s" % (name, failure))
            return 1
    print("corpus: %d real files as expected, as HEX too, --info as srec_info, split files merged back" % len(rows))
    return 0


def main():
    quorlit, options = str(Path(sys.argv[1]).absolute()), dict(zip(sys.argv[2::2], sys.argv[3::2]))
    seed, files = int(options.get("--seed", random.randrange(10**9))), int(options.get("--files", 120))
    if shutil.which("srec_cat") is None:
        print("differential: skipped, srec_cat is not installed (Debian package srecord)")
        return 77
    if "--corpus" in options:
        with tempfile.TemporaryDirectory() as folder:
            return check_corpus(quorlit, options["--corpus"], folder, options.get("--part", "0/1"))
    print("differential: seed %d (replay with --seed %d)" % (seed, seed))
    with concurrent.futures.ThreadPoolExecutor(2) as pool:  # a generator per file: two at once
        results = pool.map(lambda i: check_file(quorlit, random.Random("%d/%d" % (seed, i))), range(files))
        failures = [(index, failure) for index, failure in enumerate(results) if failure]
    if failures:
        print("differential: file %d differs: %s" % failures[0])
        return 1
    print("differential: %d files, %d windows compared with srec_cat (about %d as HEX too) and the --info maps with "
          "srec_info, 0 differences" % (files, 4 * files, files // 2))


if __name__ == "__main__":
    sys.exit(main())
