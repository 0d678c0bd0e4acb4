// Member groups and the MEB file: storing and sharing groups, and whole
// runs on real compiler output checked against llvm-dwarfdump's structure
// layouts (the .members facts build.sh writes beside each ELF).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/driver.h"
#include "symbols/members.h"
#include "symbols/symbol_table.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

namespace fs = std::filesystem;

using Fields = std::map<std::string, std::string>;

// The records of a SYM or MEB text, field by field.
std::vector<Fields> ParseRecords(const std::string& text) {
  std::vector<Fields> records;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with(": index[")) {
      records.emplace_back();
      records.back()["index"] = line.substr(8, line.size() - 9);
    } else if (line.starts_with("+ ") && !records.empty() && line.back() == ']') {
      const std::size_t open = line.find('[');
      records.back()[line.substr(2, open - 2)] = line.substr(open + 1, line.size() - open - 2);
    }
  }
  return records;
}

struct Converted {
  SymbolMemberArea area;
  std::vector<Fields> sym;
  std::string meb;
};

Converted Convert(const std::string& file) {
  testing::ScratchDir dir;
  const OutputFileSet names{dir.File("o.LXX"), dir.File("o.LIN"), dir.File("o.SYM"),
                            dir.File("o.MEB"), ""};
  const std::vector<std::uint8_t> image = testing::ReadFileBytes(file);
  RunContext run;
  std::string console;
  run.channel.CaptureConsole(&console);
  Converted out;
  out.area.Create();
  ConversionState state;
  RunConversion(names, image, run, out.area, state);
  out.sym = ParseRecords(testing::ReadFileText(names.sym));
  out.meb = testing::ReadFileText(names.meb);
  return out;
}

const Fields* FindSymbol(const std::vector<Fields>& records, const std::string& name) {
  for (const Fields& r : records) {
    if (r.count("name") && r.at("name") == name) return &r;
  }
  return nullptr;
}

int FieldInt(const Fields& r, const std::string& key) {
  return r.count(key) ? static_cast<int>(std::stol(r.at(key), nullptr, 0)) : 0;
}

struct FactMember {
  std::string name;
  int byte;
  int bit_size;  // -1: not a bit field
  int bit_offset;
};

// Direct members of each structure type, by section offset.
std::map<std::uint32_t, std::vector<FactMember>> ReadFacts(const std::string& path) {
  std::map<std::uint32_t, std::vector<FactMember>> facts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind, owner;
    fields >> kind >> owner;
    if (kind == "struct") facts[static_cast<std::uint32_t>(std::stoul(owner, nullptr, 16))];
    if (kind != "member") continue;
    FactMember m;
    std::string bits, bit_offset;
    fields >> m.name >> m.byte >> bits >> bit_offset;
    m.bit_size = bits == "-" ? -1 : std::stoi(bits);
    m.bit_offset = bit_offset == "-" ? -1 : std::stoi(bit_offset);
    facts[static_cast<std::uint32_t>(std::stoul(owner, nullptr, 16))].push_back(m);
  }
  return facts;
}

TEST(RealMembers, StructureVariablesCarryTheirTypesMembers) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(DWARFSIFT_TEST_DATA)) {
    if (entry.path().extension() != ".elf") continue;
    fs::path facts_path = entry.path();
    facts_path.replace_extension(".members");
    if (!fs::exists(facts_path)) continue;
    SCOPED_TRACE(entry.path().string());
    ++files;
    const auto facts = ReadFacts(facts_path.string());
    Converted run = Convert(entry.path().string());
    int structures = 0;
    for (const Fields& r : run.sym) {
      if (r.at("kind").find("STRUCT") == std::string::npos) continue;
      const int top = FieldInt(r, "mebtop");
      const int end = FieldInt(r, "mebend");
      ASSERT_LE(top, end) << r.at("name");
      ASSERT_LT(static_cast<std::size_t>(end), run.area.size());
      const auto layout = facts.find(run.area[static_cast<std::size_t>(top)].entry);
      ASSERT_NE(layout, facts.end()) << r.at("name");
      std::size_t next = 0;
      for (int i = top; i <= end; ++i) {
        const MemberRecord& m = run.area[static_cast<std::size_t>(i)];
        if (m.nest != 1) continue;
        ASSERT_LT(next, layout->second.size()) << r.at("name") << " " << m.name;
        const FactMember& want = layout->second[next++];
        EXPECT_EQ(want.name, m.name) << r.at("name");
        EXPECT_EQ(m.entry, layout->first) << m.name;
        if (want.bit_size < 0) {
          EXPECT_EQ(want.byte, m.location) << r.at("name") << "." << m.name;
          EXPECT_EQ(m.kind & kKindBit, 0) << m.name;
        } else {
          // The writer may move a bit field to another storage unit; the
          // bit it starts at stays the same.
          EXPECT_NE(m.kind & kKindBit, 0) << m.name;
          EXPECT_EQ(want.bit_size, m.bit_size) << m.name;
          EXPECT_EQ(want.byte * 8 + want.bit_offset, m.location * 8 + m.bit_off) << m.name;
        }
      }
      EXPECT_EQ(next, layout->second.size()) << r.at("name");
      ++structures;
    }
    EXPECT_GT(structures, 0);
  }
  EXPECT_GE(files, 2);
}

