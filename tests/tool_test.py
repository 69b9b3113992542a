#!/usr/bin/env python3
"""End-to-end table: runs QUORLIT (argv[1]; QUORLIT_RUNNER may name a wrapper such as wine, and
QUORLIT_CRLF=1 expects CR LF console line ends) in a fresh folder per case and checks standard
output, exit status, image and the input left as it was; again with the HEX in lower case, CR LF."""
import os, shlex, subprocess, sys, tempfile, unittest
from pathlib import Path
from differential import record as r

EXE, RUNNER = str(Path(sys.argv.pop(1)).absolute()), shlex.split(os.environ.get("QUORLIT_RUNNER", ""))
EXT, END, S, W = r(4, 0, "1D00"), ":00000001FF\n", 0x1D00E000, "1d00e000 256 in.hex out.bin"
LOWER, BAD = "\nAttempt to use lower address error\n", "\nCheck sum or other error error\n"
PROBLEM = "\nProblem with flash_start address "
USAGE = ("\nQuorlit Converts 32 bit files for flash Version 1.0\nIntel HEX: https://en.wikipedia"
         ".org/wiki/Intel_HEX  Binary image: https://en.wikipedia.org/wiki/Binary_file\n\nExample:"
         "\nQuorlit 1d00e000 256 hexfile binfile\nWhere 1d00e000 is the start address in hex "
         "(without the 0x)\n      256 is the size of flash in K")


def report(start, count, out="out.bin"):
    return "\n\n%s created \nFrom %x to %x \nSize %x (%u)" % (out, start, start + count & 0xFFFFFFFF, count, count)


def image(*parts):  # hex digits, or a number of 0xFF fill bytes
    return b"".join(bytes.fromhex(p) if isinstance(p, str) else b"\xff" * p for p in parts)


CASES = [  # name, arguments, HEX text, standard output, exit status, image (None: no out.bin)
    ("one record", W, EXT + r(0, 0xE000, "01020304") + END,
     "\n\nout.bin created \nFrom 1d00e000 to 1d00e004 \nSize 4 (4)", 0, image("01020304")),
    ("descending record", W, EXT + r(0, 0xE010, "0102") + r(0, 0xE000, "03") + END, LOWER + report(S, 18), 2,
     image(16, "0102")),
    ("overlapping record", W, EXT + r(0, 0xE000, "0102") + r(0, 0xE001, "03") + END, LOWER + report(S, 2), 2,
     image("0102")),
    ("bad checksum on third record", W, EXT + r(0, 0xE000, "01") + r(0, 0xE002, "02") + ":01E0040003F0\n" + END,
     BAD + report(S, 3), 2, image("01FF02")),
    ("no end-of-file record", W, EXT + r(0, 0xE000, "01"), BAD + report(S, 1), 2, image("01")),
    ("letter in data", W, EXT + ":04E00000010203G412\n" + END, BAD + report(S, 0), 2, b""),
    ("input ends inside a record", W, EXT + ":04E000000102", BAD + report(S, 0), 2, b""),
    ("linear base with 4 bytes", W, r(4, 0, "1D000000") + END, BAD + report(S, 0), 2, b""),
    ("segment base with 1 byte", W, r(2, 0, "10") + END, BAD + report(S, 0), 2, b""),
    ("text before, end of file without checksum", W, "junk\n\xff" + EXT + r(0, 0xE000, "01") + ":00000001",
     report(S, 1), 0, image("01")),
    ("data before any base record", W, r(0, 0xE000, "01") + END, report(S, 0), 0, b""),
    ("records without image data", "1d000000 64 in.hex out.bin", EXT + r(3, 0, "00001234") + r(0, 0x10, "01") +
     r(5, 0, "1D000000") + r(0, 0, "") + r(1, 0, "00") + r(0x80, 0x100, "AA") + r(0, 0x11, "02") + END,
     report(0x1D000000, 18), 0, image(16, "0102")),
    ("segment wraps at 64 KiB", "10000 1 in.hex out.bin", r(2, 0, "1000") + r(0, 0xFFFE, "010203") + END,
     report(0x10000, 1), 0, image("03")),
    ("window across 2^32", "FFFFFFF0 1 in.hex out.bin", r(4, 0, "FFFF") + r(0, 0xFFF8, "0102") +
     r(4, 0, "0000") + r(0, 0, "03") + END, report(0xFFFFFFF0, 17), 0, image(8, "0102", 6, "03")),
    ("record across 2^32", "0 1 in.hex out.bin", r(4, 0, "FFFF") + r(0, 0xFFFE, "01020304") + END,
     report(0, 2), 0, image("0304")),
    ("size abc is 0", "1d00e000 abc in.hex out.bin", EXT + r(0, 0xE000, "01") + END, report(S, 0), 0, b""),
    ("negative size stops at 2 GiB", "1d00e000 -1 in.hex out.bin", EXT + r(0, 0xE000, "01") + r(4, 0, "9D00") +
     r(0, 0xE000, "02") + END, report(S, 1), 0, image("01")),
    ("three arguments", "1d00e000 256 in.hex", "", USAGE, 1, None),
    ("0x prefix", "0x1d00e000 256 in.hex out.bin", "", PROBLEM + "0x1d00e000", 1, None),
    ("letter x", "0x1000 256 in.hex out.bin", "", PROBLEM + "0x1000", 1, None),
    ("nine digits", "01d00e000 256 in.hex out.bin", "", PROBLEM + "01d00e000", 1, None),
    ("leading blank", "' 1000' 256 in.hex out.bin", "", PROBLEM + " 1000", 1, None),
    ("empty start", "'' 256 in.hex out.bin", "", PROBLEM, 1, None),
    ("missing input", "0 1 missing.hex out.bin", "", "\nCannot open input file missing.hex", 1, None),
    ("output folder missing", "0 1 in.hex no/out.bin", END, "\nCannot create output file no/out.bin", 1, None),
    ("image write fails", "1d00e000 256 in.hex /dev/full", EXT + r(0, 0xE000, "01") + END,
     report(S, 1, "/dev/full") + "\nError writing /dev/full", 2, None),
    ("report write fails", "0 1 in.hex out.bin >/dev/full", END, "", 2, b""),
]


def run(args, hex_text):
    """Runs a command line in a fresh folder: (stdout, status, image or None, input, stderr)."""
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / "in.hex").write_bytes(hex_text.encode("latin-1"))
        done = subprocess.run(shlex.join(RUNNER + [EXE]) + " " + args, shell=True, cwd=folder, capture_output=True)
        out = Path(folder) / "out.bin"
        return (done.stdout.decode("latin-1"), done.returncode, out.read_bytes() if out.exists() else None,
                (Path(folder) / "in.hex").read_bytes().decode("latin-1"), done.stderr)


class Table(unittest.TestCase):
    def test_cases(self):
        for name, args, hex_text, out, status, image_bytes in CASES:
            if RUNNER and "/dev/" in args:
                continue
            out = out.replace("\n", "\r\n") if os.environ.get("QUORLIT_CRLF") else out
            for text in (hex_text, hex_text.lower().replace("\n", "\r\n")):
                with self.subTest(name, hex=text):
                    got = run(args, text)
                    self.assertEqual(got[:4], (out, status, image_bytes, text))
                    self.assertTrue(RUNNER or not got[4], got[4])


if __name__ == "__main__":
    unittest.main()
