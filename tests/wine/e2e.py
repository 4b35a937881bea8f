#!/usr/bin/env python3
# Runs the Windows program end to end under Wine and Xvfb, one scenario of scenari.py after another.
#
# One prefix is made for the whole run and reset between scenarios: the host keys and the COM
# registrations are rewritten through one "reg import" in the 32-bit view, the folders on drive C:
# are made again. Each box is found as a visible X window (its name is the caption), its text is
# read from Wine's msgbox debug channel, a screenshot is kept, and it is answered with xdotool.
# Every wait is bounded; a scenario that times out names what it was waiting for.
#
# With no window manager, Wine keeps each answered box on the screen for 2 s before the program
# goes on (it waits for a withdrawal that only a manager would confirm): most of a scenario's time.
#
# Usage: e2e.py --exe AggiornaArchivio.exe --bin DIR --scrivi-dati PATH --out DIR [--verbose]
#               [--keep-prefix] [--window-frames] [names...]
#   --bin holds e2e_componente.dll, e2e_decodifica.dll, e2e_holder.exe and, in its folder
#   "componente", e2e_componente_aiuto.dll with the e2e_aiuto.dll it imports; --out receives, per
#   scenario, box-N.png, trace.txt (the program's Wine output), com.log and errors.txt.
#   --window-frames: Wine draws each box's title bar itself (there is no window manager) with
#   Wine's own fonts, so that each box-N.png looks like the box on Windows (for pictures).
#   AGGIORNA_E2E_WINEDEBUG replaces the program's WINEDEBUG (it must keep +msgbox).
# Prints one line per scenario and a last line "N passed, N failed"; exit status 1 on a failure.
import argparse
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import scenari as S  # noqa: E402

CLSID_AGGIORNAMENTO = "{438870EE-520F-11D5-BDD5-004033A00C30}"
CLSID_CIFRATORE = "{957766AF-14CE-11D2-95CA-0000B43369D3}"
CLSID_DECODIFICATORE = "{957766B5-14CE-11D2-95CA-0000B43369D3}"
CARTELLA_TEST = "C:\\aggiorna-e2e"  # the servers, the holder, the COM log, the holder's markers
# The update component in a folder of its own, beside the private DLL its server imports.
SERVER_CARTELLA_PROPRIA = "componente\\e2e_componente_aiuto.dll"
FILE_DI_PROVA = ["e2e_componente.dll", "e2e_decodifica.dll", "e2e_holder.exe",
                 "componente/e2e_componente_aiuto.dll", "componente/e2e_aiuto.dll"]
LOG_COM = CARTELLA_TEST + "\\com.log"

ATTESA_PRIMO_BOX = 40.0    # the program's start under a warm wineserver takes one to three seconds
ATTESA_BOX = 15.0
ATTESA_FINE = 20.0
ATTESA_CHIUSURA_BOX = 12.0
PAUSA_PRIMA_DEL_TASTO = 0.3


class Fallito(Exception):
    """A scenario's failure, with the text that names it."""


VERBOSE = False
INIZIO = time.monotonic()


def log(*parti):
    print(*parti, flush=True)


def traccia(*parti):
    if VERBOSE:
        print(f"     [{time.monotonic() - INIZIO:7.2f}]", *parti, flush=True)