TEST(RealMembers, GroupsAreSharedNestedAndSelfReferencing) {
  for (const char* file : {"arm_le_dw2_types.elf", "ppc_be_dw4_types.elf"}) {
    SCOPED_TRACE(file);
    Converted run = Convert(testing::TestDataPath(file));
    const std::vector<Fields> meb = ParseRecords(run.meb);
    ASSERT_EQ(meb.size(), run.area.size());

    // Variables of one structure type, and a pointer to it, share a group.
    const Fields* pack = FindSymbol(run.sym, "pack");
    ASSERT_NE(pack, nullptr);
    for (const char* other : {"pack_copy", "pack_ptr"}) {
      const Fields* r = FindSymbol(run.sym, other);
      ASSERT_NE(r, nullptr) << other;
      EXPECT_EQ(FieldInt(*r, "mebtop"), FieldInt(*pack, "mebtop")) << other;
      EXPECT_EQ(FieldInt(*r, "mebend"), FieldInt(*pack, "mebend")) << other;
    }

    // The list node's pointer member spans the node's own members.
    const Fields* head = FindSymbol(run.sym, "head");
    ASSERT_NE(head, nullptr);
    const int head_top = FieldInt(*head, "mebtop");
    const Fields& next = meb[static_cast<std::size_t>(head_top) + 1];
    EXPECT_EQ(next.at("name"), "next");
    EXPECT_EQ(next.at("kind"), "POINTER STRUCT STRUCT2P ");
    EXPECT_EQ(FieldInt(next, "mebtop"), head_top);
    EXPECT_EQ(FieldInt(next, "mebend"), FieldInt(*head, "mebend"));

    // A nested structure member: its members follow it one level deeper.
    const Fields* outer = FindSymbol(run.sym, "outer");
    ASSERT_NE(outer, nullptr);
    const auto inner = static_cast<std::size_t>(FieldInt(*outer, "mebtop")) + 1;
    EXPECT_EQ(meb[inner].at("name"), "inner");
    EXPECT_EQ(FieldInt(meb[inner], "mebtop"), static_cast<int>(inner) + 1);
    EXPECT_EQ(FieldInt(meb[inner], "mebend"), 0);
    EXPECT_EQ(meb[inner + 1].at("nest"), "2");
    EXPECT_EQ(meb[inner + 4].at("name"), "tail");
    EXPECT_EQ(meb[inner + 4].at("nest"), "1");
  }
}

TEST(RealMembers, TypedefOfAnonymousStructureInTheMebFile) {
  Converted run = Convert(testing::TestDataPath("arm_le_dw2_types.elf"));
  const Fields* pair = FindSymbol(run.sym, "pair");
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->at("typen"), "void");
  EXPECT_EQ(pair->at("kind"), "STRUCT ");
  EXPECT_EQ(pair->at("mebtop"), "0");
  EXPECT_EQ(pair->at("mebend"), "1");
  EXPECT_EQ(pair->at("struct_len"), "4");
  const std::string records =
      ": index[0]\r\n+ nest[1]\r\n+ struct[Pair]\r\n+ name[a]\r\n+ location[0x0]\r\n"
      "+ typen[char]\r\n+ ident[MEMBER]\r\n+ kind[SIMPLE ]\r\n+ fstart[0x0]\r\n"
      "+ fend[0x0]\r\n+ one_byte[1]\r\n+ total_byte[1]\r\n=\r\n"
      ": index[1]\r\n+ nest[1]\r\n+ name[b]\r\n+ location[0x2]\r\n+ typen[short]\r\n"
      "+ ident[MEMBER]\r\n+ kind[SIMPLE ]\r\n+ fstart[0x0]\r\n+ fend[0x0]\r\n"
      "+ one_byte[2]\r\n+ total_byte[2]\r\n=\r\n";
  const std::size_t at = run.meb.find(": index[0]");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(run.meb.substr(at, records.size()), records);
}

