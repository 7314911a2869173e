"""The product file: bad files fail the configure step with the file, the field and the
fault and leave the generated tables as they were; another product's file builds a setup.exe
that carries its tables, its name in the version resource, and shows them under Wine."""
import copy
import json
import os
import re
import unittest

from harness import APP_TITLE, PLATFORM, PrefixCase, run_setup
from scratch import SCRATCH, build, configure, utf16

HERE = os.path.dirname(os.path.abspath(__file__))
GOOD = os.path.join(HERE, "lunaria.json")
FOLDER = os.path.join(SCRATCH, "product")
GENERATED = [os.path.join(FOLDER, "generated", name) for name in ("setup_tables.cpp", "product_name.rch")]
with open(GOOD, encoding="utf-8") as f:
    LUNARIA = json.load(f)


def changed(edit):
    """The good product with one edit (a function of the parsed file)."""
    product = copy.deepcopy(LUNARIA)
    edit(product)
    return product


def first(product):
    return product["products"][0]


def italian(product):
    return product["products"][0]["languages"][2]


BAD_FILES = [
    # (case, file content: text or an edited product, field, fault)
    ("not JSON", '{"settings": {"redistBaseUrl": ', "JSON", "failed parsing json string"),
    ("a product without a name", changed(lambda p: p["products"][1].pop("productName")),
     "products[1].productName", "missing (a text is required)"),
    ("unknown operation", changed(lambda p: first(p).update(operation="UPGRADE")),
     "products[0].operation", "unknown operation 'UPGRADE'"),
    ("operation that is no text", changed(lambda p: first(p).update(operation=1)),
     "products[0].operation", "must be a text or null, not NUMBER"),
    ("language id 0", changed(lambda p: italian(p).update(langId=0)),
     "products[0].languages[2].langId", "0 is not a language id"),
    ("language id not a number", changed(lambda p: italian(p).update(langId="it")),
     "products[0].languages[2].langId", "'it' is not a number"),
    ("language id beyond 16 bits", changed(lambda p: italian(p).update(langId="0x10410")),
     "products[0].languages[2].langId", "0x10410 is not a language id"),
    ("a product without languages", changed(lambda p: first(p).update(languages=[])),
     "products[0].languages", "a product needs a list of one or more languages"),
    ("a product whose languages are left out", changed(lambda p: p["products"][1].pop("languages")),
     "products[1].languages", "a product needs a list of one or more languages"),
    ("download address over http", changed(lambda p: first(p).update(downloadBase="http://lunaria.example/")),
     "products[0].downloadBase", "'http://lunaria.example/' is not an https address"),
    ("redistributable address without a host", changed(lambda p: p["settings"].update(redistBaseUrl="https:///msi/")),
     "settings.redistBaseUrl", "'https:///msi/' is not an https address"),
    ("package name with a folder", changed(lambda p: italian(p).update(patchX64="x64/Lunaria.msp")),
     "products[0].languages[2].patchX64", "'x64/Lunaria.msp' holds a path"),
    ("package name with a Windows folder", changed(lambda p: first(p)["languages"][0].update(packageX86="..\\De.msi")),
     "products[0].languages[0].packageX86", "'..\\De.msi' holds a path"),
    ("redistributable name with a drive", changed(lambda p: p["settings"].update(redistFileNT="C:InstMSIW.exe")),
     "settings.redistFileNT", "'C:InstMSIW.exe' holds a path"),
    ("misspelt field", changed(lambda p: italian(p).update(patchx86="Lunaria.x86.It.msp")),
     "products[0].languages[2].patchx86", "unknown field"),
    ("a language without package or patch", changed(lambda p: italian(p).update(patchX86=None, patchX64=None)),
     "products[0].languages[2]", "names no package and no patch"),
    ("askFirst as a word", changed(lambda p: first(p).update(askFirst="yes")),
     "products[0].askFirst", "must be true, false or a whole number"),
    ("no products", changed(lambda p: p.update(products=[])),
     "products", "a list of one or more products is required"),
    ("misspelt top-level field", changed(lambda p: p.update(product=p.pop("products"))),
     "product", "unknown field (known: settings, products)"),
    ("settings left out", changed(lambda p: p.pop("settings")), "settings", "missing (an object is required)"),
    ("empty product name", changed(lambda p: first(p).update(productName="")),
     "products[0].productName", "is empty"),
]


def contents(paths):
    result = []
    for path in paths:
        with open(path, "rb") as f:
            result.append(f.read())
    return result


