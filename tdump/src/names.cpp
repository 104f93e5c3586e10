#include "names.h"

#include <array>

#include "bytes.h"
#include "output.h"

namespace tdump {
namespace {

// Adds a word to a blank-separated list.
void appendWord(std::string& text, std::string_view word)
{
    if (!text.empty()) {
        text += ' ';
    }
    text += word;
}

template <std::size_t N>
std::string_view pick(const std::array<std::string_view, N>& names, std::size_t index,
                      std::string_view unknown)
{
    return index < N && !names[index].empty() ? names[index] : unknown;
}

constexpr Flag fileFlags[] = {
    {0x0001, "RELOCS_STRIPPED"},
    {0x0002, "EXECUTABLE_IMAGE"},
    {0x0004, "LINE_NUMS_STRIPPED"},
    {0x0008, "LOCAL_SYMS_STRIPPED"},
    {0x0010, "AGGRESSIVE_WS_TRIM"},
    {0x0020, "LARGE_ADDRESS_AWARE"},
    {0x0080, "BYTES_REVERSED_LO"},
    {0x0100, "32BIT_MACHINE"},
    {0x0200, "DEBUG_STRIPPED"},
    {0x0400, "REMOVABLE_RUN_FROM_SWAP"},
    {0x0800, "NET_RUN_FROM_SWAP"},
    {0x1000, "SYSTEM"},
    {0x2000, "DLL"},
    {0x4000, "UP_SYSTEM_ONLY"},
    {0x8000, "BYTES_REVERSED_HI"},
};

constexpr Flag scnFlags[] = {
    {0x00000008, "TYPE_NO_PAD"},
    {0x00000020, "CNT_CODE"},
    {0x00000040, "CNT_INITIALIZED_DATA"},
    {0x00000080, "CNT_UNINITIALIZED_DATA"},
    {0x00000100, "LNK_OTHER"},
    {0x00000200, "LNK_INFO"},
    {0x00000800, "LNK_REMOVE"},
    {0x00001000, "LNK_COMDAT"},
    {0x00008000, "GPREL"},
    {0x00F00000, ""}, // the alignment field, named by sectionAlignment
    {0x01000000, "LNK_NRELOC_OVFL"},
    {0x02000000, "MEM_DISCARDABLE"},
    {0x04000000, "MEM_NOT_CACHED"},
    {0x08000000, "MEM_NOT_PAGED"},
    {0x10000000, "MEM_SHARED"},
    {0x20000000, "MEM_EXECUTE"},
    {0x40000000, "MEM_READ"},
    {0x80000000, "MEM_WRITE"},
};

constexpr Flag dllFlags[] = {
    {0x0020, "HIGH_ENTROPY_VA"}, {0x0040, "DYNAMIC_BASE"},          {0x0080, "FORCE_INTEGRITY"},
    {0x0100, "NX_COMPAT"},       {0x0200, "NO_ISOLATION"},          {0x0400, "NO_SEH"},
    {0x0800, "NO_BIND"},         {0x1000, "APPCONTAINER"},          {0x2000, "WDM_DRIVER"},
    {0x4000, "GUARD_CF"},        {0x8000, "TERMINAL_SERVER_AWARE"},
};

} // namespace

std::string flagNames(std::uint32_t value, std::span<const Flag> flags, std::string_view separator)
{
    std::string text;
    const auto append = [&](std::string_view word) {
        if (!text.empty()) {
            text += separator;
        }
        text += word;
    };
    std::uint32_t unnamed = value;
    for (const Flag& flag : flags) {
        if (flag.name.empty() || flag.bit == 0 || (value & flag.bit) != flag.bit) {
            continue;
        }
        append(flag.name);
        unnamed &= ~flag.bit;
    }
    for (const Flag& flag : flags) {
        if (flag.name.empty()) {
            unnamed &= ~flag.bit; // a multi-bit field shown elsewhere
        }
    }
    if (unnamed != 0) {
        append("0x" + toHex(unnamed));
    }
    return text;
}

std::string_view machineName(std::uint16_t machine)
{
    switch (machine) {
    case 0x0000:
        return "unknown machine";
    case 0x014C:
        return "i386";
    case 0x0162:
        return "R3000";
    case 0x0166:
        return "R4000";
    case 0x01A2:
        return "SH3";
    case 0x01A6:
        return "SH4";
    case 0x01C0:
        return "ARM";
    case 0x01C2:
        return "Thumb";
    case 0x01C4:
        return "ARMv7 (Thumb-2)";
    case 0x01F0:
        return "PowerPC";
    case 0x0200:
        return "IA-64";
    case 0x5032:
        return "RISC-V 32";
    case 0x5064:
        return "RISC-V 64";
    case 0x6232:
        return "LoongArch 32";
    case 0x6264:
        return "LoongArch 64";
    case 0x8664:
        return "x86-64 (AMD64)";
    case 0xA641:
        return "ARM64EC";
    case 0xA64E:
        return "ARM64X";
    case 0xAA64:
        return "ARM64";
    case 0x0EBC:
        return "EFI byte code";
    default:
        return "unrecognised machine";
    }
}

bool isKnownMachine(std::uint16_t machine)
{
    const std::string_view name = machineName(machine);
    return name != "unrecognised machine";
}

std::span<const Flag> fileCharacteristicFlags()
{
    return fileFlags;
}
std::span<const Flag> sectionFlags()
{
    return scnFlags;
}
std::span<const Flag> dllCharacteristicFlags()
{
    return dllFlags;
}

std::string sectionAlignment(std::uint32_t characteristics)
{
    const std::uint32_t field = (characteristics >> 20) & 0xF;
    if (field == 0 || field == 15) {
        return {};
    }
    return "align " + std::to_string(std::uint32_t{1} << (field - 1));
}

std::string sectionSummary(std::uint32_t characteristics)
{
    static constexpr Flag shortNames[] = {
        {0x00000020, "code"},        {0x00000040, "data"},   {0x00000080, "bss"},
        {0x00000200, "info"},        {0x00000800, "remove"}, {0x00001000, "comdat"},
        {0x02000000, "discardable"}, {0x10000000, "shared"}, {0x20000000, "exec"},
        {0x40000000, "read"},        {0x80000000, "write"},
    };
    std::string text;
    for (const Flag& flag : shortNames) {
        if ((characteristics & flag.bit) != 0) {
            appendWord(text, flag.name);
        }
    }
    const std::string alignment = sectionAlignment(characteristics);
    if (!alignment.empty()) {
        appendWord(text, alignment);
    }
    return text;
}

std::string_view subsystemName(std::uint16_t subsystem)
{
    static constexpr std::array<std::string_view, 17> names = {"unknown",
                                                               "native",
                                                               "Windows GUI",
                                                               "Windows console",
                                                               "",
                                                               "OS/2 console",
                                                               "",
                                                               "POSIX console",
                                                               "native Windows 9x driver",
                                                               "Windows CE GUI",
                                                               "EFI application",
                                                               "EFI boot service driver",
                                                               "EFI runtime driver",
                                                               "EFI ROM",
                                                               "Xbox",
                                                               "",
                                                               "Windows boot application"};
    return pick(names, subsystem, "unrecognised subsystem");
}

std::string_view dataDirectoryName(std::size_t index)
{
    static constexpr std::array<std::string_view, 16> names = {
        "Export", "Import",       "Resource",       "Exception", "Certificate", "Base relocation",
        "Debug",  "Architecture", "Global pointer", "TLS",       "Load config", "Bound import",
        "IAT",    "Delay import", "CLR runtime",    "Reserved"};
    return pick(names, index, "(beyond the known directories)");
}

std::string_view storageClassName(std::uint8_t storageClass)
{
    static constexpr std::array<std::string_view, 19> low = {
        "NULL",      "AUTOMATIC",       "EXTERNAL",
        "STATIC",    "REGISTER",        "EXTERNAL_DEF",
        "LABEL",     "UNDEFINED_LABEL", "MEMBER_OF_STRUCT",
        "ARGUMENT",  "STRUCT_TAG",      "MEMBER_OF_UNION",
        "UNION_TAG", "TYPE_DEFINITION", "UNDEFINED_STATIC",
        "ENUM_TAG",  "MEMBER_OF_ENUM",  "REGISTER_PARAM",
        "BIT_FIELD"};
    static constexpr std::array<std::string_view, 8> high = {
        "BLOCK", "FUNCTION", "END_OF_STRUCT", "FILE", "SECTION", "WEAK_EXTERNAL", "", "CLR_TOKEN"};
    if (storageClass == 0xFF) {
        return "END_OF_FUNCTION";
    }
    if (storageClass >= 100) {
        return pick(high, storageClass - 100u, "unrecognised class");
    }
    return pick(low, storageClass, "unrecognised class");
}

std::string_view relocationTypeName(std::uint16_t machine, std::uint16_t type)
{
    static constexpr std::array<std::string_view, 17> amd64 = {
        "ABSOLUTE", "ADDR64",  "ADDR32",  "ADDR32NB", "REL32",   "REL32_1",
        "REL32_2",  "REL32_3", "REL32_4", "REL32_5",  "SECTION", "SECREL",
        "SECREL7",  "TOKEN",   "SREL32",  "PAIR",     "SSPAN32"};
    static constexpr std::array<std::string_view, 21> i386 = {
        "ABSOLUTE", "DIR16", "REL16",   "", "", "", "DIR32", "DIR32NB", "", "SEG12", "SECTION",
        "SECREL",   "TOKEN", "SECREL7", "", "", "", "",      "",        "", "REL32"};
    static constexpr std::array<std::string_view, 18> arm64 = {
        "ABSOLUTE",       "ADDR32",         "ADDR32NB",       "BRANCH26", "PAGEBASE_REL21",
        "REL21",          "PAGEOFFSET_12A", "PAGEOFFSET_12L", "SECREL",   "SECREL_LOW12A",
        "SECREL_HIGH12A", "SECREL_LOW12L",  "TOKEN",          "SECTION",  "ADDR64",
        "BRANCH19",       "BRANCH14",       "REL32"};
    static constexpr std::array<std::string_view, 24> arm = {
        "ABSOLUTE", "ADDR32", "ADDR32NB", "BRANCH24", "BRANCH11",  "", "",          "",
        "",         "",       "REL32",    "TOKEN",    "",          "", "SECTION",   "SECREL",
        "MOV32",    "",       "",         "",         "BRANCH20T", "", "BRANCH24T", "BLX23T"};
    switch (machine) {
    case 0x8664:
        return pick(amd64, type, "unrecognised type");
    case 0x014C:
        return pick(i386, type, "unrecognised type");
    case 0xAA64:
    case 0xA641:
    case 0xA64E:
        return pick(arm64, type, "unrecognised type");
    case 0x01C0:
    case 0x01C2:
    case 0x01C4:
        return pick(arm, type, "unrecognised type");
    default:
        return "type of an unrecognised machine";
    }
}

std::string_view baseRelocationTypeName(std::uint16_t machine, unsigned type)
{
    switch (type) {
    case 0:
        return "ABSOLUTE";
    case 1:
        return "HIGH";
    case 2:
        return "LOW";
    case 3:
        return "HIGHLOW";
    case 4:
        return "HIGHADJ";
    case 5:
        return machine == 0x01C0 || machine == 0x01C4 ? "ARM_MOV32" : "MIPS_JMPADDR";
    case 7:
        return "THUMB_MOV32";
    case 9:
        return "MIPS_JMPADDR16";
    case 10:
        return "DIR64";
    default:
        return "unrecognised type";
    }
}

std::string_view debugTypeName(std::uint32_t type)
{
    static constexpr std::array<std::string_view, 21> names = {
        "UNKNOWN",    "COFF",        "CODEVIEW",
        "FPO",        "MISC",        "EXCEPTION",
        "FIXUP",      "OMAP_TO_SRC", "OMAP_FROM_SRC",
        "BORLAND",    "RESERVED10",  "CLSID",
        "VC_FEATURE", "POGO",        "ILTCG",
        "MPX",        "REPRO",       "EMBEDDED_PDB",
        "SPGO",       "PDBCHECKSUM", "EX_DLLCHARACTERISTICS"};
    return pick(names, type, "unrecognised type");
}

std::string_view comdatSelectionName(std::uint8_t selection)
{
    static constexpr std::array<std::string_view, 7> names = {
        "", "NODUPLICATES", "ANY", "SAME_SIZE", "EXACT_MATCH", "ASSOCIATIVE", "LARGEST"};
    return pick(names, selection, "unrecognised selection");
}

std::string_view resourceTypeName(std::uint32_t type)
{
    static constexpr std::string_view names[] = {
        "",       "CURSOR",       "BITMAP",       "ICON", "MENU",
        "DIALOG", "STRING",       "FONTDIR",      "FONT", "ACCELERATOR",
        "RCDATA", "MESSAGETABLE", "GROUP_CURSOR", "",     "GROUP_ICON",
        "",       "VERSION",      "DLGINCLUDE",   "",     "PLUGPLAY",
        "VXD",    "ANICURSOR",    "ANIICON",      "HTML", "MANIFEST",
    };
    return type < std::size(names) ? names[type] : std::string_view{};
}

std::string guidText(std::span<const std::uint8_t, guid::size> bytes)
{
    // Data1, Data2 and Data3 are little-endian numbers; Data4 is 8 bytes,
    // written as 2 and 6.
    std::string text(1, '{');
    text += toHex(le32(&bytes[guid::data1]), 8);
    text += '-';
    text += toHex(le16(&bytes[guid::data2]), 4);
    text += '-';
    text += toHex(le16(&bytes[guid::data3]), 4);
    text += '-';
    for (std::size_t b = guid::data4; b < guid::size; ++b) {
        text += toHex(bytes[b], 2);
        if (b == guid::data4 + 1) {
            text += '-';
        }
    }
    text += '}';
    return text;
}

} // namespace tdump
