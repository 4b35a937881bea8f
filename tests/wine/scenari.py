# The end-to-end scenarios of the Windows program under Wine: one row each, with the host set-up,
# the boxes expected in order (caption, text, answer), the files expected and the COM calls.
import getpass
from dataclasses import dataclass, field
from typing import Optional

# --- The boxes' texts, exactly as the program shows them. ------------------------------------------
CR = "\r"
TITOLO = "Aggiornamento Archivio"
TITOLO_IMPOSTAZIONI = "Quintrel! Professional"
IMPOSSIBILE = "Impossibile effettuare l'aggiornamento dell'archivio estrazioni."
NON_TROVATO = "Non è presente alcuna versione di Quintrel! Professional." + CR + CR + IMPOSSIBILE
CONFERMA_4 = "Prima di continuare accertarsi che Quintrel! Professional 4 non sia in esecuzione."
CONFERMA_30 = "Prima di continuare accertarsi che Quintrel! Professional 3.0 non sia in esecuzione."
RIUSCITO = "L'aggiornamento è stato eseguito correttamente."
IN_USO = "Non è stato possibile effettuare l'aggiornamento perchè Quintrel! Professional è in esecuzione."
DATI_MANCANTE = "File delle impostazioni mancante. Impossibile continuare."
DATI_NON_VALIDO = "Il file delle impostazioni non è valido. Impossibile continuare"


ESTRARRE = ("Estrarre tutti i file dell'archivio scaricato in un'unica cartella e avviare il programma da "
            "quella cartella.")


def mancanti(nomi, cartella):
    testa = (f"Il file {nomi[0]} non si trova" if len(nomi) == 1
             else f"I file {' e '.join(nomi)} non si trovano")
    return testa + " nella cartella del programma:" + CR + cartella + CR + CR + ESTRARRE


def copia_fallita(nome, cartella):
    return f"Non è stato possibile copiare il file {nome} in {cartella}." + CR + CR + IMPOSSIBILE


# --- The host installations and the files shipped beside the program. -----------------------------
CARTELLA_PROGRAMMA = "C:\\Aggiorna"
CARTELLA_4 = "C:\\Programmi\\Quintrel4"
CARTELLA_4_ACCENTATA = "C:\\Programmi\\Quintrèl 4"
CARTELLA_30 = "C:\\Programmi\\Quintrel"
CARTELLA_30_SPAZIO = "C:\\Programmi\\Quintrel 3"
# A folder that Windows virtualizes (Program Files), and this user's VirtualStore in the prefix:
# Wine names the profile folder after the Linux user.
CARTELLA_30_PROGRAM_FILES = "C:\\Program Files\\Quintrel"
VIRTUAL_STORE = "C:\\users\\" + getpass.getuser() + "\\AppData\\Local\\VirtualStore"


def _contenuto(etichetta, lunghezza):
    # Distinct, recognisable contents of distinct lengths, with every byte value in them.
    corpo = bytes((i * 7 + len(etichetta)) % 256 for i in range(lunghezza))
    return etichetta.encode("ascii") + b"\n" + corpo


NUOVO_ESTR = _contenuto("ESTR-NUOVO", 4099)
NUOVO_BL = _contenuto("BL-NUOVO", 1531)
VECCHIO_ESTR_4 = _contenuto("ESTR-V4-VECCHIO", 3001)
VECCHIO_BL_4 = _contenuto("BL-V4-VECCHIO", 977)
VECCHIO_ESTR_BI_4 = _contenuto("ESTR-BI_-V4-RESIDUO", 313)
VECCHIO_ESTR_30 = _contenuto("ESTR-V3-VECCHIO", 2003)
VECCHIO_ESTR_30_VIRTUALE = _contenuto("ESTR-V3-VIRTUALE", 1777)
QUINTREL_EXE = _contenuto("MZ quintrel.exe segnaposto", 64)

