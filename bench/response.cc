#include "bench/response.h"

#include <algorithm>

#include "bench/device_record.h"
#include "image/byte_order.h"

static uint32_t ElementSize(uint16_t vartype) {
  switch (vartype) {
    case kVtI1:
    case kVtUi1:
      return 1;
    case kVtI2:
    case kVtUi2:
      return 2;
    default:
      return 4;
  }
}

// Repacks natural bytes into the shape's element type and count: elements
// are cut from the bytes in order, little-endian, and zero-padded.
static ArrayContents ShapeArray(std::vector<uint8_t> natural, uint16_t natural_vartype, const ArrayShape& shape) {
  ArrayContents out;
  out.null = shape.null;
  out.vartype = shape.vartype.value_or(natural_vartype);
  out.lower_bound = shape.lower_bound;
  const uint32_t size = ElementSize(out.vartype);
  const uint32_t natural_count = static_cast<uint32_t>((natural.size() + size - 1) / size);
  out.count = shape.count.value_or(natural_count);
  out.data = std::move(natural);
  out.data.resize(size_t{out.count} * size, 0);
  return out;
}

ArrayContents DetectResponse(const Bench& bench) {
  std::vector<uint8_t> bytes;
  for (const BenchDevice& device : bench.devices) {
    const std::vector<uint8_t> record = EncodeDeviceRecord(device);
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  return ShapeArray(std::move(bytes), kVtUi1, bench.detect_response);
}

ArrayContents IdentityList(const BenchDevice& device) {
  std::vector<uint16_t> elements;
  if (device.identity_list.elements) {
    elements = *device.identity_list.elements;
  } else {
    for (const Identity& identity : device.identities) {
      elements.push_back(identity.kind);
      elements.push_back(identity.number);
      elements.push_back(identity.level);
    }
  }
  std::vector<uint8_t> bytes(elements.size() * 2);
  for (size_t i = 0; i < elements.size(); ++i) WriteLittle16(bytes.data() + 2 * i, elements[i]);
  return ShapeArray(std::move(bytes), kVtUi2, device.identity_list);
}
