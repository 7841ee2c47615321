#include "model/journal.h"

namespace model {

bool TouchesDevice(std::string_view op) {
  return op == "AcquireGroup" || op == "EraseStart" || op == "ErasePoll" || op == "Program" || op == "Reset";
}

std::vector<nlohmann::json> ParseJournal(std::string_view text) {
  std::vector<nlohmann::json> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string_view::npos; start = nl + 1) {
    nlohmann::json line = nlohmann::json::parse(text.substr(start, nl - start), nullptr, false);
    if (line.is_discarded()) line = {{"op", "(unreadable journal line)"}};
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace model
