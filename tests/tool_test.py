#!/usr/bin/env python3
# End-to-end table: runs QUORLIT (argv[1]; QUORLIT_RUNNER may name a wrapper such as wine, and
# QUORLIT_CRLF=1 expects CR LF console line ends) in a fresh folder per case and checks standard
# output, exit status, image and the input left as it was; again with the HEX in lower case, CR LF.
import os, shlex, subprocess, sys, tempfile, unittest
from pathlib import Path
from differential import record as r

EXE, RUNNER = str(Path(sys.argv.pop(1)).absolute()), shlex.split(os.environ.get("QUORLIT_RUNNER", ""))
EXT, END, S, W = r(4, 0, "1D00"), ":00000001FF\n", 0x1D00E000, "1d00e000 256 in.hex out.bin"
LOWER, BAD = "\nAttempt to use lower address error\nin.hex:", "\nCheck sum or other error error\nin.hex:"
TOO_LARGE, ENDS = "\nAttempt to grow the image past 2 GiB error\n", "the file ends before its end-of-file record"
PROBLEM, OPTION = "\nProblem with flash_start address ", "\nProblem with option "
SAME, BELOW = "\nInput and output are the same file ", "record at %x starts below the image's end at %x"
USAGE = ("\nQuorlit Converts 32 bit files for flash Version 1.0\nIntel HEX: https://en.wikipedia"
         ".org/wiki/Intel_HEX  Binary image: https://en.wikipedia.org/wiki/Binary_file\n\nExample:"
         "\nQuorlit 1d00e000 256 hexfile binfile\nWhere 1d00e000 is the start address in hex "
         "(without the 0x)\n      256 is the size of flash in K")
HELP = (USAGE + "\n\nOptions, before the start address:\n  --pad      pad the image with fill up to the window's "
        "size\n  --fill XX  fill holes with the byte XX (two hex digits) instead of FF\n")


def report(start, count, out="out.bin"):
    return "\n\n%s created \nFrom %x to %x \nSize %x (%u)" % (out, start, start + count & 0xFFFFFFFF, count, count)


def image(*parts):  # hex digits, or a number of 0xFF fill bytes
    return b"".join(bytes.fromhex(p) if isinstance(p, str) else b"\xff" * p for p in parts)


