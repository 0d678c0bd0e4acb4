#include "base/input_kind.h"

#include "base/text_match.h"

namespace dwarfsift {

std::uint32_t ClassifyInputName(std::string_view input_name) {
  const std::size_t dot = FindExtension(input_name);
  if (dot == input_name.size()) return 0;
  const std::string_view extension = input_name.substr(dot + 1);
  struct Kind {
    std::string_view word;
    std::uint32_t bit;
  };
  static constexpr Kind kKinds[] = {{"x", kInputKindX},
                                    {"elf", kInputKindElf},
                                    {"abs", kInputKindAbs},
                                    {"out", kInputKindOut}};
  for (const Kind& kind : kKinds) {
    if (MatchWordNoCase(extension, kind.word)) return kind.bit;
  }
  return 0;
}

}  // namespace dwarfsift