# --- "Dati.lib": the values written with scrivi_dati_lib, which the decoding must give back. -------
CAMPI = [
    "Società Quibex S.r.l.", "Software per il gioco del Lotto", "Forlì", "Italia", "riservato",
    "info@quibex.it", "www.quibex.it", "IT60 X054 2811 1010 0000 0123 456", "Quibex S.r.l.",
    "49.90", "30", "10", "15", "20", "7.5", "ftp.quibex.it", "www.quibex.it/aggiornamenti",
    "Distribuzione diretta", "campo 19",
]
# The order in which the program decodes the general block's fields (numbered from 1).
ORDINE_CAMPI = [1, 2, 3, 4, 8, 9, 10, 11, 12, 13, 14, 15, 18, 6, 7, 5, 17, 16]
ID = "Q4-000123  "  # trailing blanks: kept as decoded
PW = ["alfa", "beta", "però", "delta", "epsilon", "zeta", "eta", "theta", "iota", ""]
FILE_ELENCO = ["Estr.bin", "bl.bin"]
TIPS = [(1, "Per aggiornare l'archivio usate il menu Archivio."),
        (2, "Il prezzo è indicato in €, IVA inclusa."),
        (7, "  spazi iniziali e finali  ")]


def testi_decodificati():
    """The plain texts that Decifra must give back, in the order of the calls."""
    return ([CAMPI[k - 1].ljust(160) for k in ORDINE_CAMPI] + [ID] + PW + [t for _, t in TIPS])


def descrizione_dati():
    """The description of "Dati.lib" for scrivi_dati_lib."""
    nomi = ["Societa", "DescrizioneSocieta", "Citta", "Nazione", "Campo5", "email", "IndirizzoWeb",
            "NumeroConto", "IntestazioneConto", "PrezzoBaseEuro", "PercAggiornamento", "Sconto2",
            "Sconto3", "Sconto3piu", "PercPrezzoSped", "IndirizzoFTP", "IndAggiornamento",
            "Provenienza", "Campo19"]
    righe = [f"{n} = {v}" for n, v in zip(nomi, CAMPI)]
    righe.append(f'ID = "{ID}"')
    righe += [f'PW{i} = "{p}"' for i, p in enumerate(PW)]
    righe += [f"file = {f}" for f in FILE_ELENCO]
    righe += [f'tip = {n} | "{t}"' for n, t in TIPS]
    return "\n".join(righe) + "\n"


def chiave():
    """The key the program hands to Cifratore, built as the program builds it."""
    passi = [7, 3, 11, 5, 2, 13, 17, 1]
    stato, testo = 0x51, ""
    for i in range(16):
        stato = (stato * 33 + passi[i % 8] + i) % 9973
        if i % 3 == 2:
            testo += chr(ord("0") + stato % 10)
        elif i % 2 == 0:
            testo += chr(ord("A") + stato % 26)
        else:
            testo += chr(ord("a") + stato % 26)
    return testo


# --- The table. ----------------------------------------------------------------------------------
OK, ANNULLA = "ok", "annulla"


@dataclass
class Box:
    titolo: str
    testo: str
    risposta: str  # OK (Return) or ANNULLA (Escape)


# COM log entries expected, in order:
CREA_AGG = ("create", "ComponenteAggiornamento")
RILASCIA_AGG = ("release", "ComponenteAggiornamento")
LETTURA = ("lettura",)  # the whole settings read: Cifratore, Decodificatore, key, every text, releases


def completa(cartella):
    return ("CompletaAggiornamento", cartella)


def aiuto(cartella):
    """The update component's private DLL, called with the folder CompletaAggiornamento got."""
    return ("aiuto", cartella)


@dataclass
class Scenario:
    nome: str
    cosa: str                              # what the row shows, for the report
    boxes: list
    install_path: Optional[str] = None     # the version 4 "InstallPath" as stored; None: no key
    cartella_4: str = CARTELLA_4           # where the version 4 host's files are
    app_path: Optional[str] = None         # the App Paths value of quintrel.exe; None: no key
    cartella_30: str = CARTELLA_30
    dati: str = "valido"                   # valido, mancante, non_valido, nascosto
    estr_accanto: bool = True              # "Estr.bin" shipped beside the program
    bl_accanto: bool = True                # "bl.bin" shipped beside the program
    nascosti: tuple = ()                   # Windows paths of host files made hidden before the run
    residuo_estr_bi_: bool = False         # an old "Estr.bi_" already in the version 4 folder
    registrati: tuple = ("aggiornamento", "decodifica")  # COM servers registered
    tieni_aperto: Optional[str] = None     # a file the "running host" holds open (share mode 0)
    in_scrittura: bool = False             # tieni_aperto is held for writing, sharing everything
    virtuali: dict = field(default_factory=dict)  # Windows path -> content: the user's virtual copies
    env: dict = field(default_factory=dict)
    scritti: dict = field(default_factory=dict)  # Windows path -> content expected after the run
    com: list = field(default_factory=list)


