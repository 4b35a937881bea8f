// The files delivered beside the program: there, whole, and as the delivery's sums say.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "update/diario.h"

namespace aggiorna {

struct Consegna {
    std::vector<std::string> mancanti;     // not there, or a folder in their place
    std::vector<std::string> danneggiati;  // empty, not a plain file, unreadable, or not matching their sum
};

// Looks at the delivered files `nomi` in `cartella` (the program's folder) and, where the
// delivery holds "SHA256SUMS", checks each of them against its line. Writes what it finds to the
// log. Never throws.
Consegna ControllaConsegna(FileSystem& files, Diario& diario, const std::string& cartella,
                           const std::vector<std::string>& nomi);

// The sums of a "SHA256SUMS" text, as sha256sum writes it ("<64 hex digits>  <name>", or " *"
// before a name read in binary mode): the sum of `nome`, in lower case, or empty when no line
// names it. Names compare without regard to case, as Windows compares them.
std::string SommaDi(const std::string& somme, const std::string& nome);

}  // namespace aggiorna