# --- Paths between Windows and the prefix ---------------------------------------------------------
class Prefisso:
    def __init__(self, radice: Path, lc_all: str, display: str):
        self.radice = radice
        self.pfx = radice / "pfx"
        # Every Wine process of the prefix sees the display, wineboot's included: the desktop
        # process it leaves running draws every later window.
        self.env = dict(os.environ, WINEPREFIX=str(self.pfx), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL=lc_all, DISPLAY=display)
        self.env.pop("WINEARCH", None)

    def unix(self, percorso_windows: str) -> Path:
        assert percorso_windows[:3].upper() == "C:\\", percorso_windows
        parti = [p for p in percorso_windows[3:].split("\\") if p]
        return self.pfx.joinpath("drive_c", *parti)

    def wine(self, argomenti, timeout):
        """Runs a Wine command to its end; returns (status, output). The output goes through a
        file, never a pipe: a wineserver started by the command would hold a pipe open."""
        uscita = self.radice / "wine-output.txt"
        with open(uscita, "wb") as out:
            r = subprocess.run(["wine", *argomenti], env=self.env, timeout=timeout,
                               stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        return r.returncode, uscita.read_text("utf-8", "replace").strip()

    def avvia_server(self):
        # The server keeps the output of the command that starts it: start it ourselves, silent.
        subprocess.run(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)

    def ferma_server(self):
        """Ends every process of the prefix and its server, and waits until the server is gone."""
        for opzione in ("-k", "-w"):
            try:
                subprocess.run(["wineserver", opzione], env=self.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=30)
            except subprocess.TimeoutExpired:
                pass

    def crea(self, cornici=False):
        self.avvia_server()
        with open(self.radice / "wineboot.log", "wb") as out:
            r = subprocess.run(["wineboot", "-i"], env=self.env, stdout=out, stderr=out,
                               stdin=subprocess.DEVNULL, timeout=180)
        if r.returncode != 0:
            fine = (self.radice / "wineboot.log").read_text("utf-8", "replace").splitlines()[-15:]
            raise Fallito("wineboot -i failed:\n" + "\n".join(fine))
        if cornici:
            self.cornici()

    def cornici(self):
        # Undecorated windows get their frame and caption from Wine, not from a window manager.
        stato, uscita = self.wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Decorated",
                                   "/d", "N", "/f"], timeout=60)
        if stato != 0:
            raise Fallito("cannot turn off window decorations: " + uscita)
        # The caption's buttons need Marlett, and boxes look as on Windows in Tahoma (fonts-wine).
        # The prefix's font folder is read by every Wine process that starts after this one.
        fonts = self.pfx / "drive_c" / "windows" / "Fonts"
        for nome in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf"):
            origine = Path("/usr/share/wine/fonts") / nome
            if origine.exists():
                shutil.copyfile(origine, fonts / nome)
        self.ferma_server()
        self.avvia_server()


