#include "dwarf/names.h"

#include <algorithm>
#include <span>

namespace tdump::dwarf {
namespace {

struct Name {
    std::uint64_t value;
    std::string_view name;
};

// Each table is sorted by value.
constexpr Name tags[] = {
    {0x1, "array_type"},
    {0x2, "class_type"},
    {0x3, "entry_point"},
    {0x4, "enumeration_type"},
    {0x5, "formal_parameter"},
    {0x8, "imported_declaration"},
    {0xA, "label"},
    {0xB, "lexical_block"},
    {0xD, "member"},
    {0xF, "pointer_type"},
    {0x10, "reference_type"},
    {0x11, "compile_unit"},
    {0x12, "string_type"},
    {0x13, "structure_type"},
    {0x15, "subroutine_type"},
    {0x16, "typedef"},
    {0x17, "union_type"},
    {0x18, "unspecified_parameters"},
    {0x19, "variant"},
    {0x1A, "common_block"},
    {0x1B, "common_inclusion"},
    {0x1C, "inheritance"},
    {0x1D, "inlined_subroutine"},
    {0x1E, "module"},
    {0x1F, "ptr_to_member_type"},
    {0x20, "set_type"},
    {0x21, "subrange_type"},
    {0x22, "with_stmt"},
    {0x23, "access_declaration"},
    {0x24, "base_type"},
    {0x25, "catch_block"},
    {0x26, "const_type"},
    {0x27, "constant"},
    {0x28, "enumerator"},
    {0x29, "file_type"},
    {0x2A, "friend"},
    {0x2B, "namelist"},
    {0x2C, "namelist_item"},
    {0x2D, "packed_type"},
    {0x2E, "subprogram"},
    {0x2F, "template_type_parameter"},
    {0x30, "template_value_parameter"},
    {0x31, "thrown_type"},
    {0x32, "try_block"},
    {0x33, "variant_part"},
    {0x34, "variable"},
    {0x35, "volatile_type"},
    {0x36, "dwarf_procedure"},
    {0x37, "restrict_type"},
    {0x38, "interface_type"},
    {0x39, "namespace"},
    {0x3A, "imported_module"},
    {0x3B, "unspecified_type"},
    {0x3C, "partial_unit"},
    {0x3D, "imported_unit"},
    {0x3F, "condition"},
    {0x40, "shared_type"},
    {0x41, "type_unit"},
    {0x42, "rvalue_reference_type"},
    {0x43, "template_alias"},
    {0x44, "coarray_type"},
    {0x45, "generic_subrange"},
    {0x46, "dynamic_type"},
    {0x47, "atomic_type"},
    {0x48, "call_site"},
    {0x49, "call_site_parameter"},
    {0x4A, "skeleton_unit"},
    {0x4B, "immutable_type"},
    {0x4101, "format_label"},
    {0x4102, "function_template"},
    {0x4103, "class_template"},
    {0x4104, "GNU_BINCL"},
    {0x4105, "GNU_EINCL"},
    {0x4106, "GNU_template_template_param"},
    {0x4107, "GNU_template_parameter_pack"},
    {0x4108, "GNU_formal_parameter_pack"},
    {0x4109, "GNU_call_site"},
    {0x410A, "GNU_call_site_parameter"},
    {0x6000, "LLVM_annotation"},
};

constexpr Name attributes[] = {
    {0x1, "sibling"},
    {0x2, "location"},
    {0x3, "name"},
    {0x9, "ordering"},
    {0xB, "byte_size"},
    {0xC, "bit_offset"},
    {0xD, "bit_size"},
    {0x10, "stmt_list"},
    {0x11, "low_pc"},
    {0x12, "high_pc"},
    {0x13, "language"},
    {0x15, "discr"},
    {0x16, "discr_value"},
    {0x17, "visibility"},
    {0x18, "import"},
    {0x19, "string_length"},
    {0x1A, "common_reference"},
    {0x1B, "comp_dir"},
    {0x1C, "const_value"},
    {0x1D, "containing_type"},
    {0x1E, "default_value"},
    {0x20, "inline"},
    {0x21, "is_optional"},
    {0x22, "lower_bound"},
    {0x25, "producer"},
    {0x27, "prototyped"},
    {0x2A, "return_addr"},
    {0x2C, "start_scope"},
    {0x2E, "bit_stride"},
    {0x2F, "upper_bound"},
    {0x31, "abstract_origin"},
    {0x32, "accessibility"},
    {0x33, "address_class"},
    {0x34, "artificial"},
    {0x35, "base_types"},
    {0x36, "calling_convention"},
    {0x37, "count"},
    {0x38, "data_member_location"},
    {0x39, "decl_column"},
    {0x3A, "decl_file"},
    {0x3B, "decl_line"},
    {0x3C, "declaration"},
    {0x3D, "discr_list"},
    {0x3E, "encoding"},
    {0x3F, "external"},
    {0x40, "frame_base"},
    {0x41, "friend"},
    {0x42, "identifier_case"},
    {0x43, "macro_info"},
    {0x44, "namelist_item"},
    {0x45, "priority"},
    {0x46, "segment"},
    {0x47, "specification"},
    {0x48, "static_link"},
    {0x49, "type"},
    {0x4A, "use_location"},
    {0x4B, "variable_parameter"},
    {0x4C, "virtuality"},
    {0x4D, "vtable_elem_location"},
    {0x4E, "allocated"},
    {0x4F, "associated"},
    {0x50, "data_location"},
    {0x51, "byte_stride"},
    {0x52, "entry_pc"},
    {0x53, "use_UTF8"},
    {0x54, "extension"},
    {0x55, "ranges"},
    {0x56, "trampoline"},
    {0x57, "call_column"},
    {0x58, "call_file"},
    {0x59, "call_line"},
    {0x5A, "description"},
    {0x5B, "binary_scale"},
    {0x5C, "decimal_scale"},
    {0x5D, "small"},
    {0x5E, "decimal_sign"},
    {0x5F, "digit_count"},
    {0x60, "picture_string"},
    {0x61, "mutable"},
    {0x62, "threads_scaled"},
    {0x63, "explicit"},
    {0x64, "object_pointer"},
    {0x65, "endianity"},
    {0x66, "elemental"},
    {0x67, "pure"},
    {0x68, "recursive"},
    {0x69, "signature"},
    {0x6A, "main_subprogram"},
    {0x6B, "data_bit_offset"},
    {0x6C, "const_expr"},
    {0x6D, "enum_class"},
    {0x6E, "linkage_name"},
    {0x6F, "string_length_bit_size"},
    {0x70, "string_length_byte_size"},
    {0x71, "rank"},
    {0x72, "str_offsets_base"},
    {0x73, "addr_base"},
    {0x74, "rnglists_base"},
    {0x75, "dwo_id"},
    {0x76, "dwo_name"},
    {0x77, "reference"},
    {0x78, "rvalue_reference"},
    {0x79, "macros"},
    {0x7A, "call_all_calls"},
    {0x7B, "call_all_source_calls"},
    {0x7C, "call_all_tail_calls"},
    {0x7D, "call_return_pc"},
    {0x7E, "call_value"},
    {0x7F, "call_origin"},
    {0x80, "call_parameter"},
    {0x81, "call_pc"},
    {0x82, "call_tail_call"},
    {0x83, "call_target"},
    {0x84, "call_target_clobbered"},
    {0x85, "call_data_location"},
    {0x86, "call_data_value"},
    {0x87, "noreturn"},
    {0x88, "alignment"},
    {0x89, "export_symbols"},
    {0x8A, "deleted"},
    {0x8B, "defaulted"},
    {0x8C, "loclists_base"},
    {0x2007, "MIPS_linkage_name"},
    {0x2101, "sf_names"},
    {0x2102, "src_info"},
    {0x2103, "mac_info"},
    {0x2104, "src_coords"},
    {0x2105, "body_begin"},
    {0x2106, "body_end"},
    {0x2107, "GNU_vector"},
    {0x210F, "GNU_odr_signature"},
    {0x2110, "GNU_template_name"},
    {0x2111, "GNU_call_site_value"},
    {0x2112, "GNU_call_site_data_value"},
    {0x2113, "GNU_call_site_target"},
    {0x2114, "GNU_call_site_target_clobbered"},
    {0x2115, "GNU_tail_call"},
    {0x2116, "GNU_all_tail_call_sites"},
    {0x2117, "GNU_all_call_sites"},
    {0x2118, "GNU_all_source_call_sites"},
    {0x2119, "GNU_macros"},
    {0x211A, "GNU_deleted"},
    {0x2130, "GNU_dwo_name"},
    {0x2131, "GNU_dwo_id"},
    {0x2132, "GNU_ranges_base"},
    {0x2133, "GNU_addr_base"},
    {0x2134, "GNU_pubnames"},
    {0x2135, "GNU_pubtypes"},
    {0x2136, "GNU_discriminator"},
    {0x2137, "GNU_locviews"},
    {0x2138, "GNU_entry_view"},
    {0x2301, "use_GNAT_descriptive_type"},
    {0x2302, "GNAT_descriptive_type"},
    {0x2303, "GNU_numerator"},
    {0x2304, "GNU_denominator"},
    {0x2305, "GNU_bias"},
    {0x3E00, "LLVM_include_path"},
    {0x3E01, "LLVM_config_macros"},
    {0x3E02, "LLVM_sysroot"},
    {0x3E03, "LLVM_tag_offset"},
};

constexpr Name forms[] = {
    {0x1, "addr"},
    {0x3, "block2"},
    {0x4, "block4"},
    {0x5, "data2"},
    {0x6, "data4"},
    {0x7, "data8"},
    {0x8, "string"},
    {0x9, "block"},
    {0xA, "block1"},
    {0xB, "data1"},
    {0xC, "flag"},
    {0xD, "sdata"},
    {0xE, "strp"},
    {0xF, "udata"},
    {0x10, "ref_addr"},
    {0x11, "ref1"},
    {0x12, "ref2"},
    {0x13, "ref4"},
    {0x14, "ref8"},
    {0x15, "ref_udata"},
    {0x16, "indirect"},
    {0x17, "sec_offset"},
    {0x18, "exprloc"},
    {0x19, "flag_present"},
    {0x1A, "strx"},
    {0x1B, "addrx"},
    {0x1C, "ref_sup4"},
    {0x1D, "strp_sup"},
    {0x1E, "data16"},
    {0x1F, "line_strp"},
    {0x20, "ref_sig8"},
    {0x21, "implicit_const"},
    {0x22, "loclistx"},
    {0x23, "rnglistx"},
    {0x24, "ref_sup8"},
    {0x25, "strx1"},
    {0x26, "strx2"},
    {0x27, "strx3"},
    {0x28, "strx4"},
    {0x29, "addrx1"},
    {0x2A, "addrx2"},
    {0x2B, "addrx3"},
    {0x2C, "addrx4"},
    {0x1F01, "GNU_addr_index"},
    {0x1F02, "GNU_str_index"},
    {0x1F20, "GNU_ref_alt"},
    {0x1F21, "GNU_strp_alt"},
    {0x2001, "LLVM_addrx_offset"},
};

constexpr Name languages[] = {
    {0x1, "C89"},
    {0x2, "C"},
    {0x3, "Ada83"},
    {0x4, "C_plus_plus"},
    {0x5, "Cobol74"},
    {0x6, "Cobol85"},
    {0x7, "Fortran77"},
    {0x8, "Fortran90"},
    {0x9, "Pascal83"},
    {0xA, "Modula2"},
    {0xB, "Java"},
    {0xC, "C99"},
    {0xD, "Ada95"},
    {0xE, "Fortran95"},
    {0xF, "PLI"},
    {0x10, "ObjC"},
    {0x11, "ObjC_plus_plus"},
    {0x12, "UPC"},
    {0x13, "D"},
    {0x14, "Python"},
    {0x15, "OpenCL"},
    {0x16, "Go"},
    {0x17, "Modula3"},
    {0x18, "Haskell"},
    {0x19, "C_plus_plus_03"},
    {0x1A, "C_plus_plus_11"},
    {0x1B, "OCaml"},
    {0x1C, "Rust"},
    {0x1D, "C11"},
    {0x1E, "Swift"},
    {0x1F, "Julia"},
    {0x20, "Dylan"},
    {0x21, "C_plus_plus_14"},
    {0x22, "Fortran03"},
    {0x23, "Fortran08"},
    {0x24, "RenderScript"},
    {0x25, "BLISS"},
    {0x8001, "Mips_Assembler"},
    {0x8E57, "GOOGLE_RenderScript"},
    {0xB000, "BORLAND_Delphi"},
};

constexpr Name encodings[] = {
    {0x1, "address"},
    {0x2, "boolean"},
    {0x3, "complex_float"},
    {0x4, "float"},
    {0x5, "signed"},
    {0x6, "signed_char"},
    {0x7, "unsigned"},
    {0x8, "unsigned_char"},
    {0x9, "imaginary_float"},
    {0xA, "packed_decimal"},
    {0xB, "numeric_string"},
    {0xC, "edited"},
    {0xD, "signed_fixed"},
    {0xE, "unsigned_fixed"},
    {0xF, "decimal_float"},
    {0x10, "UTF"},
    {0x11, "UCS"},
    {0x12, "ASCII"},
    {0x81, "HP_complex_float"},
    {0x82, "HP_float128"},
    {0x83, "HP_complex_float128"},
    {0x84, "HP_floathpintel"},
    {0x85, "HP_imaginary_float90"},
    {0x86, "HP_imaginary_float128"},
};

constexpr Name callingConventions[] = {
    {0x1, "normal"},
    {0x2, "program"},
    {0x3, "nocall"},
    {0x4, "pass_by_reference"},
    {0x5, "pass_by_value"},
    {0x40, "GNU_renesas_sh"},
    {0x41, "GNU_borland_fastcall_i386"},
    {0xB0, "BORLAND_safecall"},
    {0xB1, "BORLAND_stdcall"},
    {0xB2, "BORLAND_pascal"},
    {0xB3, "BORLAND_msfastcall"},
    {0xB4, "BORLAND_msreturn"},
    {0xB5, "BORLAND_thiscall"},
    {0xB6, "BORLAND_fastcall"},
    {0xC0, "LLVM_vectorcall"},
    {0xC1, "LLVM_Win64"},
    {0xC2, "LLVM_X86_64SysV"},
    {0xC3, "LLVM_AAPCS"},
    {0xC4, "LLVM_AAPCS_VFP"},
    {0xC5, "LLVM_IntelOclBicc"},
    {0xC6, "LLVM_SpirFunction"},
    {0xC7, "LLVM_OpenCLKernel"},
    {0xC8, "LLVM_Swift"},
    {0xC9, "LLVM_PreserveMost"},
    {0xCA, "LLVM_PreserveAll"},
    {0xCB, "LLVM_X86RegCall"},
    {0xFF, "GDB_IBM_OpenCL"},
};

constexpr Name unitTypes[] = {
    {0x1, "compile"},  {0x2, "type"},          {0x3, "partial"},
    {0x4, "skeleton"}, {0x5, "split_compile"}, {0x6, "split_type"},
};

constexpr Name accessibilities[] = {{0x1, "public"}, {0x2, "protected"}, {0x3, "private"}};

constexpr Name inlineKinds[] = {
    {0x0, "not_inlined"},
    {0x1, "inlined"},
    {0x2, "declared_not_inlined"},
    {0x3, "declared_inlined"},
};

constexpr Name virtualities[] = {{0x0, "none"}, {0x1, "virtual"}, {0x2, "pure_virtual"}};

constexpr Name visibilities[] = {{0x1, "local"}, {0x2, "exported"}, {0x3, "qualified"}};

constexpr Name identifierCases[] = {
    {0x0, "case_sensitive"},
    {0x1, "up_case"},
    {0x2, "down_case"},
    {0x3, "case_insensitive"},
};

constexpr Name defaultedKinds[] = {{0x0, "no"}, {0x1, "in_class"}, {0x2, "out_of_class"}};

std::string_view find(std::span<const Name> table, std::uint64_t value)
{
    const auto found = std::lower_bound(table.begin(), table.end(), value,
                                        [](const Name& n, std::uint64_t v) { return n.value < v; });
    return found != table.end() && found->value == value ? found->name : std::string_view();
}

} // namespace

std::string_view tagName(std::uint64_t tag)
{
    return find(tags, tag);
}

std::string_view attributeName(std::uint64_t attribute)
{
    return find(attributes, attribute);
}

std::string_view formName(std::uint64_t form)
{
    return find(forms, form);
}

std::string_view unitTypeName(std::uint64_t type)
{
    return find(unitTypes, type);
}

std::string_view attributeValueName(std::uint64_t attribute, std::uint64_t value)
{
    struct Enumerated {
        std::uint64_t attribute;
        std::span<const Name> values;
    };
    static constexpr Enumerated enumerated[] = {
        {0x13, languages},                             // DW_AT_language
        {0x20, inlineKinds},                           // DW_AT_inline
        {0x32, accessibilities},                       // DW_AT_accessibility
        {0x36, callingConventions}, {0x3E, encodings}, // DW_AT_encoding
        {0x42, identifierCases},    {0x17, visibilities},
        {0x4C, virtualities},       {0x8B, defaultedKinds},
    };
    for (const Enumerated& e : enumerated) {
        if (e.attribute == attribute) {
            return find(e.values, value);
        }
    }
    return {};
}

} // namespace tdump::dwarf
