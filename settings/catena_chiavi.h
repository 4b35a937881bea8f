// A chain of registry keys opened one path component at a time, each closed exactly once.
#pragma once

#include <initializer_list>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace aggiorna {

class CatenaChiavi {
public:
    explicit CatenaChiavi(Registry& registro) : registro_(registro) {}
    // Closes every key opened, the last first; a failure to close is not reported, since the
    // value was already read.
    ~CatenaChiavi() {
        for (auto it = aperte_.rbegin(); it != aperte_.rend(); ++it) {
            try {
                registro_.close_key(*it);
            } catch (...) {
            }
        }
    }
    CatenaChiavi(const CatenaChiavi&) = delete;
    CatenaChiavi& operator=(const CatenaChiavi&) = delete;

    // Opens `percorso` below `radice`, each component relative to the one before, with `accesso`.
    // Returns the last key, or 0 as soon as one is missing or refused.
    RegKey Apri(RegKey radice, std::initializer_list<std::string_view> percorso, std::uint32_t accesso) {
        RegKey chiave = radice;
        for (auto nome : percorso) {
            chiave = registro_.open_key(chiave, nome, accesso);
            if (chiave == 0) return 0;
            aperte_.push_back(chiave);
        }
        return chiave;
    }

private:
    Registry& registro_;
    std::vector<RegKey> aperte_;
};

}  // namespace aggiorna
