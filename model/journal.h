#ifndef K27_MODEL_JOURNAL_H_
#define K27_MODEL_JOURNAL_H_

// The simulator's journal: one JSON object a line, each naming its call in
// "op".

#include <nlohmann/json.hpp>

#include <string_view>
#include <vector>

namespace model {

// The programming group and what follows: the calls that change the device.
bool TouchesDevice(std::string_view op);

// The journal's lines as far as they are written: a server may still be
// writing its last line, which is left out. A line that is no JSON reads as
// {"op": "(unreadable journal line)"}.
std::vector<nlohmann::json> ParseJournal(std::string_view text);

}  // namespace model

#endif  // K27_MODEL_JOURNAL_H_
