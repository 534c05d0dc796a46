#!/usr/bin/env python3
"""The post-link step that fills a mingw program's delay-import directory (delay_import.py
fill), on a delay-loading program of this build and on copies of it with one fault each.

    delay_import_test.py --program EXE"""

import argparse
import pathlib
import struct
import sys
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "cmake"))
import delay_import  # noqa: E402

PROGRAM = None


def set_directory(data, table):
    image = delay_import.Image(bytes(data))
    struct.pack_into("<II", data, image.directories_at + 8 * delay_import.DELAY_DIRECTORY, *table)


class Fill(unittest.TestCase):
    def test_the_built_program_has_its_table_in_the_directory(self):
        image = delay_import.Image(pathlib.Path(PROGRAM).read_bytes())
        table = delay_import.delay_table(image)
        self.assertIsNotNone(table)
        self.assertEqual(image.directory(delay_import.DELAY_DIRECTORY), table)
        # The descriptors and their zero end.
        self.assertEqual(table[1] % delay_import.DESCRIPTOR_SIZE, 0)
        self.assertGreater(table[1], delay_import.DESCRIPTOR_SIZE)

    def test_faults(self):
        built = bytearray(pathlib.Path(PROGRAM).read_bytes())
        image = delay_import.Image(bytes(built))
        start, size = delay_import.delay_table(image)
        first = image.offset(start, delay_import.DESCRIPTOR_SIZE)
        end = image.offset(start + size - delay_import.DESCRIPTOR_SIZE,
                           delay_import.DESCRIPTOR_SIZE)

        def empty_directory(data):
            set_directory(data, (0, 0))

        def elsewhere(data):
            set_directory(data, (start + delay_import.DESCRIPTOR_SIZE, size))

        def end_not_zero(data):
            empty_directory(data)
            data[end] = 1

        def addresses_not_rvas(data):
            empty_directory(data)
            struct.pack_into("<I", data, first, 0)

        def unnamed(data):
            empty_directory(data)
            struct.pack_into("<I", data, first + 4, start)  # points at the descriptor itself

        rows = [
            ("empty directory", empty_directory, None),
            ("directory already elsewhere", elsewhere,
             "the delay-import directory is already set elsewhere"),
            ("end not zero", end_not_zero, "the end of the delay-import table is not zero"),
            ("addresses instead of RVAs", addresses_not_rvas,
             "delay-import descriptor at 0x%x is not RVA-based" % start),
            ("no DLL name", unnamed, "delay-import descriptor at 0x%x names no DLL" % start),
        ]
        with tempfile.TemporaryDirectory() as work:
            for name, change, failure in rows:
                with self.subTest(name):
                    data = bytearray(built)
                    change(data)
                    path = pathlib.Path(work) / "program.exe"
                    path.write_bytes(bytes(data))
                    if failure is None:
                        delay_import.fill(str(path))
                        self.assertEqual(path.read_bytes(), bytes(built))
                    else:
                        with self.assertRaises(delay_import.Failure) as raised:
                            delay_import.fill(str(path))
                        self.assertEqual(str(raised.exception), failure)
                        self.assertEqual(path.read_bytes(), bytes(data))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    options, rest = parser.parse_known_args()
    PROGRAM = options.program
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
