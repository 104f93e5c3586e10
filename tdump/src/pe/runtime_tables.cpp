// The tables the loader and the runtime use: TLS directory, load
// configuration, exception table (function unwind data), attribute
// certificates, and the overlay after the sections.

#include <algorithm>
#include <array>
#include <string>

#include "display/file_display.h"
#include "names.h"
#include "pe/arm64_unwind.h"
#include "pe/pe.h"

namespace tdump {
namespace {

// Caps on table walks, as for the other tables.
constexpr std::uint32_t maxTlsCallbacks = 4096;
constexpr std::uint64_t maxRvaTableEntries = 1u << 20;
constexpr std::uint64_t maxExceptionEntries = 1u << 20;
constexpr std::uint32_t maxCertificates = 4096;

enum class FieldKind {
    number,  // hexadecimal, as wide as the field
    address, // a virtual address
    count,   // decimal
    guardFlags,
};

// A field of a structure whose layout differs between PE32 and PE32+.
struct LayoutField {
    std::string_view name;
    std::uint32_t offset32;
    std::uint32_t size32;
    std::uint32_t offset64;
    std::uint32_t size64;
    FieldKind kind;
};

constexpr LayoutField tlsFields[] = {
    {"Raw data start", 0, 4, 0, 8, FieldKind::address},
    {"Raw data end", 4, 4, 8, 8, FieldKind::address},
    {"Index address", 8, 4, 16, 8, FieldKind::address},
    {"Callbacks address", 12, 4, 24, 8, FieldKind::address},
    {"Size of zero fill", 16, 4, 32, 4, FieldKind::number},
    {"Characteristics", 20, 4, 36, 4, FieldKind::number},
};
constexpr std::size_t tlsCallbacksField = 3;
constexpr std::size_t tlsCharacteristicsField = 5;
constexpr std::uint32_t tlsSize32 = 24;
constexpr std::uint32_t tlsSize64 = 40;

// IMAGE_LOAD_CONFIG_DIRECTORY: its first field is its size, and a field is
// there only when that size covers it. PE32 keeps the heap flags before the
// affinity mask, PE32+ after it.
constexpr LayoutField loadConfigFields[] = {
    {"Size", 0, 4, 0, 4, FieldKind::number},
    {"Time stamp", 4, 4, 4, 4, FieldKind::number},
    {"Major version", 8, 2, 8, 2, FieldKind::number},
    {"Minor version", 10, 2, 10, 2, FieldKind::number},
    {"Global flags clear", 12, 4, 12, 4, FieldKind::number},
    {"Global flags set", 16, 4, 16, 4, FieldKind::number},
    {"Critical section timeout", 20, 4, 20, 4, FieldKind::number},
    {"Decommit free block threshold", 24, 4, 24, 8, FieldKind::number},
    {"Decommit total free threshold", 28, 4, 32, 8, FieldKind::number},
    {"Lock prefix table", 32, 4, 40, 8, FieldKind::address},
    {"Maximum allocation size", 36, 4, 48, 8, FieldKind::number},
    {"Virtual memory threshold", 40, 4, 56, 8, FieldKind::number},
    {"Process affinity mask", 48, 4, 64, 8, FieldKind::number},
    {"Process heap flags", 44, 4, 72, 4, FieldKind::number},
    {"CSD version", 52, 2, 76, 2, FieldKind::number},
    {"Dependent load flags", 54, 2, 78, 2, FieldKind::number},
    {"Edit list", 56, 4, 80, 8, FieldKind::address},
    {"Security cookie", 60, 4, 88, 8, FieldKind::address},
    {"SE handler table", 64, 4, 96, 8, FieldKind::address},
    {"SE handler count", 68, 4, 104, 8, FieldKind::count},
    {"Guard CF check function", 72, 4, 112, 8, FieldKind::address},
    {"Guard CF dispatch function", 76, 4, 120, 8, FieldKind::address},
    {"Guard CF function table", 80, 4, 128, 8, FieldKind::address},
    {"Guard CF function count", 84, 4, 136, 8, FieldKind::count},
    {"Guard flags", 88, 4, 144, 4, FieldKind::guardFlags},
    {"Code integrity flags", 92, 2, 148, 2, FieldKind::number},
    {"Code integrity catalog", 94, 2, 150, 2, FieldKind::number},
    {"Code integrity catalog offset", 96, 4, 152, 4, FieldKind::number},
    {"Guard IAT entry table", 104, 4, 160, 8, FieldKind::address},
    {"Guard IAT entry count", 108, 4, 168, 8, FieldKind::count},
    {"Guard long jump table", 112, 4, 176, 8, FieldKind::address},
    {"Guard long jump count", 116, 4, 184, 8, FieldKind::count},
    {"Dynamic value reloc table", 120, 4, 192, 8, FieldKind::address},
    {"CHPE metadata", 124, 4, 200, 8, FieldKind::address},
    {"Guard RF failure routine", 128, 4, 208, 8, FieldKind::address},
    {"Guard RF failure function", 132, 4, 216, 8, FieldKind::address},
    {"Dynamic reloc table offset", 136, 4, 224, 4, FieldKind::number},
    {"Dynamic reloc table section", 140, 2, 228, 2, FieldKind::number},
    {"Guard RF verify SP function", 144, 4, 232, 8, FieldKind::address},
    {"Hot patch table offset", 148, 4, 240, 4, FieldKind::number},
    {"Enclave configuration", 156, 4, 248, 8, FieldKind::address},
    {"Volatile metadata", 160, 4, 256, 8, FieldKind::address},
    {"Guard EH continuation table", 164, 4, 264, 8, FieldKind::address},
    {"Guard EH continuation count", 168, 4, 272, 8, FieldKind::count},
    {"Guard XFG check function", 172, 4, 280, 8, FieldKind::address},
    {"Guard XFG dispatch function", 176, 4, 288, 8, FieldKind::address},
    {"Guard XFG table dispatch", 180, 4, 296, 8, FieldKind::address},
    {"Cast guard failure mode", 184, 4, 304, 8, FieldKind::number},
    {"Guard memcpy function", 188, 4, 312, 8, FieldKind::address},
};

// The tables of RVAs the load configuration points at: which field holds
// the table's address, which its count.
struct RvaTable {
    std::string_view title;
    std::string_view tableField;
    std::string_view countField;
};
constexpr RvaTable guardTables[] = {
    {"Guard CF functions", "Guard CF function table", "Guard CF function count"},
    {"Guard IAT entries", "Guard IAT entry table", "Guard IAT entry count"},
    {"Guard long jump targets", "Guard long jump table", "Guard long jump count"},
    {"Guard EH continuation targets", "Guard EH continuation table", "Guard EH continuation count"},
};

constexpr Flag guardFlagNames[] = {
    {0x00000100, "CF_INSTRUMENTED"},
    {0x00000200, "CFW_INSTRUMENTED"},
    {0x00000400, "CF_FUNCTION_TABLE_PRESENT"},
    {0x00000800, "SECURITY_COOKIE_UNUSED"},
    {0x00001000, "PROTECT_DELAYLOAD_IAT"},
    {0x00002000, "DELAYLOAD_IAT_IN_ITS_OWN_SECTION"},
    {0x00004000, "CF_EXPORT_SUPPRESSION_INFO_PRESENT"},
    {0x00008000, "CF_ENABLE_EXPORT_SUPPRESSION"},
    {0x00010000, "CF_LONGJUMP_TABLE_PRESENT"},
    {0x00020000, "RF_INSTRUMENTED"},
    {0x00040000, "RF_ENABLE"},
    {0x00080000, "RF_STRICT"},
    {0x00100000, "RETPOLINE_PRESENT"},
    {0x00400000, "EH_CONTINUATION_TABLE_PRESENT"},
    {0x00800000, "XFG_ENABLED"},
    {0x01000000, "CASTGUARD_PRESENT"},
    {0x02000000, "MEMCPY_PRESENT"},
};
// The top four bits of the guard flags: how many bytes of flags follow
// each RVA in the guard tables.
constexpr unsigned guardStrideShift = 28;
constexpr std::uint32_t guardStrideMask = 0xF0000000u;

// x64 RUNTIME_FUNCTION: begin, end, unwind information (RVAs).
constexpr std::uint32_t runtimeFunctionSize = 12;
// ARM and ARM64 .pdata entries: begin, then unwind information RVA or
// packed unwind data (low two bits not 0).
constexpr std::uint32_t armFunctionSize = 8;
constexpr std::uint64_t functionBeginField = 0;
constexpr std::uint64_t functionSecondField = 4;
constexpr std::uint64_t functionUnwindField = 8;
// UNWIND_INFO: version and flags, prolog size, code count, frame register
// and offset; the codes (two bytes each, an even number of slots); then a
// handler RVA or a chained RUNTIME_FUNCTION.
constexpr std::uint32_t unwindHeaderSize = 4;
constexpr unsigned unwindFlagExceptionHandler = 1;
constexpr unsigned unwindFlagTerminationHandler = 2;
constexpr unsigned unwindFlagChained = 4;

constexpr Flag unwindFlagNames[] = {
    {unwindFlagExceptionHandler, "EHANDLER"},
    {unwindFlagTerminationHandler, "UHANDLER"},
    {unwindFlagChained, "CHAININFO"},
};

constexpr std::string_view x64Registers[] = {"RAX", "RCX", "RDX", "RBX", "RSP", "RBP",
                                             "RSI", "RDI", "R8",  "R9",  "R10", "R11",
                                             "R12", "R13", "R14", "R15"};

enum UnwindOp : unsigned {
    pushNonVolatile = 0,
    allocLarge = 1,
    allocSmall = 2,
    setFramePointer = 3,
    saveNonVolatile = 4,
    saveNonVolatileFar = 5,
    epilogOrSaveXmm = 6,   // version 2: epilog; version 1: SAVE_XMM
    spareOrSaveXmmFar = 7, // version 2: spare; version 1: SAVE_XMM_FAR
    saveXmm128 = 8,
    saveXmm128Far = 9,
    pushMachineFrame = 10,
};

constexpr std::string_view unwindOpNames[] = {
    "PUSH_NONVOL", "ALLOC_LARGE",     "ALLOC_SMALL",    "SET_FPREG",
    "SAVE_NONVOL", "SAVE_NONVOL_FAR", "EPILOG",         "SPARE",
    "SAVE_XMM128", "SAVE_XMM128_FAR", "PUSH_MACHFRAME",
};

// WIN_CERTIFICATE: length, revision, type, then the certificate; entries
// are 8-byte aligned.
constexpr std::uint32_t certificateHeaderSize = 8;
constexpr std::uint64_t certificateLengthField = 0;
constexpr std::uint64_t certificateRevisionField = 4;
constexpr std::uint64_t certificateTypeField = 6;
constexpr std::uint32_t certificateAlignment = 8;

std::string_view certificateTypeName(std::uint16_t type)
{
    switch (type) {
    case 1:
        return "X509";
    case 2:
        return "PKCS_SIGNED_DATA";
    case 3:
        return "RESERVED_1";
    case 4:
        return "TS_STACK_SIGNED";
    case 9:
        return "PKCS1_SIGN";
    default:
        return "unknown";
    }
}

// How many two-byte slots an unwind code takes, itself included.
unsigned unwindSlots(unsigned op, unsigned info)
{
    switch (op) {
    case allocLarge:
        return info == 0 ? 2 : 3;
    case saveNonVolatile:
    case epilogOrSaveXmm:
    case saveXmm128:
        return 2;
    case saveNonVolatileFar:
    case spareOrSaveXmmFar:
    case saveXmm128Far:
        return 3;
    default:
        return 1;
    }
}

std::uint64_t fieldValue(std::span<const std::uint8_t> raw, std::uint32_t offset,
                         std::uint32_t size)
{
    const std::uint8_t* p = raw.data() + offset;
    return size == 2 ? le16(p) : size == 4 ? le32(p) : le64(p);
}

} // namespace

std::optional<std::uint32_t> PeImage::rvaOfAddress(std::uint64_t address) const
{
    if (address < imageBase_ || address - imageBase_ > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(address - imageBase_);
}

void PeImage::listTls(Output& out, const Options& options) const
{
    heading(out, "TLS directory");
    const auto mapped = mapDirectory(out, dataDirectory::tls, "TLS directory");
    if (!mapped) {
        return;
    }
    const std::uint32_t size = pe32Plus_ ? tlsSize64 : tlsSize32;
    std::array<std::uint8_t, tlsSize64> raw{};
    if (!mapped->view.read(0, std::span(raw.data(), size))) {
        report(out, "the TLS directory runs past the end of its section", mapped->fileOffset);
        return;
    }
    if (options.has(Switch::Raw)) {
        hexDisplay(mapped->view, 0, size, out);
    }
    const int addressDigits = pe32Plus_ ? 16 : 8;
    for (const LayoutField& f : tlsFields) {
        const std::uint32_t fieldSize = pe32Plus_ ? f.size64 : f.size32;
        const std::uint64_t value = fieldValue(raw, pe32Plus_ ? f.offset64 : f.offset32, fieldSize);
        label(out, f.name) << hex(
            value, f.kind == FieldKind::address ? addressDigits : static_cast<int>(2 * fieldSize));
        if (&f == &tlsFields[tlsCharacteristicsField]) {
            const std::string alignment = sectionAlignment(static_cast<std::uint32_t>(value));
            out << (alignment.empty() ? "" : "  ") << alignment;
        }
        out << '\n';
    }
    const LayoutField& callbacksField = tlsFields[tlsCallbacksField];
    const std::uint32_t callbacksOffset =
        pe32Plus_ ? callbacksField.offset64 : callbacksField.offset32;
    const std::uint64_t callbacks = fieldValue(raw, callbacksOffset, pe32Plus_ ? 8 : 4);
    if (callbacks == 0) {
        out << "  (no callbacks)\n";
        return;
    }
    const auto rva = rvaOfAddress(callbacks);
    const auto array = rva ? map(*rva) : std::nullopt;
    if (!array) {
        report(out,
               "the callback array: " +
                   (rva ? whyUnmapped(*rva)
                        : "address 0x" + toHex(callbacks) + " lies outside the image"),
               mapped->fileOffset + callbacksOffset);
        return;
    }
    out << "  Callbacks\n";
    const std::uint64_t width = pe32Plus_ ? 8 : 4;
    for (std::uint32_t i = 0; !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        if (i == maxTlsCallbacks) {
            report(out, "more TLS callbacks than the limit of " + std::to_string(maxTlsCallbacks),
                   array->fileOffset);
            return;
        }
        const auto callback = pe32Plus_ ? array->view.u64(i * width)
                                        : std::optional<std::uint64_t>(array->view.u32(i * width));
        if (!callback) {
            report(out, "the callback array is not terminated before the end of its section",
                   array->fileOffset + i * width);
            return;
        }
        if (*callback == 0) {
            return;
        }
        out << "    " << hex(*callback, addressDigits);
        const auto target = rvaOfAddress(*callback);
        if (!target) {
            out << "  ** outside the image";
        } else if (const std::string section = sectionOf(*target); !section.empty()) {
            out << "  " << section;
        }
        out << '\n';
    }
}

void PeImage::listLoadConfig(Output& out, const Options& options) const
{
    heading(out, "Load configuration");
    const auto mapped = mapDirectory(out, dataDirectory::loadConfig, "load configuration");
    if (!mapped) {
        return;
    }
    const auto declared = mapped->view.u32(0);
    if (!declared) {
        report(out, "the load configuration lies past the end of its section", mapped->fileOffset);
        return;
    }
    if (*declared < loadConfigFields[0].size32) {
        report(out, "the load configuration's size " + std::to_string(*declared) + " is too small",
               mapped->fileOffset);
        return;
    }
    std::uint64_t size = *declared;
    if (size > mapped->view.size()) {
        report(out,
               "the load configuration's size " + std::to_string(size) +
                   " runs past the end of its section; read up to there",
               mapped->fileOffset);
        size = mapped->view.size();
    }
    const auto& last = loadConfigFields[std::size(loadConfigFields) - 1];
    size = std::min<std::uint64_t>(size, pe32Plus_ ? last.offset64 + last.size64
                                                   : last.offset32 + last.size32);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(size));
    mapped->view.read(0, raw);
    if (options.has(Switch::Raw)) {
        hexDisplay(mapped->view, 0, size, out);
    }
    const int addressDigits = pe32Plus_ ? 16 : 8;
    // The values by field name, for the tables listed below the fields.
    std::vector<std::pair<std::string_view, std::uint64_t>> values;
    std::uint32_t stride = 0;
    for (const LayoutField& f : loadConfigFields) {
        const std::uint32_t offset = pe32Plus_ ? f.offset64 : f.offset32;
        const std::uint32_t fieldSize = pe32Plus_ ? f.size64 : f.size32;
        if (offset + fieldSize > size) {
            break;
        }
        const std::uint64_t value = fieldValue(raw, offset, fieldSize);
        values.emplace_back(f.name, value);
        label(out, f.name);
        switch (f.kind) {
        case FieldKind::count:
            out << dec(value);
            break;
        case FieldKind::address:
            out << hex(value, addressDigits);
            break;
        case FieldKind::number:
            out << hex(value, static_cast<int>(2 * fieldSize));
            break;
        case FieldKind::guardFlags:
            stride = static_cast<std::uint32_t>((value & guardStrideMask) >> guardStrideShift);
            out << hex(value, 8) << "  "
                << flagNames(static_cast<std::uint32_t>(value) & ~guardStrideMask, guardFlagNames);
            if (stride != 0) {
                out << " (" << dec(stride) << " bytes of flags per table entry)";
            }
            break;
        }
        out << '\n';
    }
    const auto valueOf = [&](std::string_view name) -> std::uint64_t {
        const auto it = std::find_if(values.begin(), values.end(),
                                     [&](const auto& v) { return v.first == name; });
        return it != values.end() ? it->second : 0;
    };
    if (!pe32Plus_) {
        listRvaTable(out, "SE handlers", valueOf("SE handler table"), valueOf("SE handler count"),
                     0);
    }
    for (const RvaTable& table : guardTables) {
        listRvaTable(out, table.title, valueOf(table.tableField), valueOf(table.countField),
                     stride);
    }
}

void PeImage::listRvaTable(Output& out, std::string_view title, std::uint64_t tableAddress,
                           std::uint64_t count, std::uint32_t extraBytes) const
{
    if (tableAddress == 0 || count == 0) {
        return;
    }
    out << "  " << title << '\n';
    const auto rva = rvaOfAddress(tableAddress);
    const auto table = rva ? map(*rva) : std::nullopt;
    if (!table) {
        report(out, std::string(title) + ": " +
                        (rva ? whyUnmapped(*rva)
                             : "address 0x" + toHex(tableAddress) + " lies outside the image"));
        return;
    }
    if (count > maxRvaTableEntries) {
        report(out,
               std::string(title) + ": more entries than the limit of " +
                   std::to_string(maxRvaTableEntries),
               table->fileOffset);
        count = maxRvaTableEntries;
    }
    const std::uint64_t entrySize = 4 + std::uint64_t{extraBytes};
    for (std::uint64_t i = 0; i < count && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const auto entry = table->view.u32(i * entrySize);
        if (!entry) {
            report(out,
                   std::string(title) + ": the table ends after " + std::to_string(i) + " of " +
                       std::to_string(count) + " entries",
                   table->fileOffset + i * entrySize);
            return;
        }
        out << "    " << hex(*entry);
        if (extraBytes != 0) {
            out << "  flags " << hex(table->view.u8(i * entrySize + 4).value_or(0), 2);
        }
        out << '\n';
    }
}

void PeImage::listExceptions(Output& out, const Options& options) const
{
    heading(out, "Exception table");
    const auto dir = directory(dataDirectory::exceptions);
    const auto mapped = mapDirectory(out, dataDirectory::exceptions, "exception table");
    if (!mapped || !dir) {
        return;
    }
    const std::uint16_t machine = coff_.header().machine;
    const std::uint32_t entrySize = machine == machineAmd64 ? runtimeFunctionSize
                                    : machine == machineArm64 || machine == machineArmNt
                                        ? armFunctionSize
                                        : 0;
    if (entrySize == 0) {
        out << "  " << dec(dir->size) << " bytes; the entries of " << machineName(machine)
            << " images are not decoded\n";
        return;
    }
    std::uint64_t size = dir->size;
    if (size > mapped->view.size()) {
        report(out, "the exception table runs past the end of its section; read up to there",
               mapped->fileOffset);
        size = mapped->view.size();
    }
    if (dir->size % entrySize != 0) {
        report(out,
               "the exception table's size " + std::to_string(dir->size) +
                   " is not a multiple of " + std::to_string(entrySize),
               mapped->fileOffset);
    }
    std::uint64_t count = size / entrySize;
    out << "  " << dec(count) << " entries\n";
    if (count > maxExceptionEntries) {
        report(out, "more entries than the limit of " + std::to_string(maxExceptionEntries),
               mapped->fileOffset);
        count = maxExceptionEntries;
    }
    if (options.has(Switch::Raw)) {
        hexDisplay(mapped->view, 0, size, out);
    }
    out << (entrySize == runtimeFunctionSize ? "  Begin     End       Unwind info\n"
                                             : "  Begin     Unwind data\n");
    for (std::uint64_t i = 0; i < count && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t at = i * entrySize;
        const std::uint32_t begin = mapped->view.u32(at + functionBeginField).value_or(0);
        // The end (x64), or the unwind data or packed unwind information (ARM).
        const std::uint32_t second = mapped->view.u32(at + functionSecondField).value_or(0);
        if (entrySize == armFunctionSize) {
            out << "  " << hex(begin) << "  ";
            if (machine == machineArm64) {
                listArm64Unwind(out, second, mapped->fileOffset + at + functionSecondField);
            } else if ((second & 3) == 0) {
                out << hex(second) << '\n';
            } else {
                // Packed Thumb entries hold the function length in bits
                // 2..12, in units of 2 bytes.
                out << "packed " << hex(second) << ", function length "
                    << dec(std::uint64_t{(second >> 2) & 0x7FF} * 2) << '\n';
            }
            continue;
        }
        const std::uint32_t unwind = mapped->view.u32(at + functionUnwindField).value_or(0);
        out << "  " << hex(begin) << "  " << hex(second) << "  " << hex(unwind);
        if (second < begin) {
            out << '\n';
            report(out, "the function ends before it begins",
                   mapped->fileOffset + at + functionSecondField);
            continue;
        }
        listUnwindInfo(out, unwind, mapped->fileOffset + at + 8);
    }
}

void PeImage::listArm64Unwind(Output& out, std::uint32_t unwindWord,
                              std::uint64_t referenceOffset) const
{
    if (arm64::isPacked(unwindWord)) {
        arm64::listPacked(out, unwindWord, referenceOffset);
        return;
    }
    out << hex(unwindWord);
    const auto record = map(unwindWord);
    if (!record) {
        out << '\n';
        report(out, "the unwind data: " + whyUnmapped(unwindWord), referenceOffset);
        return;
    }
    out << "  ";
    arm64::listRecord(out, record->view, unwindWord, [](std::uint64_t) { return std::string(); });
}

void PeImage::listUnwindInfo(Output& out, std::uint32_t rva, std::uint64_t referenceOffset) const
{
    const auto info = map(rva);
    std::array<std::uint8_t, unwindHeaderSize> header{};
    if (!info || !info->view.read(0, header)) {
        out << '\n';
        report(out, "the unwind information: " + whyUnmapped(rva), referenceOffset);
        return;
    }
    const unsigned version = header[0] & 7u;
    const unsigned flags = header[0] >> 3u;
    const unsigned codeCount = header[2];
    const unsigned frameRegister = header[3] & 0xFu;
    const unsigned frameOffset = header[3] >> 4u;
    out << "  version " << dec(version) << ", flags " << dec(flags);
    if (flags != 0) {
        out << " (" << flagNames(flags, unwindFlagNames) << ')';
    }
    out << ", prolog " << dec(header[1]) << ", " << dec(codeCount) << " codes";
    if (frameRegister != 0) {
        out << ", frame " << x64Registers[frameRegister] << "+0x"
            << hex(std::uint64_t{frameOffset} * 16, 1);
    }
    out << '\n';
    if (version != 1 && version != 2) {
        report(out, "unwind information version " + std::to_string(version) + " is not known",
               info->fileOffset);
        return;
    }
    const std::uint64_t codesEnd = unwindHeaderSize + std::uint64_t{codeCount} * 2;
    if (!info->view.has(0, codesEnd)) {
        report(out, "the unwind codes run past the end of their section", info->fileOffset);
        return;
    }
    const auto slot = [&](unsigned index) -> std::uint32_t {
        return info->view.u16(unwindHeaderSize + std::uint64_t{index} * 2).value_or(0);
    };
    for (unsigned i = 0; i < codeCount && !out.budget().exhausted();) {
        out.budget().charge(entryCost);
        const std::uint32_t code = slot(i);
        const unsigned prologOffset = code & 0xFFu;
        const unsigned op = (code >> 8u) & 0xFu;
        const unsigned opInfo = code >> 12u;
        const unsigned slots = unwindSlots(op, opInfo);
        out << "      " << hex(prologOffset, 2) << "  ";
        if (op >= std::size(unwindOpNames)) {
            out << "op " << dec(op) << '\n';
            report(out, "unwind code " + std::to_string(i) + " has an unknown operation",
                   info->fileOffset + unwindHeaderSize + std::uint64_t{i} * 2);
            return;
        }
        std::string_view name = unwindOpNames[op];
        if (version == 1 && op == epilogOrSaveXmm) {
            name = "SAVE_XMM";
        } else if (version == 1 && op == spareOrSaveXmmFar) {
            name = "SAVE_XMM_FAR";
        }
        if (i + slots > codeCount) {
            out << name << '\n';
            report(out,
                   "unwind code " + std::to_string(i) + " needs " + std::to_string(slots) +
                       " slots, " + std::to_string(codeCount - i) + " are left",
                   info->fileOffset + unwindHeaderSize + std::uint64_t{i} * 2);
            return;
        }
        out << column(name, 16);
        const std::uint32_t next = slots > 1 ? slot(i + 1) : 0;
        const std::uint32_t far = slots > 2 ? next | (slot(i + 2) << 16) : 0;
        switch (op) {
        case pushNonVolatile:
            out << x64Registers[opInfo];
            break;
        case allocLarge:
            out << "size 0x" << hex(opInfo == 0 ? next * 8 : far, 1);
            break;
        case allocSmall:
            out << "size 0x" << hex(opInfo * 8 + 8, 1);
            break;
        case setFramePointer:
            out << x64Registers[frameRegister] << "+0x" << hex(std::uint64_t{frameOffset} * 16, 1);
            break;
        case saveNonVolatile:
            out << x64Registers[opInfo] << " at 0x" << hex(std::uint64_t{next} * 8, 1);
            break;
        case saveNonVolatileFar:
            out << x64Registers[opInfo] << " at 0x" << hex(far, 1);
            break;
        case saveXmm128:
            out << "XMM" << dec(opInfo) << " at 0x" << hex(std::uint64_t{next} * 16, 1);
            break;
        case saveXmm128Far:
            out << "XMM" << dec(opInfo) << " at 0x" << hex(far, 1);
            break;
        case pushMachineFrame:
            out << (opInfo == 0 ? "without" : "with") << " error code";
            break;
        default:
            out << "info " << dec(opInfo);
            break;
        }
        out << '\n';
        i += slots;
    }
    // After the codes, padded to an even number of slots.
    const std::uint64_t tail = unwindHeaderSize + std::uint64_t{(codeCount + 1) & ~1u} * 2;
    if ((flags & unwindFlagChained) != 0) {
        std::array<std::uint8_t, runtimeFunctionSize> chained{};
        if (!info->view.read(tail, chained)) {
            report(out, "the chained function entry runs past the end of its section",
                   info->fileOffset + tail);
            return;
        }
        out << "      chained to " << hex(le32(&chained[0])) << "  " << hex(le32(&chained[4]))
            << "  " << hex(le32(&chained[8])) << '\n';
    } else if ((flags & (unwindFlagExceptionHandler | unwindFlagTerminationHandler)) != 0) {
        const auto handler = info->view.u32(tail);
        if (!handler) {
            report(out, "the handler RVA runs past the end of its section",
                   info->fileOffset + tail);
            return;
        }
        out << "      handler " << hex(*handler) << ", data at " << hex(rva + tail + 4) << '\n';
    }
}

void PeImage::listCertificates(Output& out) const
{
    heading(out, "Certificates");
    const auto dir = directory(dataDirectory::certificates);
    if (!dir || dir->rva == 0) {
        out << "  (no certificate table)\n";
        return;
    }
    // This directory holds a file offset, not an RVA: the table is not
    // loaded into memory.
    const std::uint64_t start = dir->rva;
    std::uint64_t size = dir->size;
    out << "  Table at file offset " << hex(start) << ", size " << hex(size) << '\n';
    if (start >= view_.size()) {
        report(out, "the certificate table at file offset 0x" + toHex(start) +
                        " lies past the end of the file");
        return;
    }
    if (size > view_.size() - start) {
        report(out, "the certificate table runs past the end of the file; read up to there",
               view_.base() + start);
        size = view_.size() - start;
    }
    out << "  Offset    Length    Revision  Type\n";
    std::uint64_t at = 0;
    for (std::uint32_t i = 0; at + certificateHeaderSize <= size && !out.budget().exhausted();
         ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t offset = start + at;
        if (i == maxCertificates) {
            report(out, "more certificates than the limit of " + std::to_string(maxCertificates),
                   view_.base() + offset);
            return;
        }
        const std::uint32_t length = view_.u32(offset + certificateLengthField).value_or(0);
        const std::uint16_t revision = view_.u16(offset + certificateRevisionField).value_or(0);
        const std::uint16_t type = view_.u16(offset + certificateTypeField).value_or(0);
        out << "  " << hex(offset) << "  " << hex(length) << "  " << dec(revision >> 8) << '.'
            << dec(revision & 0xFFu) << "       " << dec(type) << ' ' << certificateTypeName(type)
            << '\n';
        if (length < certificateHeaderSize) {
            report(out,
                   "certificate of length " + std::to_string(length) +
                       " (an entry is at least 8 bytes); the rest of the table is skipped",
                   view_.base() + offset);
            return;
        }
        if (length > size - at) {
            report(out, "the certificate runs past the end of the table", view_.base() + offset);
            return;
        }
        at += (std::uint64_t{length} + certificateAlignment - 1) &
              ~std::uint64_t{certificateAlignment - 1};
    }
    if (at < size) {
        report(out,
               std::to_string(size - at) + " bytes at the end of the table hold no certificate",
               view_.base() + start + at);
    }
}

void PeImage::listOverlay(Output& out) const
{
    heading(out, "Overlay");
    std::uint64_t end = sizeOfHeaders_;
    for (const SectionHeader& s : coff_.sections()) {
        if (s.rawSize != 0) {
            end = std::max(end, std::uint64_t{s.rawPointer} + s.rawSize);
        }
    }
    if (end >= view_.size()) {
        out << "  (none: the file ends with the last section's data)\n";
        return;
    }
    const std::uint64_t size = view_.size() - end;
    label(out, "File offset") << hex(end) << '\n';
    label(out, "Size") << hex(size) << "  (" << dec(size) << " bytes)\n";
    // What usually lies there: the certificate table, and the COFF symbol
    // table GNU ld leaves in unstripped images.
    const auto certificates = directory(dataDirectory::certificates);
    if (certificates && certificates->rva != 0 && certificates->rva >= end) {
        out << "  The certificate table (file offset " << hex(certificates->rva) << ", "
            << dec(certificates->size) << " bytes) lies in it\n";
    }
    const std::uint32_t symbols = coff_.header().symbolTableOffset;
    if (symbols != 0 && symbols >= end && symbols < view_.size()) {
        out << "  The COFF symbol table (file offset " << hex(symbols) << ", "
            << dec(coff_.header().symbolCount) << " records) lies in it\n";
    }
}

} // namespace tdump
