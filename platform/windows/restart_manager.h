// Which programs hold a file open, as the Restart Manager names them, and which of them matter.
#pragma once

#include <string>
#include <vector>

namespace aggiorna::windows {

// What the Restart Manager says a holder is (RM_APP_TYPE): only services and critical processes
// matter to the decision, since the user cannot close them.
enum class HolderKind { application, service, critical };

struct Holder {
    std::wstring name;     // as the system shows the program to the user
    std::wstring program;  // full path of its program file; empty when the system would not say
    HolderKind kind = HolderKind::application;
};

// Whom to name to the user for a held file of the host.
struct OtherHolders {
    std::vector<std::string> names;  // each once, in order; empty for the host or nobody named
    bool all_services = false;       // every holder named is a service or a critical process
};

// The processes other than this one that hold `path` open. Empty when the Restart Manager is
// missing or fails, or names nobody (as Wine's does).
std::vector<Holder> restart_manager_holders(const std::wstring& path);

// The names to give the user for a file of the host in `host_folder` that `holders` hold: empty
// when nobody is named or one of them runs a program file from the host's folder (the host, or
// a program of its own: the in-use message says it), else each other program once, in order.
// A holder whose program file is unknown is named by the name the system gives it. When every
// holder named is a service or a critical process, the user is told to wait, not to close them.
OtherHolders holders_to_name(const std::vector<Holder>& holders, const std::wstring& host_folder);
// The names alone.
std::vector<std::string> other_holders(const std::vector<Holder>& holders, const std::wstring& host_folder);

}  // namespace aggiorna::windows
