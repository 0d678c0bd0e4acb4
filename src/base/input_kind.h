// The class of the input by its name's extension, which decides how some
// phases read the file (the width of location-list expression lengths).
#pragma once

#include <cstdint>
#include <string_view>

namespace dwarfsift {

// The extension class of the input name (at most one bit is set).
enum InputKind : std::uint32_t {
  kInputKindX = 1,
  kInputKindElf = 2,
  kInputKindAbs = 4,
  kInputKindOut = 8,
};

std::uint32_t ClassifyInputName(std::string_view input_name);

}  // namespace dwarfsift
