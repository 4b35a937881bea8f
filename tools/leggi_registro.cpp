// leggi_registro: answers questions about a Wine prefix's registry as the portable backend reads
// it, for comparing the backend with Wine itself (scripts/test-registry-diff).
//
//     leggi_registro PREFIX < questions
//
// Each question is one line, its fields separated by a tab and written in hex (UTF-8 bytes):
//     K <key path under HKLM>              answer: K <path> 1|0 (the key exists or not)
//     V <key path> <value name>            answer: V <path> <name> <type> <data in hex>
//                                          or V <path> <name> - when the value is missing,
//                                          or V <path> <name> <type> long <size> when it is
//                                          longer than the backend keeps.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/portable/wine_registry.h"

namespace {

std::string unhex(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return out;
}

template <typename Bytes>
std::string hex(const Bytes& bytes) {
    std::string out;
    char two[3];
    for (const auto b : bytes) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned>(static_cast<unsigned char>(b)));
        out += two;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace aggiorna;
    if (argc != 2) {
        std::cerr << "usage: leggi_registro PREFIX < questions\n";
        return 2;
    }
    portable::WineRegistry registry(argv[1]);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (!line.empty() && line.back() == '\t') fields.emplace_back();  // the default value's name
        if (fields.size() < 2) continue;
        const RegKey key = registry.open_key(kHkeyLocalMachine, unhex(fields[1]), reg_access::read);
        if (fields[0] == "K") {
            std::cout << "K\t" << fields[1] << '\t' << (key ? 1 : 0) << '\n';
        } else if (fields[0] == "V" && fields.size() == 3) {
            std::cout << "V\t" << fields[1] << '\t' << fields[2] << '\t';
            const auto value = key ? registry.query_raw(key, unhex(fields[2])) : std::nullopt;
            if (!value) std::cout << "-\n";
            else if (!value->complete()) std::cout << value->type << "\tlong " << value->size << '\n';
            else std::cout << value->type << '\t' << hex(value->data) << '\n';
        }
        if (key) registry.close_key(key);
    }
    return 0;
}
