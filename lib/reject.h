#ifndef K27_LIB_REJECT_H_
#define K27_LIB_REJECT_H_

#include <string>
#include <utility>

// A check that fails says why in `error` and returns false, in one line.
// `why` is taken by value, so it may be built from `error` itself.
inline bool Reject(std::string& error, std::string why) {
  error = std::move(why);
  return false;
}

#endif  // K27_LIB_REJECT_H_
