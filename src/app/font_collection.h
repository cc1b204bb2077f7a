#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace orrin {

// The index of the face in a TrueType/OpenType collection (a 'ttcf' file) whose family or
// full name, in any of its name records, is `name` (UTF-8, ASCII letters matched without
// regard to case). -1 when the bytes are not a collection or no face has that name.
int CollectionFaceIndex(std::span<const uint8_t> collection, const std::string& name);

}  // namespace orrin