# Each case: name, arguments, HEX text, standard output (the report follows where an image is
# expected), exit status, image (None: no out.bin).
CASES = [
    ("descending record", W, EXT + r(0, 0xE010, "0102") + r(0, 0xE000, "03") + END,
     LOWER + "3: " + BELOW % (S, S + 18), 2, image(16, "0102")),
    ("overlapping record", W, EXT + r(0, 0xE000, "0102") + r(0, 0xE001, "03") + END,
     LOWER + "3: " + BELOW % (S + 1, S + 2), 2, image("0102")),
    ("bad checksum on third record", W, EXT + r(0, 0xE000, "01") + r(0, 0xE002, "02") + ":01E0040003F0\n" + END,
     BAD + "4: checksum mismatch", 2, image("01FF02")),
    ("no end-of-file record", W, EXT + r(0, 0xE000, "01"), BAD + "3: " + ENDS, 2, image("01")),
    ("input ends inside a record", W, EXT + ":04E000000102", BAD + "2: " + ENDS, 2, b""),
    ("letter in data", W, EXT + ":04E00000010203x412\n" + END, BAD + "2: 'x' is not a hexadecimal digit", 2, b""),
    ("line end in a record", W, EXT + ":04E0000001\n" + END, BAD + "2: a character is not a hexadecimal digit", 2,
     b""),
    ("linear base of 4 bytes", W, r(4, 0, "1D000000") + END, BAD + "1: extended address record of 4 bytes", 2, b""),
    ("segment base of 3 bytes", W, r(2, 0, "100000") + END, BAD + "1: extended address record of 3 bytes", 2, b""),
    ("lost record mark", W, EXT + "01E00000011E\n" + END, BAD + "2: text between records", 2, b""),
    ("text after a checksum", W, EXT + "\n \t\n:01E00000011E55\n" + END, BAD + "4: text between records", 2,
     image("01")),
    ("header, end of file without checksum", W, "junk\n\xff" + EXT + r(0, 0xE000, "01") + ":00000001", "", 0,
     image("01")),
    ("data before any base record", W, r(0, 0xE000, "01") + END, "", 0, b""),
    ("records without image data", "1d000000 64 in.hex out.bin", EXT + r(3, 0, "00001234") + r(0, 0x10, "01") +
     r(5, 0, "1D000000") + r(0, 0, "") + r(1, 0, "00") + r(0x80, 0x100, "AA") + r(0, 0x11, "02") + END, "", 0,
     image(16, "0102")),
    ("segment wraps at 64 KiB", "10000 1 in.hex out.bin", r(2, 0, "1000") + r(0, 0xFFFE, "010203") + END, "", 0,
     image("03")),
    ("window across 2^32", "FFFFFFF0 1 in.hex out.bin", r(4, 0, "FFFF") + r(0, 0xFFF8, "0102") + r(4, 0, "0000") +
     r(0, 0, "03") + END, "", 0, image(8, "0102", 6, "03")),
    ("record across 2^32", "0 1 in.hex out.bin", r(4, 0, "FFFF") + r(0, 0xFFFE, "01020304") + END, "", 0,
     image("0304")),
    ("size abc is 0", "1d00e000 abc in.hex out.bin", EXT + r(0, 0xE000, "01") + END, "", 0, b""),
    ("negative size, data 2 GiB in", "1d00e000 -1 in.hex out.bin", EXT + r(0, 0xE000, "01") + r(4, 0, "9D00") +
     r(0, 0xE000, "02") + END, TOO_LARGE, 2, image("01")),
    ("data 2 GiB in", "0 3145728 in.hex out.bin", r(4, 0, "8000") + r(0, 0, "AABB") + END, TOO_LARGE, 2, b""),
    ("pad", "--pad 1d00e000 1 in.hex out.bin", EXT + r(0, 0xE000, "01") + END, "", 0, image("01", 1023)),
    ("no pad after an error", "--pad 1d00e000 1 in.hex out.bin", EXT + r(0, 0xE000, "01"), BAD + "3: " + ENDS, 2,
     image("01")),
    ("no pad past 2 GiB", "--pad 0 3145728 in.hex out.bin", END, TOO_LARGE, 2, b""),
    ("fill 00", "--fill 00 1d00e000 1 in.hex out.bin", EXT + r(0, 0xE000, "01") + r(0, 0xE002, "02") + END, "", 0,
     image("010002")),
    ("pad and fill a5", "--fill a5 --pad 1d00e000 1 in.hex out.bin", EXT + r(0, 0xE001, "01") + END, "", 0,
     image("A501" + "A5" * 1022)),
    ("unknown option", "--size 0 1 in.hex out.bin", END, OPTION + "--size", 1, None),
    ("fill of 3 digits", "--fill 1FF 0 1 in.hex out.bin", END, OPTION + "1FF", 1, None),
    ("fill without a value", "--pad --pad --pad --fill", "", OPTION + "--fill", 1, None),
    ("help", "--help", "", HELP, 0, None),
    ("version", "--version", "", "quorlit 1.0.0\n", 0, None),
    ("help and more", "--help 0", "", USAGE, 1, None),
    ("three arguments after an option", "--pad 1d00e000 256 in.hex", "", USAGE, 1, None),
    ("letter x", "0x1000 256 in.hex out.bin", "", PROBLEM + "0x1000", 1, None),
    ("nine digits", "01d00e000 256 in.hex out.bin", "", PROBLEM + "01d00e000", 1, None),
    ("empty start", "'' 256 in.hex out.bin", "", PROBLEM, 1, None),
    ("missing input", "0 1 missing.hex out.bin", "", "\nCannot open input file missing.hex", 1, None),
    ("folder as input", "0 1 folder out.bin", END, "\nCannot open input file folder", 1, None),
    ("output folder missing", "0 1 in.hex no/out.bin", END, "\nCannot create output file no/out.bin", 1, None),
    ("output is the input", "0 1 in.hex in.hex", END, SAME + "in.hex", 1, None),
    ("output is the input, ./", "0 1 ./in.hex in.hex", END, SAME + "in.hex", 1, None),
    ("output links to the input", "0 1 in.hex 链接.hex", END, SAME + "链接.hex", 1, None),
    ("file name in CJK", "1d00e000 256 链接.hex out.bin", EXT + r(0, 0xE000, "01") + END, "", 0, image("01")),
    ("input is a hard link", "0 1 hard.hex in.hex", END, SAME + "in.hex", 1, None),
    ("image write fails", "1d00e000 256 in.hex /dev/full", EXT + r(0, 0xE000, "01") + END,
     report(S, 1, "/dev/full") + "\nError writing /dev/full", 2, None),
    ("report write fails", "0 1 in.hex /dev/null >/dev/full", END, "", 2, None),
]


def run(args, hex_text):
    # Runs a command line in a fresh folder: (stdout, status, image or None, input, stderr). Output
    # goes to files, not pipes, which programs that the command leaves running could hold open.
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / "in.hex").write_bytes(hex_text.encode("latin-1"))
        os.symlink("in.hex", Path(folder, "链接.hex")), os.link(Path(folder, "in.hex"), Path(folder, "hard.hex"))
        os.mkdir(Path(folder, "folder"))
        command = shlex.join(RUNNER + [EXE]) + " >stdout 2>stderr " + args
        status = subprocess.run(command, shell=True, cwd=folder).returncode
        read = lambda name: (Path(folder) / name).read_bytes() if (Path(folder) / name).exists() else None
        return read("stdout").decode(), status, read("out.bin"), read("in.hex").decode("latin-1"), read("stderr")


class Table(unittest.TestCase):
    def test_cases(self):
        for name, args, hex_text, out, status, image_bytes in CASES:
            if RUNNER and "/dev/" in args:
                continue
            out += "" if image_bytes is None else report(int(shlex.split(args)[-4], 16), len(image_bytes))
            out = out.replace("\n", "\r\n") if os.environ.get("QUORLIT_CRLF") else out
            for text in (hex_text, hex_text.lower().replace("\n", "\r\n")):
                with self.subTest(name, hex=text):
                    got = run(args, text)
                    self.assertEqual(got[:4], (out, status, image_bytes, text))
                    self.assertTrue(RUNNER or not got[4], got[4])


if __name__ == "__main__":
    unittest.main()
