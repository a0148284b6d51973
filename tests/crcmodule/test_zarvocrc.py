"""zarvocrc.crc32 against worked values, catalogue values, a bit-wise
reference and (where installed) crcmod; every case on str and on bytes."""
import array
import ctypes
import random
import sys
import threading
import unittest

import zarvocrc

POLY = 0x04C11DB7


def register(data, init=0):
    """Bit-wise CRC: MSB first, no reflection, no final XOR."""
    crc = init
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ POLY if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
    return crc


def signed(value):
    return value - (1 << 32) if value & 0x80000000 else value


def reference(data, type_):
    raw = data.encode("utf-8") if isinstance(data, str) else data
    return signed(register(bytes([type_ & 0xFF, len(raw) & 0xFF]) + raw))


class CatalogueValues(unittest.TestCase):
    def test_reference_matches_the_published_check_values(self):
        self.assertEqual(register(b"123456789"), 0x89A1897F)
        self.assertEqual(register(b"123456789", init=0xFFFFFFFF), 0x0376E6E7)  # CRC-32/MPEG-2

    def test_module_gives_the_check_values(self):
        # Leading zero bytes leave a zero register at zero, and a 256-byte
        # string has length byte 0: type 0 then makes the module's CRC the
        # plain CRC of the data.
        pad = bytes(256 - 9)
        self.assertEqual(zarvocrc.crc32(pad + b"123456789", 0) & 0xFFFFFFFF, 0x89A1897F)
        # An initial register of all ones is the same as inverting the first
        # four message bytes.
        inverted = bytes(b ^ 0xFF for b in b"1234") + b"56789"
        self.assertEqual(zarvocrc.crc32(pad + inverted, 0) & 0xFFFFFFFF, 0x0376E6E7)


class WorkedValues(unittest.TestCase):
    CASES = [
        # data, type, result
        ("", 0, 0),
        ("", 1, -770063908),
        ("abc", 0, 1281395682),
        (b"\xff", 0, 1676575080),
        (b"123456789", 0, 514874620),  # the check value the README gives
        ("123456789", 0, 514874620),
        ("", 256, 0),
        ("", -1, zarvocrc.crc32("", 255)),
        ("abc", 0x100 + 0, 1281395682),
        ("abc", -2**31, zarvocrc.crc32("abc", 0)),
    ]

    def test_worked_values(self):
        for data, type_, expected in self.CASES:
            with self.subTest(data=data, type=type_):
                self.assertEqual(zarvocrc.crc32(data, type_), expected)
                self.assertEqual(reference(data, type_), expected)

    def test_result_is_signed_32_bit(self):
        values = [zarvocrc.crc32(bytes([i]), t) for i in range(256) for t in (0, 7)]
        self.assertTrue(all(-2**31 <= v < 2**31 for v in values))
        self.assertTrue(any(v < 0 for v in values) and any(v > 0 for v in values))

    def test_length_byte_wraps_but_every_byte_counts(self):
        data = bytes(range(256))
        self.assertEqual(zarvocrc.crc32(data, 3), reference(data, 3))
        self.assertNotEqual(zarvocrc.crc32(data, 3), zarvocrc.crc32(data[:-1] + b"\x00", 3))
        # 256 bytes enter the length byte as 0, 257 as 1.
        self.assertEqual(zarvocrc.crc32(bytes(256), 0), 0)
        self.assertNotEqual(zarvocrc.crc32(bytes(257), 0), 0)


class AgainstTheReference(unittest.TestCase):
    def test_random_bytes_and_types(self):
        rng = random.Random(20261208)
        lengths = [0, 1, 2, 3, 7, 8, 15, 16, 31, 254, 255, 256, 257, 511, 512, 513, 1000]
        for length in lengths:
            for _ in range(6):
                data = bytes(rng.getrandbits(8) for _ in range(length))
                type_ = rng.choice([0, 1, 127, 128, 255, 256, -1, -129, 2**31 - 1, -2**31, rng.randint(-9999, 9999)])
                with self.subTest(length=length, type=type_):
                    self.assertEqual(zarvocrc.crc32(data, type_), reference(data, type_))

    def test_str_and_its_utf8_bytes_agree(self):
        texts = ["", "abc", "Nachrichten", "Ærøskøbing – Tagesschau", "日本のニュース", "emoji 📺🛰", "nul\x00inside",
                 "é" * 127, "é" * 128, "€" * 86]
        for text in texts:
            with self.subTest(text=text):
                self.assertEqual(zarvocrc.crc32(text, 9), zarvocrc.crc32(text.encode("utf-8"), 9))
                self.assertEqual(zarvocrc.crc32(text, 9), reference(text, 9))


