// The log the test COM servers write (one JSON array a line), checked against a scenario's calls.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "scenarios.h"

namespace kit {

// One logged event: its name, then its elements as text (a JSON object, such as the files
// CompletaAggiornamento saw, as "name=number" pairs joined by ",").
using Event = std::vector<std::wstring>;

// The events of a log file's text; a line that is no JSON array gives an event named "?".
std::vector<Event> parse_log(const std::string& text);

// What differs between the logged events and the calls expected (`reading` stands for the call
// "lettura"); empty when they match. `files` are the sizes CompletaAggiornamento must have seen.
std::vector<std::string> check_calls(const std::vector<Event>& events, const std::vector<Call>& expected,
                                     const std::vector<Call>& reading, const std::wstring& files);

}  // namespace kit
