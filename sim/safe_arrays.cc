#include "safe_arrays.h"

#include <cstring>

#include "journal.h"
#include "lib/sha256.h"

SAFEARRAY* MakeSafeArray(const ArrayContents& contents, HRESULT* hr) {
  *hr = S_OK;
  if (contents.null) return nullptr;
  SAFEARRAYBOUND bound;
  bound.cElements = contents.count;
  bound.lLbound = contents.lower_bound;
  SAFEARRAY* array = SafeArrayCreate(contents.vartype, 1, &bound);
  if (!array) {
    *hr = E_OUTOFMEMORY;
    return nullptr;
  }
  if (!contents.data.empty()) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
      SafeArrayDestroy(array);
      *hr = E_OUTOFMEMORY;
      return nullptr;
    }
    std::memcpy(data, contents.data.data(), contents.data.size());
    SafeArrayUnaccessData(array);
  }
  return array;
}

ReceivedArray ReadSafeArray(SAFEARRAY* array) {
  ReceivedArray out;
  if (!array) return out;
  out.null = false;
  VARTYPE vt = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(array, &vt))) out.vartype = vt;
  out.dims = SafeArrayGetDim(array);
  if (out.dims == 0) return out;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  out.lower_bound = lower;
  out.count = static_cast<uint32_t>(static_cast<int64_t>(upper) - lower + 1);
  // Every dimension's elements, as stored.
  size_t total = SafeArrayGetElemsize(array);
  for (UINT d = 0; d < out.dims; ++d) total *= array->rgsabound[d].cElements;
  void* data = nullptr;
  if (total && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    out.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + total);
    SafeArrayUnaccessData(array);
  }
  return out;
}

nlohmann::json DescribeReceived(const ReceivedArray& array, const std::string& op) {
  if (array.null) return nullptr;
  nlohmann::json d = {{"vartype", array.vartype}, {"dims", array.dims}, {"lower_bound", array.lower_bound},
                      {"count", array.count}, {"length", array.data.size()},
                      {"sha256", Sha256Hex(array.data.data(), array.data.size())}};
  const std::string file = JournalDump(op, array.data.data(), array.data.size());
  if (!file.empty()) d["file"] = file;
  return d;
}

nlohmann::json DescribeHandedOut(const ArrayContents& contents) {
  if (contents.null) return nullptr;
  return {{"vartype", contents.vartype}, {"lower_bound", contents.lower_bound}, {"count", contents.count},
          {"length", contents.data.size()}, {"sha256", Sha256Hex(contents.data.data(), contents.data.size())}};
}
