#include "dwarf/dwarf_names.h"

#include <algorithm>
#include <array>
#include <span>

#include "base/message_channel.h"
#include "dwarf/value_text.h"

namespace dwarfsift {
namespace {

// One row of a trace name table. `width` is the column width counted on the
// printf-style layout "name(0x%02X)" plus padding, so a code of more than two
// digits makes the text longer instead of eating into the padding.
struct NameRow {
  std::uint16_t code;
  std::uint8_t width;
  std::string_view name;
};

// Rows are sorted by code; a lookup is a binary search.
constexpr std::array kAttributeRows = std::to_array<NameRow>({
    {0x01, 35, "DW_AT_sibling"},
    {0x02, 35, "DW_AT_location"},
    {0x03, 35, "DW_AT_name"},
    {0x09, 35, "DW_AT_ordering"},
    {0x0B, 35, "DW_AT_byte_size"},
    {0x0C, 35, "DW_AT_bit_offset"},
    {0x0D, 35, "DW_AT_bit_size"},
    {0x10, 35, "DW_AT_stmt_list"},
    {0x11, 35, "DW_AT_low_pc"},
    {0x12, 35, "DW_AT_high_pc"},
    {0x13, 35, "DW_AT_language"},
    {0x15, 35, "DW_AT_discr"},
    {0x16, 35, "DW_AT_discr_value"},
    {0x17, 35, "DW_AT_visibility"},
    {0x18, 35, "DW_AT_import"},
    {0x19, 35, "DW_AT_string_length"},
    {0x1A, 35, "DW_AT_common_reference"},
    {0x1B, 35, "DW_AT_comp_dir"},
    {0x1C, 35, "DW_AT_const_value"},
    {0x1D, 35, "DW_AT_containing_type"},
    {0x1E, 35, "DW_AT_default_value"},
    {0x20, 35, "DW_AT_inline"},
    {0x21, 35, "DW_AT_is_optional"},
    {0x22, 35, "DW_AT_lower_bound"},
    {0x25, 35, "DW_AT_producer"},
    {0x27, 35, "DW_AT_prototyped"},
    {0x2A, 35, "DW_AT_return_addr"},
    {0x2C, 35, "DW_AT_start_scope"},
    {0x2E, 35, "DW_AT_stride_size"},
    {0x2F, 35, "DW_AT_upper_bound"},
    {0x31, 35, "DW_AT_abstract_origin"},
    {0x32, 35, "DW_AT_accessibility"},
    {0x34, 35, "DW_AT_artificial"},
    {0x35, 35, "DW_AT_base_types"},
    {0x36, 35, "DW_AT_calling_convention"},
    {0x37, 35, "DW_AT_count"},
    {0x38, 35, "DW_AT_data_member_location"},
    {0x39, 35, "DW_AT_decl_column"},
    {0x3A, 35, "DW_AT_decl_file"},
    {0x3B, 35, "DW_AT_decl_line"},
    {0x3C, 35, "DW_AT_declaretion"},
    {0x3D, 35, "DW_AT_discr_list"},
    {0x3E, 35, "DW_AT_encoding"},
    {0x3F, 35, "DW_AT_external"},
    {0x40, 35, "DW_AT_frame_base"},
    {0x41, 35, "DW_AT_friend"},
    {0x42, 35, "DW_AT_identifier_case"},
    {0x43, 35, "DW_AT_macro_info"},
    {0x44, 35, "DW_AT_namelist_item"},
    {0x45, 35, "DW_AT_priority"},
    {0x46, 35, "DW_AT_segment"},
    {0x47, 35, "DW_AT_specification"},
    {0x49, 35, "DW_AT_type"},
    {0x4A, 35, "DW_AT_use_location"},
    {0x4B, 35, "DW_AT_variable_parameter"},
    {0x4C, 35, "DW_AT_virtuality"},
    {0x4D, 35, "DW_AT_vtable_elem_location"},
    {0x4E, 35, "DW_AT_allocated{3}"},
    {0x4F, 35, "DW_AT_associated{3}"},
    {0x50, 35, "DW_AT_data_location{3}"},
    {0x51, 35, "DW_AT_byte_stride{3}"},
    {0x52, 35, "DW_AT_entry_pc{3}"},
    {0x53, 35, "DW_AT_use_UTF8{3}"},
    {0x54, 35, "DW_AT_extension{3}"},
    {0x55, 35, "DW_AT_ranges{3}"},
    {0x56, 35, "DW_AT_trampoline{3}"},
    {0x57, 35, "DW_AT_call_column{3}"},
    {0x58, 35, "DW_AT_call_file{3}"},
    {0x59, 35, "DW_AT_call_line{3}"},
    {0x5A, 35, "DW_AT_description{3}"},
    {0x5B, 35, "DW_AT_binary_scale{3}"},
    {0x5C, 35, "DW_AT_decimal_scale{3}"},
    {0x5D, 35, "DW_AT_small{3}"},
    {0x5E, 35, "DW_AT_decimal_sign{3}"},
    {0x5F, 35, "DW_AT_digit_count{3}"},
    {0x60, 35, "DW_AT_picture_string{3}"},
    {0x61, 35, "DW_AT_mutable{3}"},
    {0x62, 35, "DW_AT_threads_scaled{3}"},
    {0x63, 35, "DW_AT_explicit{3}"},
    {0x64, 35, "DW_AT_object_pointer{3}"},
    {0x65, 35, "DW_AT_endianity{3}"},
    {0x66, 35, "DW_AT_elemental{3}"},
    {0x67, 35, "DW_AT_pure{3}"},
    {0x68, 35, "DW_AT_recursive{3}"},
    {0x69, 44, "DW_AT_signature"},
    {0x6A, 44, "DW_AT_main_subprogram"},
    {0x6B, 44, "DW_AT_data_bit_offset"},
    {0x6C, 44, "DW_AT_const_expr"},
    {0x6D, 44, "DW_AT_enum_class"},
    {0x6E, 44, "DW_AT_linkage_name"},
    // DWARF 5 attributes that no DWARF 2-4 producer writes. (Those GCC also
    // writes into DWARF 4, such as DW_AT_noreturn, keep their old trace text.)
    {0x6F, 44, "DW_AT_string_length_bit_size"},
    {0x70, 44, "DW_AT_string_length_byte_size"},
    {0x71, 44, "DW_AT_rank"},
    {0x72, 44, "DW_AT_str_offsets_base"},
    {0x73, 44, "DW_AT_addr_base"},
    {0x74, 44, "DW_AT_rnglists_base"},
    {0x76, 44, "DW_AT_dwo_name"},
    {0x79, 44, "DW_AT_macros"},
    {0x7A, 44, "DW_AT_call_all_calls"},
    {0x7B, 44, "DW_AT_call_all_source_calls"},
    {0x7C, 44, "DW_AT_call_all_tail_calls"},
    {0x7D, 44, "DW_AT_call_return_pc"},
    {0x7E, 44, "DW_AT_call_value"},
    {0x7F, 44, "DW_AT_call_origin"},
    {0x80, 44, "DW_AT_call_parameter"},
    {0x81, 44, "DW_AT_call_pc"},
    {0x82, 44, "DW_AT_call_tail_call"},
    {0x83, 44, "DW_AT_call_target"},
    {0x84, 44, "DW_AT_call_target_clobbered"},
    {0x85, 44, "DW_AT_call_data_location"},
    {0x86, 44, "DW_AT_call_data_value"},
    {0x8C, 44, "DW_AT_loclists_base"},
    {0x2000, 44, "DW_AT_lo_user"},
    {0x2001, 44, "DW_AT_MIPS_fde"},
    {0x2002, 44, "DW_AT_MIPS_loop_begin"},
    {0x2003, 44, "DW_AT_MIPS_tail_loop_begin"},
    {0x2004, 44, "DW_AT_MIPS_epilog_begin"},
    {0x2005, 44, "DW_AT_MIPS_loop_unroll_factor"},
    {0x2006, 44, "DW_AT_MIPS_software_pipeline_depth"},
    {0x2007, 44, "DW_AT_MIPS_linkage_name"},
    {0x2008, 44, "DW_AT_MIPS_stride"},
    {0x2009, 44, "DW_AT_MIPS_abstract_name"},
    {0x200A, 44, "DW_AT_MIPS_clone_origin"},
    {0x200B, 44, "DW_AT_MIPS_has_inlines"},
    {0x200C, 44, "DW_AT_MIPS_stride_byte"},
    {0x200D, 44, "DW_AT_MIPS_stride_elem"},
    {0x200E, 44, "DW_AT_MIPS_ptr_dopetype"},
    {0x200F, 44, "DW_AT_MIPS_allocatable_dopetype"},
    {0x2010, 44, "DW_AT_MIPS_assumed_shape_dopetype"},
    {0x2011, 44, "DW_AT_MIPS_assumed_size"},
    {0x2101, 44, "DW_AT_sf_names"},
    {0x2102, 44, "DW_AT_src_info"},
    {0x2103, 44, "DW_AT_mac_info"},
    {0x2104, 44, "DW_AT_src_coords"},
    {0x2105, 44, "DW_AT_body_begin"},
    {0x2106, 44, "DW_AT_body_end"},
    {0x2107, 44, "DW_AT_GNU_vector"},
    {0x2108, 44, "DW_AT_GNU_guarded_by"},
    {0x2109, 44, "DW_AT_GNU_pt_guarded_by"},
    {0x210A, 44, "DW_AT_GNU_guarded"},
    {0x210B, 44, "DW_AT_GNU_pt_guarded"},
    {0x210C, 44, "DW_AT_GNU_locks_excluded"},
    {0x210D, 44, "DW_AT_GNU_exclusive_locks_required"},
    {0x210E, 44, "DW_AT_GNU_shared_locks_required"},
    {0x210F, 44, "DW_AT_GNU_odr_signature"},
    {0x2110, 44, "DW_AT_GNU_template_name"},
    {0x2111, 44, "DW_AT_GNU_call_site_value"},
    {0x2112, 44, "DW_AT_GNU_call_site_data_value"},
    {0x2113, 44, "DW_AT_GNU_call_site_target"},
    {0x2114, 44, "DW_AT_GNU_call_site_target_clobbered"},
    {0x2115, 44, "DW_AT_GNU_tail_call"},
    {0x2116, 44, "DW_AT_GNU_all_tail_call_sites"},
    {0x2117, 44, "DW_AT_GNU_all_call_sites"},
    {0x2118, 44, "DW_AT_GNU_all_source_call_sites"},
    {0x2119, 44, "DW_AT_GNU_macros"},
    {0x3FFF, 44, "DW_AT_hi_user"},
});

constexpr std::array kTagRows = std::to_array<NameRow>({
    {0x01, 38, "DW_TAG_array_type"},
    {0x02, 38, "DW_TAG_class_type"},
    {0x04, 38, "DW_TAG_enumeration_type"},
    {0x05, 38, "DW_TAG_formal_parameter"},
    {0x0A, 38, "DW_TAG_label"},
    {0x0B, 38, "DW_TAG_lexical_block"},
    {0x0D, 38, "DW_TAG_member"},
    {0x0F, 38, "DW_TAG_pointer_type"},
    {0x10, 38, "DW_TAG_reference_type"},
    {0x11, 38, "DW_TAG_compiler_unit"},
    {0x13, 38, "DW_TAG_structure_type"},
    {0x15, 38, "DW_TAG_subroutine_type"},
    {0x16, 37, "DW_TAG_typedef"},
    {0x17, 38, "DW_TAG_union_type"},
    {0x18, 38, "DW_TAG_unspecified_parameters"},
    {0x1C, 38, "DW_TAG_inheritance"},
    {0x1D, 38, "DW_TAG_inlined_subroutine"},
    {0x1F, 38, "DW_TAG_ptr_to_member_type"},
    {0x21, 38, "DW_TAG_subrange_type"},
    {0x23, 38, "DW_TAG_access_declaration"},
    {0x24, 38, "DW_TAG_base_type"},
    {0x25, 38, "DW_TAG_catch_block"},
    {0x26, 38, "DW_TAG_const_type"},
    {0x27, 38, "DW_TAG_constant"},
    {0x28, 38, "DW_TAG_enumerator"},
    {0x2A, 38, "DW_TAG_friend"},
    {0x2E, 38, "DW_TAG_subprogram"},
    {0x2F, 38, "DW_TAG_template_type_param"},
    {0x30, 38, "DW_TAG_template_value_param"},
    {0x31, 38, "DW_TAG_thrown_type"},
    {0x32, 38, "DW_TAG_try_block"},
    {0x34, 38, "DW_TAG_variable"},
    {0x35, 38, "DW_TAG_volatile_type"},
    {0x36, 42, "DW_TAG_dwarf_procedure"},
    {0x37, 42, "DW_TAG_restrict_type"},
    {0x38, 42, "DW_TAG_interface_type"},
    {0x39, 42, "DW_TAG_namespace"},
    {0x3A, 42, "DW_TAG_imported_module"},
    {0x3B, 42, "DW_TAG_unspecified_type"},
    {0x3C, 42, "DW_TAG_partial_unit"},
    {0x3D, 42, "DW_TAG_imported_unit"},
    {0x3E, 42, "DW_TAG_mutable_type"},
    {0x3F, 42, "DW_TAG_condition"},
    {0x40, 42, "DW_TAG_shared_type"},
    {0x41, 42, "DW_TAG_type_unit"},
    {0x42, 42, "DW_TAG_rvalue_reference_type"},
    {0x43, 42, "DW_TAG_template_alias"},
    {0x44, 42, "DW_TAG_coarray_type"},
    {0x45, 42, "DW_TAG_generic_subrange"},
    {0x46, 42, "DW_TAG_dynamic_type"},
    {0x47, 42, "DW_TAG_atomic_type"},
    {0x48, 42, "DW_TAG_call_site"},
    {0x49, 42, "DW_TAG_call_site_parameter"},
    {0x4A, 42, "DW_TAG_skeleton_unit"},
    {0x4B, 42, "DW_TAG_immutable_type"},
    {0x4080, 42, "DW_TAG_lo_user"},
    {0x4081, 42, "DW_TAG_MIPS_loop"},
    {0x4101, 42, "DW_TAG_format_label"},
    {0x4102, 42, "DW_TAG_function_template"},
    {0x4103, 42, "DW_TAG_class_template"},
    {0x4104, 42, "DW_TAG_GNU_BINCL"},
    {0x4105, 42, "DW_TAG_GNU_EINCL"},
    {0x4106, 42, "DW_TAG_GNU_template_template_param"},
    {0x4107, 42, "DW_TAG_GNU_template_parameter_pack"},
    {0x4108, 42, "DW_TAG_GNU_formal_parameter_pack"},
    {0x4109, 42, "DW_TAG_GNU_call_site"},
    {0x410A, 42, "DW_TAG_GNU_call_site_parameter"},
    {0xFFFF, 42, "DW_TAG_hi_user"},
});

constexpr std::array kFormRows = std::to_array<NameRow>({
    {0x01, 26, "DW_FORM_addr"},
    {0x03, 26, "DW_FORM_block2"},
    {0x04, 26, "DW_FORM_block4"},
    {0x05, 26, "DW_FORM_data2"},
    {0x06, 26, "DW_FORM_data4"},
    {0x07, 26, "DW_FORM_data8"},
    {0x08, 26, "DW_FORM_string"},
    {0x09, 26, "DW_FORM_block"},
    {0x0A, 26, "DW_FORM_block1"},
    {0x0B, 26, "DW_FORM_data1"},
    {0x0C, 26, "DW_FORM_flag"},
    {0x0D, 26, "DW_FORM_sdata"},
    {0x0E, 26, "DW_FORM_strp"},
    {0x0F, 26, "DW_FORM_udata"},
    {0x10, 26, "DW_FORM_ref_addr"},
    {0x11, 26, "DW_FORM_ref1"},
    {0x12, 26, "DW_FORM_ref2"},
    {0x13, 26, "DW_FORM_ref4"},
    {0x14, 26, "DW_FORM_ref8"},
    {0x15, 26, "DW_FORM_ref_udata"},
    {0x16, 26, "DW_FORM_indirect"},
    {0x17, 26, "DW_FORM_sec_offset"},
    {0x18, 25, "DW_FORM_exprloc"},
    {0x19, 28, "DW_FORM_flag_present"},
    // DWARF 5 (DW_FORM_ref_sig8 keeps its old text: DWARF 4 type units use it).
    {0x1A, 26, "DW_FORM_strx"},
    {0x1B, 26, "DW_FORM_addrx"},
    {0x1C, 26, "DW_FORM_ref_sup4"},
    {0x1D, 26, "DW_FORM_strp_sup"},
    {0x1E, 26, "DW_FORM_data16"},
    {0x1F, 26, "DW_FORM_line_strp"},
    {0x21, 30, "DW_FORM_implicit_const"},
    {0x22, 26, "DW_FORM_loclistx"},
    {0x23, 26, "DW_FORM_rnglistx"},
    {0x24, 26, "DW_FORM_ref_sup8"},
    {0x25, 26, "DW_FORM_strx1"},
    {0x26, 26, "DW_FORM_strx2"},
    {0x27, 26, "DW_FORM_strx3"},
    {0x28, 26, "DW_FORM_strx4"},
    {0x29, 26, "DW_FORM_addrx1"},
    {0x2A, 26, "DW_FORM_addrx2"},
    {0x2B, 26, "DW_FORM_addrx3"},
    {0x2C, 26, "DW_FORM_addrx4"},
});

constexpr std::array kEncodingRows = std::to_array<NameRow>({
    {0x02, 29, "DW_ATE_boolean"},
    {0x04, 29, "DW_ATE_float"},
    {0x05, 29, "DW_ATE_signed"},
    {0x06, 29, "DW_ATE_signed_char"},
    {0x07, 29, "DW_ATE_unsigned"},
    {0x08, 29, "DW_ATE_undigned_char"},
});

constexpr NameRow kAttributeFallback = {0, 44, "DW_AT_??????"};
constexpr NameRow kTagFallback = {0, 38, "DW_TAG_??????"};
constexpr NameRow kFormFallback = {0, 26, "DW_??????"};
constexpr NameRow kEncodingFallback = {0, 29, "DW_ATE_??????"};

template <std::size_t N>
constexpr bool SortedByCode(const std::array<NameRow, N>& rows) {
  for (std::size_t i = 1; i < N; ++i) {
    if (rows[i - 1].code >= rows[i].code) return false;
  }
  return true;
}
static_assert(SortedByCode(kAttributeRows) && SortedByCode(kTagRows) &&
              SortedByCode(kFormRows) && SortedByCode(kEncodingRows));
static_assert(kAttributeRows.size() == 156 && kTagRows.size() == 68 &&
              kFormRows.size() == 42 && kEncodingRows.size() == 6);

const NameRow& FindRow(std::span<const NameRow> rows, const NameRow& fallback,
                       std::uint32_t code) {
  const auto it = std::lower_bound(
      rows.begin(), rows.end(), code,
      [](const NameRow& row, std::uint32_t c) { return row.code < c; });
  return it != rows.end() && it->code == code ? *it : fallback;
}

// "(0x%02X)" takes eight characters of the layout the widths count.
constexpr std::size_t kCodeLayoutWidth = 8;

void WriteName(std::string& out, const NameRow& row, std::uint32_t code) {
  out.assign(row.name);
  out += "(0x";
  int digits = 2;
  while (digits < 8 && (code >> (digits * 4)) != 0) ++digits;
  AppendHex(out, code, digits);
  out.push_back(')');
  const std::size_t used = row.name.size() + kCodeLayoutWidth;
  if (used < row.width) out.append(row.width - used, ' ');
}

void TraceName(const MessageChannel& channel, std::string& out,
               std::span<const NameRow> rows, const NameRow& fallback,
               std::uint32_t code) {
  if (!channel.tracing()) return;
  WriteName(out, FindRow(rows, fallback, code), code);
}

}  // namespace

void AttributeNameText(const MessageChannel& channel, std::string& out,
                       std::uint32_t code) {
  TraceName(channel, out, kAttributeRows, kAttributeFallback, code);
}

void TagNameText(const MessageChannel& channel, std::string& out,
                 std::uint32_t code) {
  TraceName(channel, out, kTagRows, kTagFallback, code);
}

void FormNameText(const MessageChannel& channel, std::string& out,
                  std::uint32_t code) {
  TraceName(channel, out, kFormRows, kFormFallback, code);
}

void EncodingNameText(const MessageChannel& channel, std::string& out,
                      std::uint32_t code) {
  TraceName(channel, out, kEncodingRows, kEncodingFallback, code);
}

std::string_view BaseTypeName(std::uint32_t encoding) {
  struct ShortName {
    std::uint32_t encoding;
    std::string_view name;
  };
  static constexpr ShortName kShortNames[] = {
      {0x02, "int"},  // boolean
      {0x04, "float"}, {0x05, "int"},  {0x06, "char"},
      {0x07, "Uint"},  {0x08, "Uchar"},
  };
  for (const ShortName& row : kShortNames) {
    if (row.encoding == encoding) return row.name;
  }
  return "void";
}

}  // namespace dwarfsift
