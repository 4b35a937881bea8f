// Entry point of the portable build: the core over a Wine prefix, the terminal and POSIX files.
#include <csignal>
#include <iostream>

#include "platform/portable/portable_components.h"
#include "platform/portable/posix_files.h"
#include "platform/portable/posix_locale.h"
#include "platform/portable/posix_process.h"
#include "platform/portable/prefix.h"
#include "platform/portable/run_log.h"
#include "platform/portable/terminal_boxes.h"
#include "platform/portable/wine_registry.h"
#include "platform/portable/xdg_shell.h"
#include "update/aggiornamento.h"

int main() {
    using namespace aggiorna;
    using namespace aggiorna::portable;

    // A closed terminal or pipe makes writes fail (the boxes then close) instead of ending the run
    // silently between two steps.
    std::signal(SIGPIPE, SIG_IGN);
    const auto prefix = wine_prefix();
    WineRegistry registry(prefix);
    TerminalMessageBoxes boxes(std::cin, std::cout);
    PosixFileSystem files(prefix);
    XdgShell shell;
    PosixLocale locale;
    PortableComponents components(prefix, boxes);
    PosixProcess process(prefix);
    FileRunLog log;
    Platform platform{registry, boxes, files, shell, locale, components, process, log};
    EseguiAggiornamento(platform);
}
