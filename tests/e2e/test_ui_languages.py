"""What a person sees in each of the four UI languages (Wine takes it from LANG): the usage
text, the progress dialog and, over it, the language dialog, which follows the UI language
while its pre-selection follows the user's regional language. Pictures of each window go to
screenshots/e2e/ in the build folder for people to look at. On the non-NT platform the same
windows come through the ANSI functions, their texts in each language's code page."""
import os
import shutil
import unittest

from harness import PrefixCase, run_setup

LANGUAGES = {
    "en_US.UTF-8": dict(
        codepage=1252, name="en", title="Windows Installer Installation Wrapper", choose="Choose setup language",
        ok="&OK", cancel="Cancel", preselected=0,
        usage="Usage:\n   /? :  Show this dialog.\n   /a :  Prepare an administrative install.\n"
              "   /a <full path to existing administrative install> :  Prepare/Patch administrative install in given folder.\n"
              "   /v <full path to file> :  Verify signature on file.\n"),
    "it_IT.UTF-8": dict(
        codepage=1252, name="it", title="Avvio programma Windows Installer", choose="Scegli la lingua del setup",
        ok="&OK", cancel="Annula", preselected=-1,
        usage="Uso:\n   /? :  Mostra queste istruzioni.\n   /a :  Esegui installazione in modalità amministratore.\n"
              "   /a <percorso completo fino ad installazione in modalità amministratore> :  Prepara/Correggi l'installazione su modalità amministratore sul dato directory.\n"
              "   /v <percorso intero fino al file > :  Verifica firma file.\n"),
    "sq_AL.UTF-8": dict(
        codepage=1250, name="sq", title="Paketa e instalimit të Windows Installer-it.", choose="Zgjidh gjuhën e instalimit",
        ok="&Në rregull", cancel="Anulo", preselected=-1,
        usage="Përdorimi:\n   /? :  Shfaqe këtë dialog.\n   /a :  Përgatit një instalim administrativ.\n"
              "   /a <full path to existing administrative install> :  Përgatit/Korrigjo instalimin administrativ në dosjen e dhënë.\n"
              "   /v <full path to file> :  Verifiko nënshkrimin në skedar.\n"),
    "sl_SI.UTF-8": dict(
        codepage=1250, name="sl", title="Zaganjalnik programa Windows Installer", choose="Izberite jezik namestitve",
        ok="&V redu", cancel="Prekliči", preselected=1,
        usage="Uporaba:\n   /? :  Prikaži to okno.\n   /a :  Pripravi skrbniško namestitev.\n"
              "   /a <polna pot do obstoječe skrbniške namestitve> :  Pripravi/popravi skrbniško namestitev v podani mapi.\n"
              "   /v <polna pot do datoteke> :  Preveri podpis datoteke.\n"),
}
# The language list as an ANSI code page holds it: 1252 has no č, and the conversion takes the
# nearest letter.
SLOVENIAN_NAME = {None: "Sloven\u0161\u010dina", 1250: "Sloven\u0161\u010dina", 1252: "Sloven\u0161cina"}
SHOTS = os.path.join(os.environ.get("BUILD_DIR", "."), "screenshots", "e2e")


class UiLanguages(PrefixCase):
    ansi = False  # the windows' texts pass through the system's ANSI code page

    def shot_name(self, window, ui):
        return f"{window}_{ui['name']}" + ("_ansi" if self.ansi else "")

    def keep_shots(self, *names):
        os.makedirs(SHOTS, exist_ok=True)
        for name in names:
            shot = self.prefix.unix_path(f"C:\\robot\\{name}.bmp")
            self.assertTrue(os.path.exists(shot), name)
            shutil.copyfile(shot, os.path.join(SHOTS, f"{name}.bmp"))

    def test_usage_text_in_each_language(self):
        for lang, ui in LANGUAGES.items():
            with self.subTest(lang=lang):
                shot = self.shot_name("usage", ui)
                run = run_setup(self.prefix, ["/?"], lang=lang,
                                rules=[(ui["usage"].split("\n")[0], f"wait:200,shot:{shot},press:1")])
                self.assertEqual(0, run.exit_code)
                self.assertEqual([ui["usage"]], run.message_boxes())
                self.assertEqual({ui["title"]}, {s["title"] for s in run.snapshots})
                self.keep_shots(shot)

    def test_progress_and_language_dialogs_in_each_language(self):
        for lang, ui in LANGUAGES.items():
            with self.subTest(lang=lang):
                progress_shot, language_shot = self.shot_name("progress", ui), self.shot_name("language", ui)
                run = run_setup(self.prefix, lang=lang, rules=[
                    (ui["title"], f"wait:100,shot:{progress_shot}"),
                    (ui["choose"], f"wait:200,shot:{language_shot},press:2")])
                # Cancelled in the language dialog: the run ends quietly, with exit code 0.
                self.assertEqual(0, run.exit_code)
                self.assertEqual([], run.message_boxes())

                progress = run.windows(ui["title"])
                self.assertTrue(progress, "the progress dialog appeared")
                controls = {c["id"]: c for c in progress[0]["controls"]}
                self.assertEqual({101, 103, 104, 105, 2}, set(controls))
                self.assertEqual(ui["cancel"], controls[2]["text"])

                chooser = run.windows(ui["choose"])
                self.assertTrue(chooser, "the language dialog appeared")
                controls = {c["id"]: c for c in chooser[0]["controls"]}
                self.assertEqual(ui["ok"], controls[1]["text"])
                self.assertEqual(ui["cancel"], controls[2]["text"])
                self.assertEqual(["English", SLOVENIAN_NAME[ui["codepage"] if self.ansi else None]],
                                 controls[1000]["items"])
                self.assertEqual(ui["preselected"], controls[1000]["selected"])
                self.assertEqual(ui["title"], chooser[0]["owner_title"])
                self.keep_shots(progress_shot, language_shot)


class UiLanguagesNonNT(UiLanguages):
    version = "win98"
    ansi = True


if __name__ == "__main__":
    unittest.main()
