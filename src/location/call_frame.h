// Call-frame information (.debug_frame, or .eh_frame when that is all the
// file has).
//
// GCC describes the frame base of every DWARF 3 and 4 function as
// DW_OP_call_frame_cfa: "whatever the CFA is here". The host debugger does
// not unwind; it understands a frame base given as rows of "register R plus
// offset K over this code range", which is what the CFA rules of a
// function's FDE say. CallFrameTable indexes the FDEs once per run and turns
// the one covering a function into such rows on request.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dwarf/byte_cursor.h"

namespace dwarfsift {

struct ElfImage;

// The CFA over [begin, end): register `reg` plus `offset`.
struct CfaRange {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  std::uint32_t reg = 0;
  std::int32_t offset = 0;
};

class CallFrameTable {
 public:
  // Indexes the FDEs of .debug_frame, or of .eh_frame when the file has no
  // .debug_frame. `address_size` sizes the addresses of .debug_frame.
  void Load(const ElfImage& elf, int address_size);
  // Indexes one section directly. `section_address` is where .eh_frame is
  // loaded (its pc-relative pointers count from there).
  void LoadSection(ByteCursor section, bool eh_frame, std::uint32_t section_address,
                   int address_size);

  bool empty() const { return fdes_.empty(); }
  std::size_t fde_count() const { return fdes_.size(); }
  const char* section_name() const { return eh_frame_ ? ".eh_frame" : ".debug_frame"; }

  // Writes the CFA rules of the FDE covering `pc` into `out`: one range per
  // stretch with the same register and offset, none where the CFA is an
  // expression or not yet defined, at most out.size() ranges. Returns how
  // many were written; 0 when no FDE covers `pc` or its instructions cannot
  // be followed. `fde_offset` receives the FDE's section offset.
  int RulesAt(std::uint32_t pc, std::span<CfaRange> out,
              std::uint32_t* fde_offset = nullptr) const;

 private:
  struct Cie {
    std::uint32_t offset = 0;  // section offset of the entry
    std::uint32_t code_align = 1;
    std::int32_t data_align = 1;
    std::uint32_t instructions = 0;  // image positions of the initial instructions
    std::uint32_t end = 0;
    std::uint8_t pointer_encoding = 0;  // .eh_frame FDE pointer encoding
    std::uint8_t address_size = 4;
    bool has_augmentation_data = false;
  };
  struct Fde {
    std::uint32_t pc_begin = 0;
    std::uint64_t pc_end = 0;  // exclusive
    std::uint32_t instructions = 0;
    std::uint32_t end = 0;
    std::uint32_t offset = 0;
    std::uint32_t cie = 0;  // index into cies_
  };

  class CfaMachine;  // follows the instructions of one FDE

  bool ReadCie(ByteCursor cursor, std::uint32_t offset, std::uint32_t end, Cie& cie) const;
  bool ReadPointer(ByteCursor& cursor, std::uint8_t encoding, bool apply_pc,
                   std::uint32_t& value) const;
  const Fde* FindFde(std::uint32_t pc) const;

  ByteCursor section_{};
  bool eh_frame_ = false;
  std::uint32_t section_address_ = 0;
  int address_size_ = 4;
  std::vector<Cie> cies_;  // by section offset
  std::vector<Fde> fdes_;  // by pc_begin
};

}  // namespace dwarfsift