# --- The display -------------------------------------------------------------------------------------
class Display:
    def __init__(self):
        lettura, scrittura = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(scrittura), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(scrittura,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(scrittura)
        numero = b""
        scadenza = time.monotonic() + 15
        while not numero.endswith(b"\n"):
            pronti, _, _ = select.select([lettura], [], [], max(0.0, scadenza - time.monotonic()))
            if not pronti:
                self.chiudi()
                raise Fallito("Xvfb did not start within 15 s")
            pezzo = os.read(lettura, 16)
            if not pezzo:
                self.chiudi()
                raise Fallito("Xvfb ended at start")
            numero += pezzo
        os.close(lettura)
        self.nome = ":" + numero.decode().strip()

    def chiudi(self):
        if self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()

    def xdotool(self, *argomenti):
        r = subprocess.run(["xdotool", *argomenti], env=dict(os.environ, DISPLAY=self.nome),
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
        return r.stdout.decode("utf-8", "replace")

    def finestre(self):
        """The visible windows that have a name: {id: name}. (Wine keeps one unnamed one visible.)"""
        risultato = {}
        for wid in self.xdotool("search", "--onlyvisible", "--name", "").split():
            nome = self.xdotool("getwindowname", wid).rstrip("\n")
            if nome:
                risultato[wid] = nome
        return risultato

    def foto(self, file: Path, wid: str):
        # For a person to look at; a screenshot that fails is no failure of the program.
        try:
            subprocess.run(["import", "-window", wid, str(file)], env=dict(os.environ, DISPLAY=self.nome),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=10)
        except subprocess.TimeoutExpired:
            log(f"     (no screenshot {file.name}: import timed out)")


# --- Wine's msgbox debug channel --------------------------------------------------------------------
RIGA_BOX = re.compile(r'trace:msgbox:MSGBOX_OnInit L"(.*)"(\.\.\.)?\s*$')


def testo_wine(s: str) -> str:
    """Undoes Wine's debugstr_w: \\r, \\n, \\t, \\", \\\\ and \\XXXX (four hex digits)."""
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c != "\\" or i + 1 >= len(s):
            out.append(c)
            i += 1
            continue
        n = s[i + 1]
        if n in "rnt\"\\":
            out.append({"r": "\r", "n": "\n", "t": "\t"}.get(n, n))
            i += 2
        else:
            out.append(chr(int(s[i + 1:i + 5], 16)))
            i += 5
    return "".join(out)


def testi_box(trace: Path):
    """The texts of the boxes shown so far, in order; a text Wine cut short ends with "…"."""
    try:
        righe = trace.read_text("utf-8", "replace").splitlines()
    except FileNotFoundError:
        return []
    testi = []
    for riga in righe:
        m = RIGA_BOX.search(riga)
        if m:
            testi.append(testo_wine(m.group(1)) + ("…" if m.group(2) else ""))
    return testi


def mostra(testo: str) -> str:
    # A field padded to its 160 characters shows as its text and the count of blanks after it.
    corto = testo.rstrip(" ")
    if len(testo) - len(corto) > 8:
        return json.dumps(corto, ensure_ascii=False) + f" + {len(testo) - len(corto)} blanks"
    return json.dumps(testo, ensure_ascii=False)


# --- One scenario ---------------------------------------------------------------------------------------
class Esecuzione:
    def __init__(self, prefisso: Prefisso, display: Display, args, sc: S.Scenario, uscita: Path):
        self.p, self.d, self.args, self.sc, self.uscita = prefisso, display, args, sc, uscita
        self.errori = []
        self.programma = None
        self.holder = None

    # Set-up ----------------------------------------------------------------------------------------
    def registro(self):
        def voce(v):
            return '"' + v.replace("\\", "\\\\").replace('"', '\\"') + '"'

        # The program reads the hosts' keys in the 32-bit view, as the 32-bit host writes them (App
        # Paths is shared between the views); COM looks up classes in the program's own view.
        # Wine's 64-bit "reg import" ignores /reg:32 when it deletes a key: on the 64-bit path the
        # 32-bit view's key is named through Wow6432Node, and the deletions go with the classes.
        quibex = "Software\\Quibex" if self.args.bit == 32 else "Software\\Wow6432Node\\Quibex"
        cancella = [f"[-HKEY_LOCAL_MACHINE\\{quibex}]",
                    "[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe]"]
        cancella += [f"[-HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{clsid}]"
                     for clsid in (CLSID_AGGIORNAMENTO, CLSID_CIFRATORE, CLSID_DECODIFICATORE)]
        host = []
        if self.sc.install_path is not None:
            host += ["[HKEY_LOCAL_MACHINE\\Software\\Quibex\\Quintrel! 4]",
                     f'"InstallPath"={voce(self.sc.install_path)}', ""]
        if self.sc.app_path is not None:
            host += ["[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\quintrel.exe]",
                     f"@={voce(self.sc.app_path)}", ""]
        classi = []
        server = {"aggiornamento": [("e2e_componente.dll", CLSID_AGGIORNAMENTO)],
                  "aggiornamento_cartella_propria": [(SERVER_CARTELLA_PROPRIA, CLSID_AGGIORNAMENTO)],
                  "decodifica": [("e2e_decodifica.dll", CLSID_CIFRATORE),
                                 ("e2e_decodifica.dll", CLSID_DECODIFICATORE)]}
        for nome in self.sc.registrati:
            for dll, clsid in server[nome]:
                classi += [f"[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{clsid}\\InprocServer32]",
                           f"@={voce(CARTELLA_TEST + chr(92) + dll)}", '"ThreadingModel"="Apartment"', ""]
        if self.args.bit == 32:
            self.importa(cancella + [""] + host + classi, 32)
        else:
            self.importa(cancella + [""] + classi, 64)
            if host:
                self.importa(host, 32)

    def importa(self, righe, vista):
        righe = ["Windows Registry Editor Version 5.00", ""] + righe
        file_reg = self.p.unix(CARTELLA_TEST + "\\scenario.reg")
        file_reg.write_bytes(b"\xff\xfe" + "\r\n".join(righe).encode("utf-16-le"))
        stato, uscita = self.p.wine(["reg", "import", CARTELLA_TEST + "\\scenario.reg", f"/reg:{vista}"],
                                    timeout=60)
        if stato != 0:
            raise Fallito(f"reg import (/reg:{vista}) failed: " + uscita)

    def cartelle_dei_file(self):
        """The folders whose files a scenario sets up and checks."""
        return [S.CARTELLA_PROGRAMMA, "C:\\Programmi", self.sc.cartella_4, self.sc.cartella_30, S.VIRTUAL_STORE]

    def cartelle(self):
        for cartella in self.cartelle_dei_file():
            shutil.rmtree(self.p.unix(cartella), ignore_errors=True)
        prog = self.p.unix(S.CARTELLA_PROGRAMMA)
        prog.mkdir(parents=True)
        shutil.copyfile(self.args.exe, prog / "AggiornaArchivio.exe")
        if self.sc.estr_accanto:
            (prog / "Estr.bin").write_bytes(S.NUOVO_ESTR)
        if self.sc.bl_accanto:
            (prog / "bl.bin").write_bytes(S.NUOVO_BL)
        # Both hosts' folders exist in every scenario: an update of the wrong one shows as a change.
        v4 = self.p.unix(self.sc.cartella_4)
        v4.mkdir(parents=True)
        (v4 / "Estr.bin").write_bytes(S.VECCHIO_ESTR_4)
        (v4 / "bl.bin").write_bytes(S.VECCHIO_BL_4)
        if self.sc.residuo_estr_bi_:
            (v4 / "Estr.bi_").write_bytes(S.VECCHIO_ESTR_BI_4)
        if self.sc.dati != "mancante":
            opzioni = ["--identificativo", "0x12345678"] if self.sc.dati == "non_valido" else []
            r = subprocess.run([self.args.scrivi_dati, *opzioni, str(self.args.descrizione),
                                str(v4 / "Dati.lib")], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               timeout=30)
            if r.returncode != 0:
                raise Fallito("scrivi_dati_lib failed: " + r.stdout.decode("utf-8", "replace"))
        v3 = self.p.unix(self.sc.cartella_30)
        v3.mkdir(parents=True, exist_ok=True)
        (v3 / "quintrel.exe").write_bytes(S.QUINTREL_EXE)
        (v3 / "Estr.bin").write_bytes(S.VECCHIO_ESTR_30)
        for percorso, contenuto in self.sc.virtuali.items():
            copia = self.p.unix(percorso)
            copia.parent.mkdir(parents=True, exist_ok=True)
            copia.write_bytes(contenuto)
        for percorso in self.sc.nascosti:
            # Hidden and system, as Wine keeps the DOS attributes of a Linux file.
            os.setxattr(self.p.unix(percorso), "user.DOSATTRIB", b"0x6")
        if self.sc.dati == "nascosto":
            stato, uscita = self.p.wine([CARTELLA_TEST + "\\e2e_holder.exe", "hide",
                                         self.sc.cartella_4 + "\\Dati.lib"], timeout=60)
            if stato != 0:
                raise Fallito("cannot hide Dati.lib: " + uscita)

    def albero(self):
        """Every file under the scenario's folders (cartelle_dei_file): {Windows path: bytes}."""
        risultato = {}
        drive = self.p.pfx / "drive_c"
        for cartella in self.cartelle_dei_file():
            for file in sorted(self.p.unix(cartella).rglob("*")):
                if file.is_file():
                    risultato["C:\\" + "\\".join(file.relative_to(drive).parts)] = file.read_bytes()
        return risultato

    def tieni_aperto(self):
        pronto = self.p.unix(CARTELLA_TEST + "\\pronto")
        for f in (pronto, Path(str(pronto) + ".stop")):
            f.unlink(missing_ok=True)
        self.uscita_holder = open(self.uscita / "holder.txt", "wb")
        self.holder = subprocess.Popen(
            ["wine", CARTELLA_TEST + "\\e2e_holder.exe", "write" if self.sc.in_scrittura else "hold",
             self.sc.tieni_aperto, CARTELLA_TEST + "\\pronto"],
            env=self.p.env, stdin=subprocess.DEVNULL, stdout=self.uscita_holder, stderr=self.uscita_holder)
        scadenza = time.monotonic() + 30
        while not pronto.exists():
            if self.holder.poll() is not None:
                raise Fallito(f"the holder could not open {self.sc.tieni_aperto} (see holder.txt)")
            if time.monotonic() > scadenza:
                raise Fallito("the holder did not report the file open within 30 s")
            time.sleep(0.1)

    def rilascia(self):
        if self.holder is None:
            return
        Path(str(self.p.unix(CARTELLA_TEST + "\\pronto")) + ".stop").write_bytes(b"")
        try:
            self.holder.wait(10)
        except subprocess.TimeoutExpired:
            self.holder.kill()
            self.holder.wait(5)
        self.uscita_holder.close()

    # The run --------------------------------------------------------------------------------------
    def avvia(self):
        env = dict(self.p.env, WINEDEBUG=os.environ.get("AGGIORNA_E2E_WINEDEBUG", "+msgbox"),
                   AGGIORNA_E2E_COM_LOG=LOG_COM, **self.sc.env)
        self.trace = self.uscita / "trace.txt"
        self.file_trace = open(self.trace, "wb")
        self.programma = subprocess.Popen(
            ["wine", S.CARTELLA_PROGRAMMA + "\\AggiornaArchivio.exe"], env=env,
            stdin=subprocess.DEVNULL, stdout=self.file_trace, stderr=self.file_trace)

    def finito(self):
        return self.programma.poll() is not None

    def aspetta_box(self, n, attesa):
        """Waits for box n (from 1): its text from the trace and its window. None if the program ends."""
        scadenza = time.monotonic() + attesa
        while True:
            testi = testi_box(self.trace)
            if len(testi) >= n:
                # The box before has left the screen (rispondi waits for it): any named window is this one.
                finestre = self.d.finestre()
                if finestre:
                    wid = sorted(finestre, key=int)[-1]
                    return wid, finestre[wid], testi[n - 1]
            elif self.finito():
                return None
            if time.monotonic() > scadenza:
                stato = "its text is in the trace but no window showed" if len(testi) >= n else "no box came"
                raise Fallito(f"box {n}: {stato} within {attesa:.0f} s")
            time.sleep(0.1)

    def rispondi(self, n, wid, risposta):
        self.d.foto(self.uscita / f"box-{n}.png", wid)
        tasto = "Return" if risposta == S.OK else "Escape"
        # A key that reaches the box while Wine is still setting it up is lost: give it a moment,
        # and send the key again while the box stays. With no window manager Wine keeps a closed
        # box on the screen for 2 s (it waits for a withdrawal no manager confirms), so a key is
        # sent again only after longer than that, and never once the program has gone further.
        time.sleep(PAUSA_PRIMA_DEL_TASTO)
        for _ in range(4):
            self.d.xdotool("key", "--window", wid, tasto)
            traccia(f"box {n}: {tasto} sent")
            scadenza = time.monotonic() + ATTESA_CHIUSURA_BOX / 4
            while time.monotonic() < scadenza:
                if wid not in self.d.finestre():
                    return
                if len(testi_box(self.trace)) > n or self.finito():
                    break
                time.sleep(0.05)
            else:
                continue
            # Answered: the program has gone on; wait for the box to leave the screen.
            while wid in self.d.finestre():
                if time.monotonic() > scadenza + ATTESA_CHIUSURA_BOX:
                    raise Fallito(f"box {n} stayed on the screen after it was answered")
                time.sleep(0.05)
            return
        raise Fallito(f"box {n} did not close on {tasto} within {ATTESA_CHIUSURA_BOX:.0f} s")

    def boxes(self):
        for n, atteso in enumerate(self.sc.boxes, 1):
            trovato = self.aspetta_box(n, ATTESA_PRIMO_BOX if n == 1 else ATTESA_BOX)
            if trovato is None:
                raise Fallito(f"the program ended before box {n} ({mostra(atteso.testo)})")
            wid, titolo, testo = trovato
            traccia(f"box {n} shown")
            if (titolo, testo) != (atteso.titolo, atteso.testo):
                self.errori.append(f"box {n}: got caption {mostra(titolo)} text {mostra(testo)}; "
                                   f"expected caption {mostra(atteso.titolo)} text {mostra(atteso.testo)}")
            self.rispondi(n, wid, atteso.risposta)
            traccia(f"box {n} answered and closed")
        # Nothing more may come: any further box is a failure, answered OK so that the run can end.
        n = len(self.sc.boxes)
        scadenza = time.monotonic() + ATTESA_FINE
        while not self.finito():
            if len(testi_box(self.trace)) > n:
                n += 1
                trovato = self.aspetta_box(n, ATTESA_BOX)
                if trovato is None:
                    break
                wid, titolo, testo = trovato
                self.errori.append(f"unexpected box {n}: caption {mostra(titolo)} text {mostra(testo)}")
                self.rispondi(n, wid, S.OK)
                scadenza = time.monotonic() + ATTESA_FINE
            if time.monotonic() > scadenza:
                raise Fallito(f"the program did not end within {ATTESA_FINE:.0f} s after its last box")
            time.sleep(0.1)

    # Checks ---------------------------------------------------------------------------------------
    def controlla_file(self, prima):
        atteso = dict(prima)
        atteso.update(self.sc.scritti)
        dopo = self.albero()
        for percorso in sorted(set(atteso) | set(dopo)):
            if percorso not in dopo:
                self.errori.append(f"file missing after the run: {percorso}")
            elif percorso not in atteso:
                self.errori.append(f"file written that should not be: {percorso} ({len(dopo[percorso])} bytes)")
            elif dopo[percorso] != atteso[percorso]:
                self.errori.append(f"file {percorso}: {len(dopo[percorso])} bytes, not the "
                                   f"{len(atteso[percorso])} expected (starts {dopo[percorso][:24]!r})")

    def controlla_attributi(self):
        for percorso in self.sc.nascosti:
            try:
                valore = os.getxattr(self.p.unix(percorso), "user.DOSATTRIB").split(b"\0")[0].decode()
                bit = int(valore, 16) if valore.lower().startswith("0x") else int(valore)
            except (OSError, ValueError) as e:
                self.errori.append(f"{percorso}: no DOS attributes after the run ({e})")
                continue
            if bit & 6 != 6:
                self.errori.append(f"{percorso}: DOS attributes {valore} after the run, not hidden and system")

    def controlla_com(self):
        file_log = self.p.unix(LOG_COM)
        eventi = []
        if file_log.exists():
            shutil.copyfile(file_log, self.uscita / "com.log")
            eventi = [json.loads(r) for r in file_log.read_text("ascii").splitlines() if r.strip()]
        # The program ends with ExitProcess alone: no DLL is asked to unload (CoUninitialize) or
        # unloaded under its objects.
        for evento in eventi:
            if evento[0] in ("DllCanUnloadNow", "unload"):
                self.errori.append(f"COM log: {evento[1]} was {'asked to unload' if evento[0] == 'DllCanUnloadNow' else 'unloaded'}"
                                   " before the process ended (the apartment was closed)")
        eventi = [e for e in eventi if e[0] not in ("DllCanUnloadNow", "unload")]
        attesi = []
        for voce in self.sc.com:
            attesi += lettura_attesa() if voce == S.LETTURA else [voce]
        for i in range(max(len(attesi), len(eventi))):
            if i >= len(eventi):
                self.errori.append(f"COM log: ends after {len(eventi)} calls; next expected {riassunto(attesi[i])}")
                return
            if i >= len(attesi):
                self.errori.append(f"COM log: call {i + 1} not expected: {riassunto(eventi[i])}")
                return
            problema = confronta(attesi[i], eventi[i], eventi[i - 1] if i else None)
            if problema:
                self.errori.append(f"COM log, call {i + 1}: {problema}")
                return

    # The whole scenario -------------------------------------------------------------------------------
    def esegui(self):
        try:
            self.p.unix(LOG_COM).unlink(missing_ok=True)
            self.registro()
            traccia("registry written")
            self.cartelle()
            prima = self.albero()
            if self.sc.tieni_aperto:
                self.tieni_aperto()
            traccia("folders ready")
            self.avvia()
            self.boxes()
            traccia("program ended")
            self.rilascia()
            self.controlla_file(prima)
            self.controlla_attributi()
            self.controlla_com()
        except Fallito as e:
            self.errori.insert(0, str(e))
        except subprocess.TimeoutExpired as e:
            self.errori.insert(0, f"timed out: {' '.join(map(str, e.cmd))}")
        finally:
            self.chiudi()
        return self.errori

    def chiudi(self):
        rimasti = False
        if self.programma is not None and self.programma.poll() is None:
            rimasti = True
            self.programma.send_signal(signal.SIGKILL)
            self.programma.wait(10)
        if self.programma is not None:
            self.file_trace.close()
        if self.holder is not None and self.holder.poll() is None:
            self.rilascia()
        if rimasti:
            # A program killed in a box: stop every process of the prefix and start afresh.
            self.p.ferma_server()
            self.p.avvia_server()


# --- The COM log ---------------------------------------------------------------------------------------
OK_HR = "0x00000000"


def lettura_attesa():
    """The calls of the settings read of a valid "Dati.lib", in their fixed order."""
    eventi = [("create", "Cifratore"), ("create", "Decodificatore"), ("ImpostaChiave", S.chiave())]
    for testo in S.testi_decodificati():
        eventi += [("Decodifica",), ("Decifra", testo)]
    return eventi + [("release", "Cifratore"), ("release", "Decodificatore")]


def riassunto(evento, lunghezza=70):
    testo = " ".join(mostra(x) if isinstance(x, str) else json.dumps(x) for x in evento)
    return testo if len(testo) <= lunghezza else testo[:lunghezza] + "…"


def confronta(atteso, evento, precedente):
    """None when the logged call matches the expected one, else what differs."""
    nome = atteso[0]
    if not evento or evento[0] != nome:
        return f"expected {riassunto(atteso)}, got {riassunto(evento)}"
    if nome in ("create", "release"):
        return None if evento[1] == atteso[1] else f"expected {riassunto(atteso)}, got {riassunto(evento)}"
    if nome == "ImpostaChiave":
        if evento[1] != atteso[1] or evento[3] != OK_HR:
            return f"ImpostaChiave got key {mostra(evento[1])} ({evento[3]}), expected {mostra(atteso[1])}"
        return None
    if nome == "Decodifica":
        return None if evento[3] == OK_HR else f"Decodifica failed with {evento[3]}: {riassunto(evento)}"
    if nome == "Decifra":
        # The text handed to Decifra must be exactly what Decodifica returned just before.
        if precedente is None or precedente[0] != "Decodifica" or evento[1] != precedente[2]:
            return "Decifra did not receive the result of the Decodifica before it"
        if evento[3] != OK_HR or evento[2] != atteso[1]:
            return f"decoded {mostra(evento[2])} ({evento[3]}), expected {mostra(atteso[1])}"
        return None
    if nome == "aiuto":
        # The component's private DLL, called by CompletaAggiornamento just before.
        if precedente is None or precedente[0] != "CompletaAggiornamento" or evento[1] != atteso[1]:
            return f"expected {riassunto(atteso)} after CompletaAggiornamento, got {riassunto(evento)}"
        return None
    if nome == "CompletaAggiornamento":
        if evento[1] != atteso[1]:
            return f"CompletaAggiornamento got folder {mostra(evento[1])}, expected {mostra(atteso[1])}"
        presenti = evento[2]
        if presenti != {"Estr.bi_": len(S.NUOVO_ESTR), "bl.bin": len(S.NUOVO_BL)}:
            return f"CompletaAggiornamento called before both files were in place: {presenti}"
        return None
    return f"no rule for {nome}"


# --- Main ----------------------------------------------------------------------------------------------
def bit_programma(exe: Path) -> int:
    """32 or 64, from the machine field of the program's PE header."""
    dati = exe.read_bytes()[:4096]
    pe = int.from_bytes(dati[0x3C:0x40], "little")
    macchina = int.from_bytes(dati[pe + 4:pe + 6], "little")
    if dati[:2] != b"MZ" or dati[pe:pe + 4] != b"PE\0\0" or macchina not in (0x14C, 0x8664):
        raise SystemExit(f"{exe}: not a 32-bit or 64-bit x86 Windows program")
    return 32 if macchina == 0x14C else 64


def locale_italiano():
    r = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
    nomi = r.stdout.decode("utf-8", "replace").split()
    for nome in ("it_IT.utf8", "it_IT.UTF-8"):
        if nome in nomi:
            return "it_IT.UTF-8"
    return "C.UTF-8"


def main():
    parser = argparse.ArgumentParser(description="The Windows program end to end under Wine.")
    parser.add_argument("--exe", required=True, type=Path)
    parser.add_argument("--bin", required=True, type=Path)
    parser.add_argument("--scrivi-dati", required=True, type=Path)
    parser.add_argument("--out", required=True, type=Path)
    parser.add_argument("--keep-prefix", action="store_true")
    parser.add_argument("--window-frames", action="store_true",
                        help="boxes with their title bars, drawn by Wine, for pictures")
    parser.add_argument("--verbose", action="store_true", help="time each step")
    parser.add_argument("nomi", nargs="*", help="scenarios to run (default: all)")
    args = parser.parse_args()
    args.bit = bit_programma(args.exe)
    # Stopped from outside (a CI time limit): still end the prefix's processes and the display.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    global VERBOSE
    VERBOSE = args.verbose

    scelti = [s for s in S.SCENARI if not args.nomi or s.nome in args.nomi]
    ignoti = set(args.nomi) - {s.nome for s in S.SCENARI}
    if ignoti:
        log("unknown scenarios: " + ", ".join(sorted(ignoti)))
        return 2
    shutil.rmtree(args.out, ignore_errors=True)
    args.out.mkdir(parents=True)
    args.descrizione = args.out / "dati.txt"
    args.descrizione.write_text(S.descrizione_dati(), "utf-8")

    inizio = time.monotonic()
    # The ANSI code page must be Windows-1252, as on an Italian system: the Italian locale gives it.
    radice = Path(tempfile.mkdtemp(prefix="aggiorna-wine-e2e."))
    prefisso = display = None
    passati, falliti = [], []
    try:
        display = Display()
        prefisso = Prefisso(radice, locale_italiano(), display.nome)
        log(f"== making the Wine prefix {prefisso.pfx} (display {display.nome}; {args.bit}-bit program)")
        prefisso.crea(args.window_frames)
        cartella = prefisso.unix(CARTELLA_TEST)
        cartella.mkdir(parents=True, exist_ok=True)
        for nome in FILE_DI_PROVA:
            (cartella / nome).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(args.bin / nome, cartella / nome)
        log(f"   prefix ready in {time.monotonic() - inizio:.1f} s")
        for sc in scelti:
            uscita = args.out / sc.nome
            uscita.mkdir()
            t0 = time.monotonic()
            errori = Esecuzione(prefisso, display, args, sc, uscita).esegui()
            durata = time.monotonic() - t0
            if errori:
                falliti.append(sc.nome)
                log(f"FAIL {sc.nome} ({durata:.1f} s): {sc.cosa}")
                for e in errori:
                    log(f"     {e}")
                (uscita / "errors.txt").write_text("\n".join(errori) + "\n", "utf-8")
            else:
                passati.append(sc.nome)
                log(f"ok   {sc.nome} ({durata:.1f} s): {sc.cosa}")
    except Fallito as e:
        log(f"FAIL set-up: {e}")
        falliti.append("set-up")
    finally:
        if prefisso is not None:
            prefisso.ferma_server()
        if display is not None:
            display.chiudi()
        if args.keep_prefix:
            log(f"   prefix kept in {radice}")
        else:
            shutil.rmtree(radice, ignore_errors=True)
    log(f"   total {time.monotonic() - inizio:.1f} s; screenshots and logs in {args.out}")
    log(f"{len(passati)} passed, {len(falliti)} failed")
    return 1 if falliti else 0


if __name__ == "__main__":
    sys.exit(main())
