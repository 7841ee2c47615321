#ifndef K27_SIM_SAFE_ARRAYS_H_
#define K27_SIM_SAFE_ARRAYS_H_

// Safe arrays both ways: the ones the server hands out, made from plain
// contents, and the ones it receives, described for the journal.

#include <windows.h>
#include <oleauto.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/response.h"

// A new one-dimensional array with the contents, or null when the contents
// say null. Sets *hr to E_OUTOFMEMORY when the array cannot be made.
SAFEARRAY* MakeSafeArray(const ArrayContents& contents, HRESULT* hr);

// What an array holds, as the journal tells it.
struct ReceivedArray {
  bool null = true;
  uint16_t vartype = 0;
  uint32_t dims = 0;
  int32_t lower_bound = 0;
  uint32_t count = 0;
  std::vector<uint8_t> data;  // the raw element bytes
};

ReceivedArray ReadSafeArray(SAFEARRAY* array);

// The journal's description: type, bounds, length, SHA-256 and the file the
// bytes went to.
nlohmann::json DescribeReceived(const ReceivedArray& array, const std::string& op);
nlohmann::json DescribeHandedOut(const ArrayContents& contents);

#endif  // K27_SIM_SAFE_ARRAYS_H_