def setUpModule():
    done = configure(FOLDER, SETUP_PRODUCT_FILE=GOOD)
    if done.returncode:
        raise AssertionError(done.stderr)
    build(FOLDER)


class ProductFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(FOLDER, "setup.exe"), "rb") as f:
            cls.binary = f.read()

    def test_bad_files_fail_the_configure_step_and_leave_the_tables(self):
        good_tables = contents(GENERATED)
        for case, content, field, fault in BAD_FILES:
            with self.subTest(case):
                bad = os.path.join(FOLDER, "bad product.json")
                with open(bad, "w", encoding="utf-8") as f:
                    f.write(content if isinstance(content, str) else json.dumps(content, ensure_ascii=False))
                done = configure(FOLDER, SETUP_PRODUCT_FILE=bad)
                message = " ".join(done.stderr.split())
                self.assertNotEqual(0, done.returncode)
                self.assertIn(f"Bad product file {bad}", message)
                self.assertIn(f"{field}: {fault}", message)
                self.assertEqual(good_tables, contents(GENERATED), "nothing generated from a bad file")
        self.assertEqual(0, configure(FOLDER, SETUP_PRODUCT_FILE=GOOD).returncode)

    def version_values(self, key):
        """The value of `key` in each string table of the version resource: the key, its
        terminator, padding to four bytes, then the value up to its terminator (UTF-16)."""
        pattern = re.escape(utf16(key)) + rb"\0\0(?:\0\0)?((?:(?!\0\0)..)+)\0\0"
        return [v.decode("utf-16-le") for v in re.findall(pattern, self.binary, re.S)]

    def test_the_tables_and_the_version_resource_follow_the_file(self):
        for text in ["Lunaria Atlas", "Fran\u00e7ais", "Lunaria.x86.It.msp", "LunariaMsiW.exe", "ATLAS=1",
                     "https://prenos.quorvel.example/lunaria/2.0/", "https://msi.quorvel.example/lunaria/msi/"]:
            self.assertTrue(utf16(text) in self.binary, text)
        for text in ["Quorvel.x64.En.msi", "Sloven\u0161\u010dina", "InstMSIW.exe"]:
            self.assertFalse(utf16(text) in self.binary, text)
        # One table per language: Slovenian, English, Italian, Albanian; the first product names
        # the program, while the company stays.
        self.assertEqual(["Lunaria"] * 4, self.version_values("ProductName"))
        self.assertEqual(["Namestitveni program Lunaria", "Setup Programme Lunaria",
                          "Programma di installazione Lunaria", "Programi i parametrizimit Lunaria"],
                         self.version_values("FileDescription"))
        self.assertEqual(["Quorvel d.o.o."] * 4, self.version_values("CompanyName"))


class LunariaUnderWine(PrefixCase):
    """The Lunaria build asks first for each product, lists the first product's three
    languages, and downloads the file of the chosen language, the patch where the language has
    no package; the second product's table is reached after the first is skipped."""

    def run_lunaria(self, *rules):
        return run_setup(self.prefix, setup=os.path.join(FOLDER, "setup.exe"), server={},
                         rules=[*rules, ("OK", "wait:200,press:1")])

    def test_questions_languages_and_downloads(self):
        run = self.run_lunaria(("package 'Lunaria'.", "press:6"),
                               ("Choose setup language", "select:Italiano,press:1"))
        self.assertEqual(0, run.exit_code)
        combo = next(c for c in run.windows("Choose setup language")[0]["controls"] if c["id"] == 1000)
        self.assertEqual(["Deutsch", "Fran\u00e7ais", "Italiano"], combo["items"])
        self.assertEqual(["Please wait while 'Lunaria' is downloaded..."], [t for t in run.controls(103) if t])
        self.assertEqual([f"/lunaria/2.0/Lunaria.{PLATFORM}.It.msp"], [r["path"] for r in run.requests])

        run = self.run_lunaria(("package 'Lunaria'.", "press:7"), ("package 'Lunaria Atlas'.", "press:6"))
        self.assertEqual(0, run.exit_code)
        self.assertEqual([], run.windows("Choose setup language"), "one language: no dialog")
        self.assertEqual(["Please wait while 'Lunaria Atlas' is downloaded..."], [t for t in run.controls(103) if t])
        self.assertEqual([f"/atlas/Atlas.{PLATFORM}.msi"], [r["path"] for r in run.requests])
        self.assertTrue(run.windows(APP_TITLE))


if __name__ == "__main__":
    unittest.main()