// Hand-made member slots for the group store.
class GroupStoreTest : public ::testing::Test {
 protected:
  void SetMembers(const std::vector<const char*>& names, const char* group = "") {
    table.ClearAll();
    std::strcpy(table[0].name, "v");
    int slot = 0;
    for (const char* name : names) {
      SymbolRecord& r = table[static_cast<std::size_t>(++slot)];
      std::strcpy(r.name, name);
      r.ident = kIdentMember;
      r.nest = 1;
      r.location = slot * 4;
      r.fstart = 0x100;
    }
    scope.highest_slot = slot;
    std::strcpy(scope.struct_tag_name, group);
  }

  SymbolTable table;
  ScopeState scope;
  SymbolMemberArea area{8};
  MemberGroupStore store{area, scope};
};

TEST_F(GroupStoreTest, EqualGroupsAreStoredOnce) {
  ASSERT_TRUE(area.Create());
  struct Step {
    std::vector<const char*> names;
    const char* group;
    bool stored;
    int first;
    int last;
  };
  const Step steps[] = {
      {{"a", "b"}, "T", true, 0, 1},
      {{"a", "b"}, "T", true, 0, 1},       // shared
      {{"a", "b"}, "U", true, 2, 3},       // another name: another group
      {{"a", "b", "c"}, "T", true, 4, 6},  // another length
      {{"a", "b"}, "U", true, 2, 3},
      {{}, "", true, 7, 6},                // no members: an empty range
      {{"x", "y"}, "", false, 0, 0},       // no room for two more
  };
  for (const Step& step : steps) {
    SetMembers(step.names, step.group);
    const MemberGroupRange got = store.StoreMembers(table);
    EXPECT_EQ(got.stored, step.stored) << step.group << step.names.size();
    if (!step.stored) continue;
    EXPECT_EQ(got.first, step.first) << step.group << step.names.size();
    EXPECT_EQ(got.last, step.last) << step.group << step.names.size();
  }
  EXPECT_EQ(area.size(), 7u);
  EXPECT_STREQ(area[0].struct_name, "T");
  EXPECT_STREQ(area[1].struct_name, "");
  EXPECT_EQ(area[1].fstart, 0u);  // stored records carry no range
  EXPECT_EQ(store.groups().size(), 3u);
}

TEST_F(GroupStoreTest, StagingStopsAtTheFirstNonMemberOrTheHighestSlot) {
  ASSERT_TRUE(area.Create());
  SetMembers({"a", "b", "c"});
  table[2].ident = kIdentNon;
  MemberGroupRange got = store.StoreMembers(table);
  EXPECT_EQ(got.last - got.first, 0);
  SetMembers({"a", "b", "c"});
  scope.highest_slot = 2;
  got = store.StoreMembers(table);
  EXPECT_EQ(got.last - got.first, 1);
}

TEST(MemberGroupList, CandidatesWithOneHashAreTriedInStoredOrder) {
  MemberGroupList list;
  list.Add(7, 0, 1);
  list.Add(9, 2, 3);
  list.Add(7, 4, 5);
  list.Add(7, 6, 7);
  std::vector<std::uint32_t> tried;
  const auto found = list.FindFirst(7, [&](const MemberGroupList::Group& g) {
    tried.push_back(g.first);
    return g.first >= 4;
  });
  EXPECT_EQ(found, 2);
  EXPECT_EQ(tried, (std::vector<std::uint32_t>{0, 4}));
  EXPECT_EQ(list.FindFirst(8, [](const auto&) { return true; }), -1);
}

}  // namespace
}  // namespace dwarfsift
