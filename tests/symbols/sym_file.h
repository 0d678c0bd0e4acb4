// The records of a SYM file read back by the tests: each record's fields by
// name and its location rows.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace dwarfsift::testing {

using SymRow = std::array<std::int64_t, 5>;  // begin, end, opcode, operand1, operand2

struct SymFileRecord {
  std::map<std::string, std::string> fields;
  std::vector<SymRow> rows;

  std::string Field(const std::string& key) const {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
  }
  // The field as a number in `base`; -1 when the record has no such field.
  std::int64_t Number(const std::string& key, int base) const {
    const std::string text = Field(key);
    return text.empty() ? -1 : std::stoll(text, nullptr, base);
  }
};

inline std::vector<SymFileRecord> ReadSymFile(const std::string& path) {
  std::vector<SymFileRecord> records;
  std::istringstream lines(ReadFileText(path));
  std::string line;
  static const std::regex kField(R"(^\+ (\w+)\[(.*)\]\r$)");
  std::smatch m;
  while (std::getline(lines, line)) {
    if (line.starts_with(": index[")) records.emplace_back();
    if (records.empty() || !std::regex_match(line, m, kField)) continue;
    if (m[1] != "floc") {
      records.back().fields[m[1]] = m[2];
      continue;
    }
    int index = 0;
    unsigned begin = 0, end = 0, opcode = 0;
    int operand1 = 0, operand2 = 0;
    const std::string row = m[2];
    if (std::sscanf(row.c_str(), "%d 0x%X 0x%X 0x%X %d %d", &index, &begin, &end, &opcode,
                    &operand1, &operand2) == 6) {
      records.back().rows.push_back({begin, end, opcode, operand1, operand2});
    }
  }
  return records;
}

}  // namespace dwarfsift::testing
