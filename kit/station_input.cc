#include "station_input.h"

#include "bench/text_encoding.h"

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Mark = "\xFF\xFE";

}  // namespace

std::vector<std::string> InputLines::Feed(std::string_view bytes) {
  pending_ += bytes;
  return Lines(false);
}

std::vector<std::string> InputLines::Finish() { return Lines(true); }

std::vector<std::string> InputLines::Lines(bool at_end) {
  std::vector<std::string> lines;
  if (!decided_) {
    // A mark may still be on its way.
    const bool partial = (pending_.size() < kUtf8Mark.size() && kUtf8Mark.starts_with(pending_)) ||
                         (pending_.size() < kUtf16Mark.size() && kUtf16Mark.starts_with(pending_));
    if (partial && !at_end) return lines;
    decided_ = true;
    if (pending_.starts_with(kUtf8Mark)) pending_.erase(0, kUtf8Mark.size());
    utf16_ = pending_.starts_with(kUtf16Mark);
    if (utf16_) pending_.erase(0, kUtf16Mark.size());
  }
  const size_t unit = utf16_ ? 2 : 1;
  auto is = [&](size_t at, char c) {
    return at + unit <= pending_.size() && pending_[at] == c && (unit == 1 || pending_[at + 1] == '\0');
  };
  auto emit = [&](std::string_view line) {
    if (!utf16_) {
      lines.emplace_back(line);
      return;
    }
    // Decoded as a text of its own; a surrogate out of its pair makes the
    // line U+FFFD, which is no serial number.
    const DecodedText text = DecodeText(std::string(kUtf16Mark) + std::string(line));
    lines.push_back(text.ok ? text.utf8 : "\xEF\xBF\xBD");
  };
  size_t start = 0;
  for (size_t at = 0; at + unit <= pending_.size(); at += unit) {
    if (!is(at, '\n') && !is(at, '\r')) continue;
    // A CR at the end of what has come so far may have its LF still to come.
    if (is(at, '\r') && at + unit == pending_.size() && !at_end) break;
    emit(std::string_view(pending_.data() + start, at - start));
    if (is(at, '\r') && is(at + unit, '\n')) at += unit;
    start = at + unit;
  }
  pending_.erase(0, start);
  if (at_end && !pending_.empty()) {
    emit(pending_);
    pending_.clear();
  }
  return lines;
}
