#!/usr/bin/env python3
"""Differential test: quorlit against srec_cat on generated HEX files and windows.

    differential.py QUORLIT [--files N] [--seed S] [--corpus DIR]

Each file holds ascending data records of 1 to 255 bytes with gaps of none, a few bytes or more
than 64 KiB, bases set by type 04 and type 02 records, records across 64 KiB boundaries, type 03
and 05 records, stray text, and LF or CR LF, upper or lower case. Each window's image must
match srec_cat's; a copy of the file with one record moved down or overlapping must stop with
status 2 and a prefix of the image. Prints the seed, so a failure can be replayed.

With --corpus, it checks instead the real firmware files listed in DIR/INDEX.tsv, each on its
suggested window; the two whose records descend inside it must stop with status 2.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile


def record(type_, field, data):
    body = bytes([len(data), field >> 8, field & 0xFF, type_]) + data
    return ":" + (body + bytes([-sum(body) & 0xFF])).hex().upper()


def data_records(rng):
    """Ascending (address, bytes) pairs, all below 0xF0000000."""
    address, records = rng.choice([rng.randrange(0, 0x100000), rng.randrange(0, 0xE0000000)]), []
    for _ in range(rng.randint(1, 40)):
        address += rng.choice([0, 0, 0, rng.randint(1, 40), rng.randint(0x10001, 0x30000)])
        if rng.random() < 0.2:  # end next to, or across, a 64 KiB boundary
            address = max(address, (address | 0xFFFF) - rng.randint(0, 20))
        data = rng.randbytes(rng.choice([1, 16, 32, 255, rng.randint(1, 255)]))
        records.append((address, data))
        address += len(data)
    return records


def render(rng, records):
    """HEX text of the records, with base records where needed and noise between records; and
    the same text for srec_cat, which wraps every record at a 64 KiB boundary: there, records
    that cross one under a linear base are split in two."""
    lines, peer, base, segmented = [], [], -1 << 40, False
    for address, data in records:
        # Under a segment base a record must end inside its segment: addresses wrap there.
        end = address - base + len(data)
        if not 0 <= address - base <= 0xFFFF or segmented and end > 0x10000 or rng.random() < 0.05:
            segment = min(address >> 4, 0xFFFF) & ~rng.choice([0, 0xFFF])
            segmented = address - (segment << 4) + len(data) <= 0x10000 and rng.random() < 0.5
            if segmented:
                base = segment << 4
                lines.append(record(2, 0, segment.to_bytes(2, "big")))
            else:
                base = address & 0xFFFF0000
                lines.append(record(4, 0, (address >> 16).to_bytes(2, "big")))
            peer.append(lines[-1])
        if rng.random() < 0.1:
            lines.append(record(rng.choice([3, 5]), 0, rng.randbytes(4)))
        if rng.random() < 0.1:
            lines.append(rng.choice(["", "  ", "; text between records", "\t"]))
        lines.append(record(0, address - base, data))
        split = 0x10000 - (address - base)
        if split >= len(data):
            peer.append(lines[-1])
        else:
            peer += [record(0, address - base, data[:split]),
                     record(4, 0, (base + 0x10000 >> 16).to_bytes(2, "big")),
                     record(0, 0, data[split:]), record(4, 0, (base >> 16).to_bytes(2, "big"))]
    line_end, lower = rng.choice(["\n", "\r\n"]), rng.random() < 0.5
    texts = [line_end.join(text + [":00000001FF"]) + line_end for text in (lines, peer)]
    return [text.lower() for text in texts] if lower else texts


def windows(rng, records):
    lo, hi = records[0][0], records[-1][0] + len(records[-1][1])
    inside = [rng.randint(a, a + len(d) - 1) for a, d in rng.sample(records, min(2, len(records)))]
    cut_start = min(inside)
    return [
        (lo, (hi - lo) // 1024 + 1),  # all the data
        (cut_start, (max(inside) - cut_start) // 1024),  # cut records at either edge
        (hi + rng.randint(0, 5000), rng.randint(0, 64)),  # no data
        (rng.randint(max(lo - 0x20000, 0), hi), rng.randint(1, 300)),  # odd start and size
    ]


def run(quorlit, hex_text, start, size_k, folder):
    with open(os.path.join(folder, "in.hex"), "w", newline="") as f:
        f.write(hex_text)
    out = os.path.join(folder, "out.bin")
    done = subprocess.run([quorlit, "%x" % start, str(size_k), f.name, out],
                          capture_output=True, text=True)
    with open(out, "rb") as f:
        return done.returncode, done.stdout, f.read()


def srec_image(hex_text, start, size_k, length, folder):
    ref, hex_path = os.path.join(folder, "ref.bin"), os.path.join(folder, "peer.hex")
    with open(hex_path, "w", newline="") as f:
        f.write(hex_text)
    end = start + size_k * 1024
    fill = ["-fill", "0xFF", "0", str(length)] if length else []  # "0 0" would mean 4 GiB
    subprocess.run(["srec_cat", "-multiple", hex_path, "-intel", "-crop", str(start), str(end),
                    "-offset", "-%d" % start] + fill + ["-o", ref, "-binary"],
                   check=True, capture_output=True)
    with open(ref, "rb") as f:
        return f.read()


def compare(quorlit, text, peer_text, start, size_k, folder):
    """Runs both tools on one window; returns what differs, or None."""
    status, stdout, image = run(quorlit, text, start, size_k, folder)
    ref = srec_image(peer_text, start, size_k, len(image), folder) if size_k else b""
    if status != 0 or ref[:len(image)] != image or ref[len(image):].strip(b"\xff"):
        return "window %x %dK: status %d, %d bytes, srec_cat %d bytes\n%s" % (
            start, size_k, status, len(image), len(ref), stdout)
    return None


def check_corpus(quorlit, corpus, folder):
    if not os.path.exists(os.path.join(corpus, "INDEX.tsv")):
        print("corpus: skipped, no firmware corpus at %s" % corpus)
        return 77
    with open(os.path.join(corpus, "INDEX.tsv")) as index:
        rows = [line.split("\t") for line in index.read().splitlines()[1:]]
    for name, *_, start, size_k, _ in rows:
        with open(os.path.join(corpus, name), newline="") as f:
            text = f.read()
        if name.startswith(("pic32mx_chipkit_MPIDE", "pic32mz_chipkit_MIKROE")):
            status, stdout, _ = run(quorlit, text, int(start, 16), int(size_k), folder)
            failure = None if status == 2 and "lower address" in stdout else stdout
        else:
            failure = compare(quorlit, text, text, int(start, 16), int(size_k), folder)
        if failure:
            print("corpus: %s differs: %s" % (name, failure))
            return 1
    print("corpus: %d real files as expected" % len(rows))
    return 0


def check_file(quorlit, rng, folder):
    """Returns (windows compared, order variants checked, failure text or None)."""
    records = data_records(rng)
    text, peer_text = render(rng, records)
    for start, size_k in windows(rng, records):
        failure = compare(quorlit, text, peer_text, start, size_k, folder)
        if failure:
            return 0, 0, failure + text
    if len(records) < 2:
        return 4, 0, None
    lo, hi = records[0][0], records[-1][0] + len(records[-1][1])
    _, _, full = run(quorlit, text, lo, (hi - lo) // 1024 + 1, folder)
    k = rng.randrange(1, len(records))
    address, data = records[k - 1]
    moved = records[:k] + [(rng.randint(lo, address + len(data) - 1), records[k][1])]
    moved += records[k + 1:]
    status, stdout, image = run(quorlit, render(rng, moved)[0], lo, (hi - lo) // 1024 + 1, folder)
    if status != 2 or not full.startswith(image) or "lower address" not in stdout:
        return 4, 0, "moved record: status %d, %d bytes\n%s" % (status, len(image), stdout)
    return 4, 1, None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quorlit")
    parser.add_argument("--files", type=int, default=300)
    parser.add_argument("--seed", type=int, default=random.SystemRandom().randrange(10**9))
    parser.add_argument("--corpus")
    args = parser.parse_args()
    if shutil.which("srec_cat") is None:
        print("differential: skipped, srec_cat is not installed (Debian package srecord)")
        return 77
    with tempfile.TemporaryDirectory() as folder:
        return check_corpus(args.quorlit, args.corpus, folder) if args.corpus else \
            check_generated(args, folder)


def check_generated(args, folder):
    print("differential: seed %d (replay with --seed %d)" % (args.seed, args.seed))
    rng = random.Random(args.seed)
    windows_compared = variants = 0
    for index in range(args.files):
        compared, moved, failure = check_file(args.quorlit, rng, folder)
        windows_compared += compared
        variants += moved
        if failure:
            print("differential: file %d differs: %s" % (index, failure))
            return 1
    print("differential: %d files, %d windows compared with srec_cat, %d moved-record files, "
          "0 differences" % (args.files, windows_compared, variants))
    return 0


if __name__ == "__main__":
    sys.exit(main())
