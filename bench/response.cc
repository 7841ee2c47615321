#include "bench/response.h"

#include <algorithm>

#include "model/device_record.h"

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

std::vector<uint8_t> EncodeDeviceRecord(const BenchDevice& device) {
  std::vector<uint8_t> record = model::EncodeDeviceRecord(device);
  for (const RecordPatch& patch : device.patches) {
    std::copy(patch.bytes.begin(), patch.bytes.end(), record.begin() + patch.offset);
  }
  return record;
}

ArrayContents DetectResponse(const Bench& bench) {
  std::vector<uint8_t> bytes;
  for (const BenchDevice& device : bench.devices) {
    const std::vector<uint8_t> record = EncodeDeviceRecord(device);
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  return ShapeArray(std::move(bytes), kVtUi1, bench.detect_response);
}

std::vector<uint16_t> IdentityElements(const BenchDevice& device) {
  if (device.identity_list.elements) return *device.identity_list.elements;
  std::vector<uint16_t> elements;
  for (const Identity& i : device.identities) elements.insert(elements.end(), {i.kind, i.number, i.level});
  return elements;
}

ArrayContents IdentityList(const BenchDevice& device) {
  const std::vector<uint16_t> elements = IdentityElements(device);
  std::vector<uint8_t> bytes(elements.size() * 2);
  for (size_t i = 0; i < elements.size(); ++i) model::PutLittle(bytes.data() + 2 * i, 2, elements[i]);
  return ShapeArray(std::move(bytes), kVtUi2, device.identity_list);
}
