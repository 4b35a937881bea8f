// The calls the test COM servers log for the settings read of a valid "Dati.lib", worked out from
// the description the kit's Dati.lib was written from.
#include <algorithm>
#include <sstream>

#include "platform/windows/text.h"
#include "scenarios.h"
#include "system_state.h"

namespace kit {

using aggiorna::windows::to_wide_lossy;

std::vector<Call> settings_read(const std::wstring& description_file) {
    // The description: "Name = value" for the 19 general fields in their order, then ID, PW0..PW9
    // (quoted), the file list, and tips ("tip = N | "text"").
    std::istringstream file(read_file(description_file).value_or(""));
    std::vector<std::wstring> fields, passwords, tips;
    std::wstring id;
    std::string line;
    const auto unquoted = [](std::string v) {
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        return to_wide_lossy(v);
    };
    while (std::getline(file, line)) {
        const std::size_t eq = line.find(" = ");
        if (eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq);
        const std::string value = line.substr(eq + 3);
        if (name == "ID") {
            id = unquoted(value);
        } else if (name.rfind("PW", 0) == 0) {
            passwords.push_back(unquoted(value));
        } else if (name == "tip") {
            tips.push_back(unquoted(value.substr(value.find(" | ") + 3)));
        } else if (name != "file") {
            fields.push_back(to_wide_lossy(value));
        }
    }
    // The order in which the program decodes the general block's fields (numbered from 1).
    const int order[] = {1, 2, 3, 4, 8, 9, 10, 11, 12, 13, 14, 15, 18, 6, 7, 5, 17, 16};
    std::vector<std::wstring> texts;
    for (int k : order) {
        std::wstring field = k - 1 < static_cast<int>(fields.size()) ? fields[k - 1] : L"";
        field.resize(std::max<std::size_t>(field.size(), 160), L' ');
        texts.push_back(field);
    }
    texts.push_back(id);
    texts.insert(texts.end(), passwords.begin(), passwords.end());
    texts.insert(texts.end(), tips.begin(), tips.end());

    // The key the program hands to Cifratore, built as the program builds it.
    const int steps[] = {7, 3, 11, 5, 2, 13, 17, 1};
    int state = 0x51;
    std::wstring key;
    for (int i = 0; i < 16; ++i) {
        state = (state * 33 + steps[i % 8] + i) % 9973;
        if (i % 3 == 2) key += static_cast<wchar_t>(L'0' + state % 10);
        else if (i % 2 == 0) key += static_cast<wchar_t>(L'A' + state % 26);
        else key += static_cast<wchar_t>(L'a' + state % 26);
    }
    std::vector<Call> calls = {{L"create", L"Cifratore"}, {L"create", L"Decodificatore"}, {L"ImpostaChiave", key}};
    for (const std::wstring& text : texts) {
        calls.push_back({L"Decodifica", L""});
        calls.push_back({L"Decifra", text});
    }
    calls.push_back({L"release", L"Cifratore"});
    calls.push_back({L"release", L"Decodificatore"});
    return calls;
}

}  // namespace kit