def _in(cartella, nome):
    return cartella + "\\" + nome


STD_30 = _in(CARTELLA_30, "quintrel.exe")
V4_SCRITTI = {_in(CARTELLA_4, "Estr.bi_"): NUOVO_ESTR, _in(CARTELLA_4, "bl.bin"): NUOVO_BL}
V30_SCRITTI = {_in(CARTELLA_30, "Estr.bin"): NUOVO_ESTR}

SCENARI = [
    Scenario("nessuna_versione", "neither version: only the not-found box, nothing written",
             boxes=[Box(TITOLO, NON_TROVATO, OK)],
             com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("solo_30_ok", "only 3.0 (standard App Paths path), OK: archive replaced, success box",
             app_path=STD_30,
             boxes=[Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, RIUSCITO, OK)],
             scritti=V30_SCRITTI, com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("solo_30_annulla", "only 3.0, Cancel: nothing written, no further box",
             app_path=STD_30,
             boxes=[Box(TITOLO, CONFERMA_30, ANNULLA)],
             com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("solo_30_app_path_tra_virgolette",
             "only 3.0, App Paths path between quotes and with a blank: the folder inside the quotes",
             app_path='"' + _in(CARTELLA_30_SPAZIO, "quintrel.exe") + '"', cartella_30=CARTELLA_30_SPAZIO,
             boxes=[Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, RIUSCITO, OK)],
             scritti={_in(CARTELLA_30_SPAZIO, "Estr.bin"): NUOVO_ESTR}, com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("solo_4_ok_barra_finale",
             "only 4 stored with a trailing backslash, OK: Estr.bi_ (old one overwritten) and bl.bin "
             "written, Estr.bin untouched, the folder passed as stored, decoding calls in order",
             install_path=CARTELLA_4 + "\\", residuo_estr_bi_=True,
             boxes=[Box(TITOLO, CONFERMA_4, OK)],
             scritti=V4_SCRITTI,
             com=[CREA_AGG, LETTURA, completa(CARTELLA_4 + "\\"), RILASCIA_AGG]),
    Scenario("solo_4_annulla", "only 4, Cancel: settings still read, nothing written, no call",
             install_path=CARTELLA_4,
             boxes=[Box(TITOLO, CONFERMA_4, ANNULLA)],
             com=[CREA_AGG, LETTURA, RILASCIA_AGG]),
    Scenario("entrambe_ok_ok", "both (version 4 folder with an accented letter), OK and OK",
             install_path=CARTELLA_4_ACCENTATA, cartella_4=CARTELLA_4_ACCENTATA, app_path=STD_30,
             boxes=[Box(TITOLO, CONFERMA_4, OK), Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, RIUSCITO, OK)],
             scritti={_in(CARTELLA_4_ACCENTATA, "Estr.bi_"): NUOVO_ESTR,
                      _in(CARTELLA_4_ACCENTATA, "bl.bin"): NUOVO_BL, **V30_SCRITTI},
             com=[CREA_AGG, LETTURA, completa(CARTELLA_4_ACCENTATA), RILASCIA_AGG]),
    Scenario("entrambe_ok_annulla", "both, OK then Cancel: only version 4 written",
             install_path=CARTELLA_4, app_path=STD_30,
             boxes=[Box(TITOLO, CONFERMA_4, OK), Box(TITOLO, CONFERMA_30, ANNULLA)],
             scritti=V4_SCRITTI, com=[CREA_AGG, LETTURA, completa(CARTELLA_4), RILASCIA_AGG]),
    Scenario("entrambe_annulla_ok", "both, Cancel then OK: the 3.0 box still comes, only 3.0 written",
             install_path=CARTELLA_4, app_path=STD_30,
             boxes=[Box(TITOLO, CONFERMA_4, ANNULLA), Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, RIUSCITO, OK)],
             scritti=V30_SCRITTI, com=[CREA_AGG, LETTURA, RILASCIA_AGG]),
    Scenario("entrambe_annulla_annulla", "both, Cancel and Cancel: nothing written, no message",
             install_path=CARTELLA_4, app_path=STD_30,
             boxes=[Box(TITOLO, CONFERMA_4, ANNULLA), Box(TITOLO, CONFERMA_30, ANNULLA)],
             com=[CREA_AGG, LETTURA, RILASCIA_AGG]),
    Scenario("host_tiene_bl_bin",
             "both, the host holds the version 4 bl.bin open: in-use box, no 3.0 box, Estr.bi_ kept",
             install_path=CARTELLA_4, app_path=STD_30, tieni_aperto=_in(CARTELLA_4, "bl.bin"),
             boxes=[Box(TITOLO, CONFERMA_4, OK), Box(TITOLO, IN_USO, OK)],
             scritti={_in(CARTELLA_4, "Estr.bi_"): NUOVO_ESTR},
             # The run ends at the in-use box: the update component is never released by a call.
             com=[CREA_AGG, LETTURA]),
    Scenario("host_tiene_estr_bin_30", "only 3.0, the host holds its Estr.bin open: in-use box",
             app_path=STD_30, tieni_aperto=_in(CARTELLA_30, "Estr.bin"),
             boxes=[Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, IN_USO, OK)],
             com=[CREA_AGG]),
    Scenario("dati_mancante", "both, no Dati.lib: its message and nothing else, no decoding object",
             install_path=CARTELLA_4, app_path=STD_30, dati="mancante",
             boxes=[Box(TITOLO_IMPOSTAZIONI, DATI_MANCANTE, OK)], com=[CREA_AGG]),
    Scenario("dati_non_valido", "both, Dati.lib with a wrong identifying number: its message only",
             install_path=CARTELLA_4, app_path=STD_30, dati="non_valido",
             boxes=[Box(TITOLO_IMPOSTAZIONI, DATI_NON_VALIDO, OK)], com=[CREA_AGG]),
    Scenario("dati_nascosto", "both, Dati.lib hidden: the missing-file message only",
             install_path=CARTELLA_4, app_path=STD_30, dati="nascosto",
             boxes=[Box(TITOLO_IMPOSTAZIONI, DATI_MANCANTE, OK)], com=[CREA_AGG]),
    Scenario("componente_non_registrato",
             "only 4, update component not registered: both files written, no box after OK",
             install_path=CARTELLA_4, registrati=("decodifica",),
             boxes=[Box(TITOLO, CONFERMA_4, OK)], scritti=V4_SCRITTI, com=[LETTURA]),
    Scenario("componente_con_dll_propria",
             "only 4, the update component's server imports a DLL from its own folder (neither the "
             "program's nor System32): created and called, its DLL called too",
             install_path=CARTELLA_4, registrati=("aggiornamento_cartella_propria", "decodifica"),
             boxes=[Box(TITOLO, CONFERMA_4, OK)], scritti=V4_SCRITTI,
             com=[CREA_AGG, LETTURA, completa(CARTELLA_4), aiuto(CARTELLA_4), RILASCIA_AGG]),
    Scenario("completa_fallisce",
             "both, CompletaAggiornamento fails: no box of the run for it, the 3.0 box follows",
             install_path=CARTELLA_4, app_path=STD_30, env={"AGGIORNA_E2E_COMPLETA_HRESULT": "80004005"},
             boxes=[Box(TITOLO, CONFERMA_4, OK), Box(TITOLO, CONFERMA_30, ANNULLA)],
             scritti=V4_SCRITTI, com=[CREA_AGG, LETTURA, completa(CARTELLA_4), RILASCIA_AGG]),
    Scenario("estr_mancante_30",
             "only 3.0, no Estr.bin beside the program (started from inside the zip): one box naming "
             "it and the folder, no confirmation, nothing written",
             app_path=STD_30, estr_accanto=False,
             boxes=[Box(TITOLO, mancanti(["Estr.bin"], CARTELLA_PROGRAMMA), OK)],
             com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("estr_mancante_4",
             "only 4, no Estr.bin beside the program: one box naming it, no settings read, no copy",
             install_path=CARTELLA_4, estr_accanto=False,
             boxes=[Box(TITOLO, mancanti(["Estr.bin"], CARTELLA_PROGRAMMA), OK)],
             com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("avviato_dallo_zip",
             "both, the program alone in its folder as Explorer starts it from inside the zip: one box "
             "naming both files, no Estr.bi_ left",
             install_path=CARTELLA_4, app_path=STD_30, estr_accanto=False, bl_accanto=False,
             boxes=[Box(TITOLO, mancanti(["Estr.bin", "bl.bin"], CARTELLA_PROGRAMMA), OK)],
             com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("solo_30_senza_bl",
             "only 3.0 and no bl.bin beside the program: version 3.0 needs none, updated as usual",
             app_path=STD_30, bl_accanto=False,
             boxes=[Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, RIUSCITO, OK)],
             scritti=V30_SCRITTI, com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("archivio_nascosto_30",
             "only 3.0 whose Estr.bin is hidden and system: replaced, and still hidden and system",
             app_path=STD_30, nascosti=(_in(CARTELLA_30, "Estr.bin"),),
             boxes=[Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, RIUSCITO, OK)],
             scritti=V30_SCRITTI, com=[CREA_AGG, RILASCIA_AGG]),
    Scenario("sorgente_trattenuta",
             "both, the delivered Estr.bin held without sharing (an unzip tool): the copy-failed box "
             "for each version, naming Estr.bin, no in-use box, nothing written",
             install_path=CARTELLA_4, app_path=STD_30, tieni_aperto=_in(CARTELLA_PROGRAMMA, "Estr.bin"),
             boxes=[Box(TITOLO, CONFERMA_4, OK), Box(TITOLO, copia_fallita("Estr.bin", CARTELLA_4), OK),
                    Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, copia_fallita("Estr.bin", CARTELLA_30), OK)],
             com=[CREA_AGG, LETTURA, RILASCIA_AGG]),
    Scenario("consegna_in_scrittura",
             "both, the delivered Estr.bin still open for writing, sharing everything (a download or an "
             "extraction not done): the copy-failed box for each version, nothing written",
             install_path=CARTELLA_4, app_path=STD_30, tieni_aperto=_in(CARTELLA_PROGRAMMA, "Estr.bin"),
             in_scrittura=True,
             boxes=[Box(TITOLO, CONFERMA_4, OK), Box(TITOLO, copia_fallita("Estr.bin", CARTELLA_4), OK),
                    Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, copia_fallita("Estr.bin", CARTELLA_30), OK)],
             com=[CREA_AGG, LETTURA, RILASCIA_AGG]),
    Scenario("completa_in_uso",
             "both, CompletaAggiornamento fails with run-time error 75 (0x800A004B): the in-use box, "
             "no 3.0 box",
             install_path=CARTELLA_4, app_path=STD_30, env={"AGGIORNA_E2E_COMPLETA_HRESULT": "800A004B"},
             boxes=[Box(TITOLO, CONFERMA_4, OK), Box(TITOLO, IN_USO, OK)],
             scritti=V4_SCRITTI,
             # The run ends at the in-use box: the update component is never released by a call.
             com=[CREA_AGG, LETTURA, completa(CARTELLA_4)]),
    Scenario("virtualstore_30",
             "only 3.0 under Program Files, with this user's virtual copy of its Estr.bin (the host "
             "runs virtualized, this run does not, as under Wine): both replaced, success box",
             app_path=_in(CARTELLA_30_PROGRAM_FILES, "quintrel.exe"), cartella_30=CARTELLA_30_PROGRAM_FILES,
             virtuali={_in(VIRTUAL_STORE, "Program Files\\Quintrel\\Estr.bin"): VECCHIO_ESTR_30_VIRTUALE},
             boxes=[Box(TITOLO, CONFERMA_30, OK), Box(TITOLO, RIUSCITO, OK)],
             scritti={_in(CARTELLA_30_PROGRAM_FILES, "Estr.bin"): NUOVO_ESTR,
                      _in(VIRTUAL_STORE, "Program Files\\Quintrel\\Estr.bin"): NUOVO_ESTR},
             com=[CREA_AGG, RILASCIA_AGG]),
]