class BadArguments(unittest.TestCase):
    def test_parser_exceptions(self):
        cases = [
            ((b"abc",), TypeError),
            ((), TypeError),
            ((b"abc", 1, 2), TypeError),
            ((42, 0), TypeError),
            ((None, 0), TypeError),
            ((bytearray(b"abc"), 0), TypeError),  # buffers that must be released are refused
            ((memoryview(b"abc"), 0), TypeError),
            ((array.array("B", b"abc"), 0), TypeError),
            ((b"abc", "0"), TypeError),
            ((b"abc", 1.5), TypeError),
            ((b"abc", 2**31), OverflowError),
            ((b"abc", -2**31 - 1), OverflowError),
            (("\udc80", 0), UnicodeEncodeError),  # a lone surrogate has no UTF-8
        ]
        for args, error in cases:
            with self.subTest(args=args):
                with self.assertRaises(error):
                    zarvocrc.crc32(*args)

    def test_buffers_without_a_release_are_read(self):
        class Bytes(bytes):
            pass

        for data in (Bytes(b"abc"), (ctypes.c_char * 3)(*b"abc")):
            with self.subTest(data=type(data).__name__):
                self.assertEqual(zarvocrc.crc32(data, 0), 1281395682)

    def test_keywords_are_refused(self):
        for args, kwargs in (((), {"data": b"abc", "type": 0}), ((b"abc", 0), {"type": 5}),
                             ((b"abc",), {"type": 0})):
            with self.subTest(args=args, kwargs=kwargs):
                with self.assertRaises(TypeError):
                    zarvocrc.crc32(*args, **kwargs)


class ModuleSurface(unittest.TestCase):
    def test_names_and_docs(self):
        self.assertEqual(zarvocrc.__name__, "zarvocrc")
        self.assertEqual(zarvocrc.__doc__, "Module for guidepull")
        self.assertEqual(zarvocrc.crc32.__doc__, "Calculate Zarvo's CRC32 for a data string.")
        self.assertEqual([n for n in dir(zarvocrc) if not n.startswith("__")], ["crc32"])

    def test_one_module_for_every_python(self):
        self.assertTrue(zarvocrc.__file__.endswith("/zarvocrc.abi3.so"), zarvocrc.__file__)


class Threads(unittest.TestCase):
    def test_several_threads_get_the_same_results_as_one(self):
        rng = random.Random(99)
        cases = [(bytes(rng.getrandbits(8) for _ in range(rng.randrange(0, 600))), rng.randrange(-300, 300))
                 for _ in range(200)]
        expected = [zarvocrc.crc32(data, type_) for data, type_ in cases]
        results = {}

        def work(name):
            results[name] = [[zarvocrc.crc32(data, type_) for data, type_ in cases] for _ in range(20)]

        threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
        old = sys.getswitchinterval()
        sys.setswitchinterval(1e-6)  # switch threads as often as the interpreter allows
        try:
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        finally:
            sys.setswitchinterval(old)
        for name in range(8):
            for run in results[name]:
                self.assertEqual(run, expected)


class AgainstCrcmod(unittest.TestCase):
    def test_same_as_crcmod(self):
        try:
            import crcmod
        except ImportError:
            self.skipTest("crcmod is not installed for this interpreter")
        crc = crcmod.mkCrcFun(0x104C11DB7, initCrc=0, rev=False, xorOut=0)
        rng = random.Random(7)
        for length in (0, 1, 30, 255, 256, 300):
            data = bytes(rng.getrandbits(8) for _ in range(length))
            for type_ in (0, 5, 255, 300, -7):
                prefixed = bytes([type_ & 255, length & 255]) + data
                self.assertEqual(zarvocrc.crc32(data, type_), signed(crc(prefixed)))


if __name__ == "__main__":
    unittest.main()
