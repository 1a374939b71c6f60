#!/usr/bin/env python3
"""The soak's checker must see what it is there to see: a checker that
passed a broken folder would hide every fault the soak provokes. Each row
breaks a clean folder in one way and names the violation it must give."""

import os
import sys
import tempfile
import unittest

# The source tree stays as it is: no compiled copies beside it.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak  # noqa: E402


def canonical(number):
    return b"\xff\xd8\xff\xfe picture %d \xff\xd9" % number


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def picture(folder, name):
    return os.path.join(folder.pictures, name)


# name, what is on disk at the first check (besides the clean folder),
# what changes before the second, the violation the second must give
# (None: none at all), and what log.log held before the soak (an earlier
# session's numbers, whose pictures are not there).
ROWS = [
    ("clean", None, None, None),
    ("nothing logged yet", lambda f: write(f.log, b""), None, None),
    ("a logged number without its picture", None,
     lambda f: os.remove(picture(f, "201.jpg")), "201 is in log.log but 201.jpg is missing"),
    ("a logged picture cut short", None,
     lambda f: write(picture(f, "201.jpg"), canonical(201)[:5]), "cut short"),
    ("a picture that is something else", None,
     lambda f: write(picture(f, "202.jpg"), b"<html></html>"), "not the picture the site sends"),
    ("a picture the site never sent whole", None,
     lambda f: write(picture(f, "203.jpg"), canonical(203)), "never sent this picture whole"),
    ("log.log lost its first line", None,
     lambda f: write(f.log, b"201\r\n"), "log.log lost bytes"),
    ("log.log ends in the middle of a line", None,
     lambda f: write(f.log, b"200\r\n201\r\n20"), "ends in the middle of a line"),
    ("log.log goes back", None,
     lambda f: write(f.log, b"200\r\n201\r\n200\r\n"), "has 200 after 201"),
    ("a temporary picture outlives a start",
     lambda f: write(picture(f, ".202.jpg.4242-1.tmp"), b"\xff\xd8"), None, "outlived a start"),
    ("a temporary log outlives a start",
     lambda f: write(os.path.join(f.root, ".log.log.4242-1.tmp"), b"200\r\n"), None,
     "outlived a start"),
    ("a spill file outlives a start",
     lambda f: write(os.path.join(f.tmp, "BufA1b2C3"), b"x"), None, "outlived a start"),
    ("a temporary removed by the start", lambda f: write(picture(f, ".202.jpg.4242-1.tmp"), b""),
     lambda f: os.remove(picture(f, ".202.jpg.4242-1.tmp")), None),
    ("a stray file among the pictures", None,
     lambda f: write(picture(f, "202.jpg.part"), b"x"), "should not leave"),
    ("an earlier session's numbers need no pictures", None, None, None, b"7\r\n8\r\n"),
    ("after an earlier session's numbers, a logged number without its picture", None,
     lambda f: os.remove(picture(f, "200.jpg")), "200 is in log.log but 200.jpg is missing",
     b"7\r\n8\r\n"),
]


class CheckerTest(unittest.TestCase):
    def test_each_broken_folder_gives_its_violation(self):
        for name, first, change, expected, *history in ROWS:
            history = history[0] if history else b""
            with self.subTest(name), tempfile.TemporaryDirectory() as root:
                folder = soak.Folder(root)
                folder.make(history)
                write(folder.log, history + b"200\r\n201\r\n")
                for number in (200, 201, 202):
                    write(picture(folder, "%d.jpg" % number), canonical(number))
                if first:
                    first(folder)
                checker = soak.Checker(folder, canonical, lambda: {200, 201, 202}, pause=0,
                                       history=history)
                self.assertEqual(checker.check(), [])
                if change:
                    change(folder)
                violations = checker.check()
                if expected is None:
                    self.assertEqual(violations, [])
                else:
                    self.assertTrue(any(expected in v for v in violations), violations)


if __name__ == "__main__":
    unittest.main()
