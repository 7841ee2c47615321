#ifndef K27_LIB_SHA256_H_
#define K27_LIB_SHA256_H_

#include <cstddef>
#include <cstdint>
#include <string>

// Lower-case hex SHA-256 of the bytes, as the journal names array contents.
std::string Sha256Hex(const uint8_t* data, size_t size);

#endif  // K27_LIB_SHA256_H_
