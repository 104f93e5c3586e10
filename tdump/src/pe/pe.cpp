#include "pe/pe.h"

#include <algorithm>
#include <array>

#include "demangle/demangle.h"
#include "display/file_display.h"
#include "names.h"

namespace tdump {
namespace {

constexpr std::uint16_t magicPe32 = 0x10B;
constexpr std::uint16_t magicPe32Plus = 0x20B;
constexpr std::size_t maxNameLength = 4096;
// Caps on table walks: well past anything a real image has, low enough that
// a forged count cannot make a listing run for ever.
constexpr std::uint32_t maxExports = 1u << 20;
constexpr std::uint32_t maxImportModules = 65536;
constexpr std::uint32_t maxThunks = 1u << 20;
constexpr std::uint32_t maxDebugEntries = 4096;
constexpr std::uint32_t maxRelocationBlocks = 1u << 20;
// A module's heading in the import listings is a line or two.
constexpr std::size_t headingCapacity = 256;

struct OptionalField {
    std::string_view name;
    std::uint32_t offset32;
    std::uint32_t size32; // 0: not in a PE32 header
    std::uint32_t offset64;
    std::uint32_t size64; // 0: not in a PE32+ header
};

constexpr OptionalField optionalFields[] = {
    {"Magic", 0, 2, 0, 2},
    {"Major linker version", 2, 1, 2, 1},
    {"Minor linker version", 3, 1, 3, 1},
    {"Size of code", 4, 4, 4, 4},
    {"Size of initialised data", 8, 4, 8, 4},
    {"Size of uninitialised data", 12, 4, 12, 4},
    {"Entry point RVA", 16, 4, 16, 4},
    {"Base of code", 20, 4, 20, 4},
    {"Base of data", 24, 4, 0, 0},
    {"Image base", 28, 4, 24, 8},
    {"Section alignment", 32, 4, 32, 4},
    {"File alignment", 36, 4, 36, 4},
    {"Major OS version", 40, 2, 40, 2},
    {"Minor OS version", 42, 2, 42, 2},
    {"Major image version", 44, 2, 44, 2},
    {"Minor image version", 46, 2, 46, 2},
    {"Major subsystem version", 48, 2, 48, 2},
    {"Minor subsystem version", 50, 2, 50, 2},
    {"Win32 version value", 52, 4, 52, 4},
    {"Size of image", 56, 4, 56, 4},
    {"Size of headers", 60, 4, 60, 4},
    {"Checksum", 64, 4, 64, 4},
    {"Subsystem", 68, 2, 68, 2},
    {"DLL characteristics", 70, 2, 70, 2},
    {"Size of stack reserve", 72, 4, 72, 8},
    {"Size of stack commit", 76, 4, 80, 8},
    {"Size of heap reserve", 80, 4, 88, 8},
    {"Size of heap commit", 84, 4, 96, 8},
    {"Loader flags", 88, 4, 104, 4},
    {"Number of RVAs and sizes", 92, 4, 108, 4},
};

// The fields read outside the listing above, of IMAGE_OPTIONAL_HEADER32
// and, where it differs, IMAGE_OPTIONAL_HEADER64.
namespace optionalHeader {
constexpr std::uint32_t magic = 0;
constexpr std::uint32_t imageBase32 = 28;
constexpr std::uint32_t imageBase64 = 24;
constexpr std::uint32_t sizeOfHeaders = 60;
constexpr std::uint32_t checkSum = 64;
constexpr std::uint32_t numberOfRvaAndSizes32 = 92;
constexpr std::uint32_t numberOfRvaAndSizes64 = 108;
constexpr std::uint32_t dataDirectory32 = 96;
constexpr std::uint32_t dataDirectory64 = 112;
} // namespace optionalHeader

// IMAGE_DATA_DIRECTORY
namespace directoryEntry {
constexpr std::uint32_t virtualAddress = 0;
constexpr std::uint32_t tableSize = 4; // its Size field
constexpr std::uint32_t size = 8;
} // namespace directoryEntry

// IMAGE_NUMBEROF_DIRECTORY_ENTRIES, and the entries read here.
constexpr std::uint32_t numberOfDirectoryEntries = 16;

// IMAGE_DOS_HEADER's e_lfanew: where the PE signature is. The loader reads
// it whatever the MS-DOS header's size.
namespace dosHeader {
constexpr std::uint64_t lfanew = 0x3C;
} // namespace dosHeader

// "PE\0\0", ahead of the file header.
constexpr std::uint32_t ntSignature = 0x00004550;
constexpr std::uint64_t ntSignatureSize = 4;

// IMAGE_EXPORT_DIRECTORY
namespace exportDirectory {
constexpr std::size_t timeDateStamp = 4;
constexpr std::size_t name = 12;
constexpr std::size_t base = 16;
constexpr std::size_t numberOfFunctions = 20;
constexpr std::size_t numberOfNames = 24;
constexpr std::size_t addressOfFunctions = 28;
constexpr std::size_t addressOfNames = 32;
constexpr std::size_t addressOfNameOrdinals = 36;
constexpr std::size_t size = 40;
} // namespace exportDirectory

// The tables the export directory points at hold RVAs and 16-bit ordinals.
constexpr std::uint64_t exportRvaSize = 4;
constexpr std::uint64_t exportOrdinalSize = 2;

// IMAGE_IMPORT_DESCRIPTOR
namespace importDescriptor {
constexpr std::size_t originalFirstThunk = 0;
constexpr std::size_t timeDateStamp = 4;
constexpr std::size_t forwarderChain = 8;
constexpr std::size_t name = 12;
constexpr std::size_t firstThunk = 16;
constexpr std::size_t size = 20;
} // namespace importDescriptor

// IMAGE_DELAYLOAD_DESCRIPTOR
namespace delayDescriptor {
constexpr std::size_t attributes = 0;
constexpr std::size_t dllNameRva = 4;
constexpr std::size_t moduleHandleRva = 8;
constexpr std::size_t importAddressTableRva = 12;
constexpr std::size_t importNameTableRva = 16;
constexpr std::size_t size = 32;
} // namespace delayDescriptor

// The attribute of a delay-load descriptor that holds RVAs, not addresses.
constexpr std::uint32_t delayAttributeRvaBased = 1;

// IMAGE_DEBUG_DIRECTORY
namespace debugDirectory {
constexpr std::uint32_t timeDateStamp = 4;
constexpr std::uint32_t majorVersion = 8;
constexpr std::uint32_t minorVersion = 10;
constexpr std::uint32_t type = 12;
constexpr std::uint32_t sizeOfData = 16;
constexpr std::uint32_t addressOfRawData = 20;
constexpr std::uint32_t pointerToRawData = 24;
constexpr std::uint32_t size = 28;
} // namespace debugDirectory

constexpr std::uint32_t debugTypeCodeView = 2;
constexpr std::uint32_t debugTypePogo = 13;
constexpr std::uint32_t debugTypeRepro = 16;

// The CodeView records that name the program database: CV_INFO_PDB70
// ("RSDS") and CV_INFO_PDB20 ("NB10"), after their signature.
constexpr std::uint32_t cvSignatureRsds = 0x53445352;
constexpr std::uint32_t cvSignatureNb10 = 0x3031424E;
namespace pdb70 {
constexpr std::size_t signature = 4;
constexpr std::size_t age = 20;
constexpr std::size_t pdbFileName = 24;
} // namespace pdb70
namespace pdb20 {
constexpr std::uint64_t signature = 8;
constexpr std::uint64_t age = 12;
constexpr std::uint64_t pdbFileName = 16;
} // namespace pdb20

// The POGO entry (profile-guided and link-time code generation): a
// signature, then records of an RVA, a size and a NUL-terminated name
// padded to four bytes.
namespace pogo {
constexpr std::uint64_t signature = 0;
constexpr std::uint64_t firstRecord = 4;
constexpr std::uint64_t rva = 0;
constexpr std::uint64_t size = 4;
constexpr std::uint64_t name = 8;
constexpr std::uint64_t alignment = 4;
constexpr std::uint32_t maxRecords = 65536;
} // namespace pogo

// The repro entry: the length of the hash that stands for the time stamps,
// then the hash.
namespace repro {
constexpr std::uint64_t hashLength = 0;
constexpr std::uint64_t hash = 4;
} // namespace repro

// IMAGE_BASE_RELOCATION, a block's header; its 16-bit entries follow.
namespace baseRelocation {
constexpr std::uint64_t virtualAddress = 0;
constexpr std::uint64_t sizeOfBlock = 4;
constexpr std::uint64_t size = 8;
} // namespace baseRelocation

constexpr std::uint64_t baseRelocationEntrySize = 2;
// An entry: the type in the top four bits, the offset into the page below.
constexpr unsigned baseRelocationTypeShift = 12;
constexpr std::uint32_t baseRelocationOffsetMask = 0xFFF;
// IMAGE_REL_BASED_HIGHADJ, which takes up two entries.
constexpr unsigned relocationBasedHighAdj = 4;

std::string quoteName(const CString& text)
{
    return text.terminated ? printable(text.text) : printable(text.text) + " ** (not terminated)";
}

// The records of a POGO debug entry, one line each.
void listPogo(View data, Output& out, std::uint64_t fileOffset)
{
    const auto signature = data.u32(pogo::signature);
    if (!signature) {
        report(out, "the POGO entry is too short for its signature", fileOffset);
        return;
    }
    std::string tag;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto c = static_cast<char>((*signature >> shift) & 0xFF);
        if (c != '\0') {
            tag += c;
        }
    }
    out << "     POGO " << printable(tag) << '\n';
    std::uint64_t at = pogo::firstRecord;
    for (std::uint32_t n = 0; at + pogo::name < data.size() && !out.budget().exhausted(); ++n) {
        out.budget().charge(entryCost);
        if (n == pogo::maxRecords) {
            report(out, "more POGO records than the limit of " + std::to_string(pogo::maxRecords),
                   fileOffset + at);
            return;
        }
        const auto name = data.string(at + pogo::name, maxNameLength);
        out << "       " << hex(data.u32(at + pogo::rva).value_or(0)) << "  "
            << hex(data.u32(at + pogo::size).value_or(0)) << "  "
            << (name ? quoteName(*name) : std::string()) << '\n';
        if (!name || !name->terminated) {
            return;
        }
        at += pogo::name + name->text.size() + 1;
        at = (at + pogo::alignment - 1) & ~(pogo::alignment - 1);
    }
}

// The hash a reproducible build writes instead of time stamps.
void listRepro(View data, Output& out, std::uint64_t fileOffset)
{
    const auto length = data.u32(repro::hashLength);
    if (!length) {
        out << "     repro: no hash (the time stamps are one)\n";
        return;
    }
    out << "     repro hash, " << dec(*length) << " bytes:";
    if (*length > data.size() - repro::hash) {
        out << '\n';
        report(out, "the hash runs past the entry", fileOffset);
        return;
    }
    for (std::uint32_t i = 0; i < *length; ++i) {
        out << ' ' << hex(data.u8(repro::hash + i).value_or(0), 2);
    }
    out << '\n';
}

} // namespace

std::optional<PeImage> PeImage::open(View view)
{
    if (!hasDosHeader(view)) {
        return std::nullopt;
    }
    const auto lfanew = view.u32(dosHeader::lfanew);
    if (!lfanew || view.u32(*lfanew) != ntSignature) {
        return std::nullopt;
    }
    const auto header = readCoffHeader(view, std::uint64_t{*lfanew} + ntSignatureSize);
    if (!header) {
        // The signature is there but the file header is cut off: still a PE
        // file, with an empty header, so the listing can say what is missing.
        CoffHeader empty;
        empty.headerOffset = std::uint64_t{*lfanew} + ntSignatureSize;
        empty.sectionTableOffset = view.size();
        return PeImage(view, *lfanew, CoffFile(view, empty));
    }
    return PeImage(view, *lfanew, CoffFile(view, *header));
}

PeImage::PeImage(View view, std::uint32_t peOffset, CoffFile coff)
    : view_(view), peOffset_(peOffset), coff_(std::move(coff))
{
    optionalOffset_ = std::uint64_t{peOffset_} + ntSignatureSize + fileHeader::size;
    const std::uint64_t declared = coff_.header().optionalHeaderSize;
    optionalSize_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        declared, view_.size() > optionalOffset_ ? view_.size() - optionalOffset_ : 0));
    magic_ = static_cast<std::uint16_t>(optionalField(optionalHeader::magic, 2).value_or(0));
    pe32Plus_ = magic_ == magicPe32Plus;
    imageBase_ = pe32Plus_ ? optionalField(optionalHeader::imageBase64, 8).value_or(0)
                           : optionalField(optionalHeader::imageBase32, 4).value_or(0);
    sizeOfHeaders_ =
        static_cast<std::uint32_t>(optionalField(optionalHeader::sizeOfHeaders, 4).value_or(0));
    const std::uint32_t dirOffset =
        pe32Plus_ ? optionalHeader::dataDirectory64 : optionalHeader::dataDirectory32;
    const std::uint32_t countOffset =
        pe32Plus_ ? optionalHeader::numberOfRvaAndSizes64 : optionalHeader::numberOfRvaAndSizes32;
    const std::uint32_t declaredCount =
        static_cast<std::uint32_t>(optionalField(countOffset, 4).value_or(0));
    const std::uint32_t fitting =
        optionalSize_ > dirOffset ? (optionalSize_ - dirOffset) / directoryEntry::size : 0;
    directoryCount_ = std::min({declaredCount, fitting, numberOfDirectoryEntries});
    // Every RVA of every table is looked up; with up to 65,535 sections a
    // linear search per lookup would be far too slow.
    const auto& sections = coff_.sections();
    byAddress_.resize(sections.size());
    for (std::size_t i = 0; i < sections.size(); ++i) {
        byAddress_[i] = i;
    }
    std::stable_sort(byAddress_.begin(), byAddress_.end(), [&](std::size_t a, std::size_t b) {
        return sections[a].virtualAddress < sections[b].virtualAddress;
    });
}

const SectionHeader* PeImage::sectionContaining(std::uint32_t rva) const
{
    const auto& sections = coff_.sections();
    const auto holds = [rva](const SectionHeader& s) {
        const std::uint32_t extent = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
        return rva - s.virtualAddress < extent;
    };
    // The first section in table order that holds the RVA, as the loader
    // would see it; real images have a few dozen sections at most.
    constexpr std::size_t searchedInOrder = 96;
    for (std::size_t i = 0; i < std::min(sections.size(), searchedInOrder); ++i) {
        if (holds(sections[i])) {
            return &sections[i];
        }
    }
    // Beyond those, by address: the nearest section below is the candidate,
    // and a few more for overlapping (forged) ones, so a lookup stays cheap.
    auto it = std::upper_bound(byAddress_.begin(), byAddress_.end(), rva,
                               [&](std::uint32_t value, std::size_t index) {
                                   return value < sections[index].virtualAddress;
                               });
    for (int tries = 0; tries < 8 && it != byAddress_.begin(); ++tries) {
        const SectionHeader& s = sections[*--it];
        if (holds(s)) {
            return &s;
        }
    }
    return nullptr;
}

std::optional<std::uint64_t> PeImage::optionalField(std::uint32_t offset, std::uint32_t size) const
{
    if (offset + size > optionalSize_) {
        return std::nullopt;
    }
    switch (size) {
    case 1:
        return view_.u8(optionalOffset_ + offset);
    case 2:
        return view_.u16(optionalOffset_ + offset);
    case 4:
        return view_.u32(optionalOffset_ + offset);
    default:
        return view_.u64(optionalOffset_ + offset);
    }
}

std::optional<PeImage::Directory> PeImage::directory(std::size_t index) const
{
    if (index >= directoryCount_) {
        return std::nullopt;
    }
    const std::uint32_t at =
        (pe32Plus_ ? optionalHeader::dataDirectory64 : optionalHeader::dataDirectory32) +
        static_cast<std::uint32_t>(index) * directoryEntry::size;
    const auto rva = optionalField(at + directoryEntry::virtualAddress, 4);
    const auto size = optionalField(at + directoryEntry::tableSize, 4);
    if (!rva || !size) {
        return std::nullopt;
    }
    return Directory{static_cast<std::uint32_t>(*rva), static_cast<std::uint32_t>(*size)};
}

std::optional<PeImage::Mapped> PeImage::map(std::uint32_t rva) const
{
    if (const SectionHeader* section = sectionContaining(rva)) {
        const SectionHeader& s = *section;
        const std::uint32_t within = rva - s.virtualAddress;
        if (within >= s.rawSize) {
            return std::nullopt; // in the zero-filled tail: no bytes in the file
        }
        const std::uint64_t offset = std::uint64_t{s.rawPointer} + within;
        if (offset >= view_.size()) {
            return std::nullopt;
        }
        return Mapped{view_.sub(offset, s.rawSize - within), view_.base() + offset};
    }
    // The headers are mapped at RVA 0 as they are in the file.
    if (rva < sizeOfHeaders_ && rva < view_.size()) {
        return Mapped{view_.sub(rva, sizeOfHeaders_ - rva), view_.base() + rva};
    }
    return std::nullopt;
}

std::string PeImage::whyUnmapped(std::uint32_t rva) const
{
    const std::string text = "RVA 0x" + toHex(rva);
    if (const SectionHeader* s = sectionContaining(rva)) {
        return text + " lies in section " + s->name + " beyond the data in the file";
    }
    return text + " lies outside every section and the headers";
}

std::optional<std::string> PeImage::nameAt(std::uint32_t rva) const
{
    const auto mapped = map(rva);
    if (!mapped) {
        return std::nullopt;
    }
    const auto text = mapped->view.string(0, maxNameLength);
    if (!text) {
        return std::nullopt;
    }
    return quoteName(*text);
}

std::string PeImage::sectionOf(std::uint32_t rva) const
{
    for (const SectionHeader& s : coff_.sections()) {
        const std::uint32_t extent = std::max(s.virtualSize, s.rawSize);
        if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
            return s.name;
        }
    }
    return rva < sizeOfHeaders_ ? "(headers)" : "";
}

std::optional<PeImage::Mapped> PeImage::mapDirectory(Output& out, std::size_t index,
                                                     std::string_view what) const
{
    const auto dir = directory(index);
    if (!dir || dir->rva == 0) {
        out << "  (no " << what << ")\n";
        return std::nullopt;
    }
    auto mapped = map(dir->rva);
    if (!mapped) {
        const std::uint64_t entry =
            optionalOffset_ +
            (pe32Plus_ ? optionalHeader::dataDirectory64 : optionalHeader::dataDirectory32) +
            index * directoryEntry::size;
        report(out,
               "the " + std::string(dataDirectoryName(index)) +
                   " directory: " + whyUnmapped(dir->rva),
               view_.base() + entry);
        return std::nullopt;
    }
    return mapped;
}

std::string PeImage::description() const
{
    std::string text = magic_ == magicPe32Plus ? "PE32+ image"
                       : magic_ == magicPe32   ? "PE32 image"
                                               : "PE image";
    text += isDll() ? " (DLL), " : " (executable), ";
    text += machineName(coff_.header().machine);
    return text;
}

void PeImage::listHeaders(Output& out, const Options& options) const
{
    listDosHeader(view_, out, options);
    if (options.has(Switch::NoNewExe)) {
        return;
    }
    heading(out, "PE signature");
    label(out, "File offset") << "0x" << hex(view_.base() + peOffset_, 1) << '\n';
    if (!view_.has(coff_.header().headerOffset, fileHeader::size)) {
        report(out, "the COFF file header after the PE signature is truncated",
               view_.base() + peOffset_ + ntSignatureSize);
        return;
    }
    coff_.listFileHeader(out, options);
    listOptionalHeader(out, options);
    listDataDirectories(out);
}

void PeImage::listOptionalHeader(Output& out, const Options& options) const
{
    heading(out, "Optional header");
    const std::uint32_t declared = coff_.header().optionalHeaderSize;
    if (declared == 0) {
        report(out, "the image has no optional header",
               view_.base() + coff_.header().headerOffset + fileHeader::sizeOfOptionalHeader);
        return;
    }
    if (magic_ != magicPe32 && magic_ != magicPe32Plus) {
        report(out,
               "unrecognised optional header magic 0x" + toHex(magic_) +
                   "; the fields are read as PE32",
               view_.base() + optionalOffset_);
    }
    for (const OptionalField& f : optionalFields) {
        const std::uint32_t offset = pe32Plus_ ? f.offset64 : f.offset32;
        const std::uint32_t size = pe32Plus_ ? f.size64 : f.size32;
        if (size == 0) {
            continue;
        }
        const auto value = optionalField(offset, size);
        if (!value) {
            report(out,
                   "the optional header ends before " + std::string(f.name) + " (" +
                       std::to_string(optionalSize_) + " of the " + std::to_string(declared) +
                       " bytes it declares are in the file)",
                   view_.base() + optionalOffset_ + offset);
            return;
        }
        label(out, f.name) << hex(*value, static_cast<int>(2 * size));
        if (f.name == "Magic") {
            out << "  " << (pe32Plus_ ? "PE32+" : "PE32");
        } else if (f.name == "Subsystem") {
            out << "  " << subsystemName(static_cast<std::uint16_t>(*value));
        } else if (f.name == "DLL characteristics") {
            out << "  " << flagNames(static_cast<std::uint32_t>(*value), dllCharacteristicFlags());
        } else if (f.name == "Number of RVAs and sizes" && *value > numberOfDirectoryEntries) {
            out << "  ** more than the 16 known; the first 16 are used";
        } else if (options.verbose() && size == 4 && f.name != "Checksum" && *value >= 10) {
            out << "  (" << dec(*value) << ')';
        }
        out << '\n';
    }
}

void PeImage::listDataDirectories(Output& out) const
{
    heading(out, "Data directories");
    out << "  #   Directory         RVA       Size      Section\n";
    for (std::size_t i = 0; i < directoryCount_; ++i) {
        const auto dir = directory(i);
        if (!dir) {
            break;
        }
        out << "  " << dec(i, 2) << "  " << column(dataDirectoryName(i), 16) << "  "
            << hex(dir->rva) << "  " << hex(dir->size) << "  ";
        if (dir->rva == 0 && dir->size == 0) {
            out << '\n';
            continue;
        }
        if (i == dataDirectory::certificates) {
            // The certificate table is found by file offset, not RVA.
            out << "(file offset)";
            if (!view_.has(dir->rva, dir->size)) {
                out << "  ** past the end of the file";
            }
        } else {
            out << sectionOf(dir->rva);
            if (!map(dir->rva)) {
                out << "  ** " << whyUnmapped(dir->rva);
            }
        }
        out << '\n';
    }
    const std::uint32_t countOffset =
        pe32Plus_ ? optionalHeader::numberOfRvaAndSizes64 : optionalHeader::numberOfRvaAndSizes32;
    const std::uint32_t declared =
        static_cast<std::uint32_t>(optionalField(countOffset, 4).value_or(0));
    if (directoryCount_ < std::min(declared, numberOfDirectoryEntries)) {
        report(out,
               std::to_string(declared) + " directories declared, only " +
                   std::to_string(directoryCount_) + " fit in the optional header",
               view_.base() + optionalOffset_);
    }
}

void PeImage::listSections(Output& out, const Options& options) const
{
    coff_.listSections(out, options, SectionDetail::TableOnly);
    const std::uint32_t count = coff_.header().sectionCount;
    if (count == 0) {
        out << "  (no sections)\n";
    }
}

template <typename Visit>
bool PeImage::walkExports(Output& out, std::string& dllName, Visit visit) const
{
    const auto dir = directory(dataDirectory::exports);
    const auto mapped = mapDirectory(out, dataDirectory::exports, "export directory");
    if (!mapped) {
        return false;
    }
    std::array<std::uint8_t, exportDirectory::size> raw{};
    if (!mapped->view.read(0, raw)) {
        report(out, "the export directory is truncated", mapped->fileOffset);
        return false;
    }
    const std::uint32_t nameRva = le32(&raw[exportDirectory::name]);
    const std::uint32_t base = le32(&raw[exportDirectory::base]);
    std::uint32_t functionCount = le32(&raw[exportDirectory::numberOfFunctions]);
    std::uint32_t nameCount = le32(&raw[exportDirectory::numberOfNames]);
    const std::uint32_t functionsRva = le32(&raw[exportDirectory::addressOfFunctions]);
    const std::uint32_t namesRva = le32(&raw[exportDirectory::addressOfNames]);
    const std::uint32_t ordinalsRva = le32(&raw[exportDirectory::addressOfNameOrdinals]);
    const auto name = nameAt(nameRva);
    dllName = name.value_or("");
    if (!name) {
        report(out, "the DLL name: " + whyUnmapped(nameRva),
               mapped->fileOffset + exportDirectory::name);
    }
    out << "  DLL name " << dllName << ", ordinal base " << dec(base) << ", " << dec(functionCount)
        << " functions, " << dec(nameCount) << " names, time stamp "
        << hex(le32(&raw[exportDirectory::timeDateStamp])) << '\n';
    if (functionCount > maxExports || nameCount > maxExports) {
        report(out,
               "more exports than the limit of " + std::to_string(maxExports) +
                   "; only that many are read",
               mapped->fileOffset + exportDirectory::numberOfFunctions);
        functionCount = std::min(functionCount, maxExports);
        nameCount = std::min(nameCount, maxExports);
    }
    // Names come sorted by name; pair them with their function index so the
    // listing can go by ordinal.
    struct Named {
        std::uint32_t functionIndex;
        std::uint32_t nameRva;
        std::uint64_t pointerOffset; // where the name pointer is, for reports
    };
    std::vector<Named> named;
    if (nameCount != 0) {
        const auto names = map(namesRva);
        const auto ordinals = map(ordinalsRva);
        if (!names || !ordinals) {
            report(out, "the export name tables: " + whyUnmapped(!names ? namesRva : ordinalsRva),
                   mapped->fileOffset + (!names ? exportDirectory::addressOfNames
                                                : exportDirectory::addressOfNameOrdinals));
        } else {
            for (std::uint32_t i = 0; i < nameCount && !out.budget().exhausted(); ++i) {
                out.budget().charge(entryCost);
                const auto pointer = names->view.u32(std::uint64_t{i} * exportRvaSize);
                const auto index = ordinals->view.u16(std::uint64_t{i} * exportOrdinalSize);
                if (!pointer || !index) {
                    report(out,
                           "the export name tables end after " + std::to_string(i) + " of " +
                               std::to_string(nameCount) + " entries",
                           (!pointer ? names->fileOffset : ordinals->fileOffset));
                    break;
                }
                if (*index >= functionCount) {
                    report(out,
                           "export name " + std::to_string(i) + " refers to function index " +
                               std::to_string(*index) + ", beyond the " +
                               std::to_string(functionCount) + " functions",
                           ordinals->fileOffset + std::uint64_t{i} * exportOrdinalSize);
                    continue;
                }
                named.push_back(
                    {*index, *pointer, names->fileOffset + std::uint64_t{i} * exportRvaSize});
            }
        }
    }
    std::stable_sort(named.begin(), named.end(), [](const Named& a, const Named& b) {
        return a.functionIndex < b.functionIndex;
    });
    const auto functions = map(functionsRva);
    if (!functions && functionCount != 0) {
        report(out, "the export address table: " + whyUnmapped(functionsRva),
               mapped->fileOffset + exportDirectory::addressOfFunctions);
        return true;
    }
    auto next = named.begin();
    for (std::uint32_t i = 0; i < functionCount && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const auto rva = functions->view.u32(std::uint64_t{i} * exportRvaSize);
        if (!rva) {
            report(out,
                   "the export address table ends after " + std::to_string(i) + " of " +
                       std::to_string(functionCount) + " entries",
                   functions->fileOffset);
            return true;
        }
        ExportEntry entry{base + i, *rva, {}, {}};
        if (dir && *rva >= dir->rva && *rva - dir->rva < dir->size) {
            entry.forwarder = nameAt(*rva).value_or("** forwarder name unreadable");
        }
        bool any = false;
        for (; next != named.end() && next->functionIndex == i; ++next) {
            const auto exportName = nameAt(next->nameRva);
            if (!exportName) {
                report(out,
                       "the name of export " + std::to_string(entry.ordinal) + ": " +
                           whyUnmapped(next->nameRva),
                       next->pointerOffset);
            }
            entry.name = exportName.value_or("** name unreadable");
            visit(entry);
            any = true;
        }
        if (!any && *rva != 0) {
            visit(entry);
        }
    }
    return true;
}

void PeImage::listExports(Output& out, const Options& options, std::string_view filter) const
{
    heading(out, "Exports");
    std::string dllName;
    bool header = false;
    std::size_t shown = 0;
    walkExports(out, dllName, [&](const ExportEntry& e) {
        if (!filter.empty() && (e.name.empty() || !matchesFilter(e.name, filter))) {
            out.budget().charge(e.name.size()); // searched, though not written
            return;
        }
        if (!header) {
            out << "  Ordinal  RVA       Name\n";
            header = true;
        }
        out << "  " << dec(e.ordinal, 7) << "  " << hex(e.rva) << "  "
            << (e.name.empty() ? std::string("(by ordinal only)")
                               : displayName(e.name, options.demangle()));
        if (!e.forwarder.empty()) {
            out << "  -> " << e.forwarder;
        }
        out << '\n';
        ++shown;
    });
    if (!filter.empty()) {
        out << "  " << dec(shown) << " export(s) match \"" << filter << "\"\n";
    }
}

void PeImage::listImpdef(Output& out, const Options& options) const
{
    heading(out, "Module definition (IMPDEF)");
    StringSink lines;
    std::string dllName;
    std::size_t shown = 0;
    {
        Output text(lines, out.budget());
        walkExports(out, dllName, [&](const ExportEntry& e) {
            if (!options.impdefFilter.empty() &&
                (e.name.empty() || !matchesFilter(e.name, options.impdefFilter))) {
                out.budget().charge(e.name.size()); // searched, though not written
                return;
            }
            ++shown;
            text << "    "
                 << column(e.name.empty() ? std::string_view("") : std::string_view(e.name), 32)
                 << " @" << dec(e.ordinal);
            if (e.name.empty()) {
                text << " NONAME";
            }
            if (!e.forwarder.empty()) {
                text << "  ; forwarded to " << e.forwarder;
            }
            text << '\n';
        });
    }
    if (shown == 0 && !options.impdefFilter.empty()) {
        out << "  (no export matches \"" << options.impdefFilter << "\")\n";
        return;
    }
    out << "LIBRARY     " << dllName << "\nEXPORTS\n" << lines.text;
}

void PeImage::listImports(Output& out, const Options& options, ImportDetail detail,
                          std::string_view filter) const
{
    const bool modulesOnly = detail == ImportDetail::ModulesOnly;
    heading(out, modulesOnly ? "Imported modules" : "Imports");
    const auto mapped = mapDirectory(out, dataDirectory::imports, "import directory");
    if (!mapped) {
        return;
    }
    for (std::uint32_t i = 0; !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        if (i == maxImportModules) {
            report(out,
                   "more import descriptors than the limit of " + std::to_string(maxImportModules),
                   mapped->fileOffset);
            return;
        }
        std::array<std::uint8_t, importDescriptor::size> raw{};
        if (!mapped->view.read(std::uint64_t{i} * importDescriptor::size, raw)) {
            report(out,
                   "the import descriptors run past the end of their section without the closing "
                   "empty one",
                   mapped->fileOffset + std::uint64_t{i} * importDescriptor::size);
            return;
        }
        if (std::all_of(raw.begin(), raw.end(), [](std::uint8_t b) { return b == 0; })) {
            return;
        }
        const std::uint32_t lookupRva = le32(&raw[importDescriptor::originalFirstThunk]);
        const std::uint32_t nameRva = le32(&raw[importDescriptor::name]);
        const std::uint32_t addressRva = le32(&raw[importDescriptor::firstThunk]);
        const std::uint64_t descriptorOffset =
            mapped->fileOffset + std::uint64_t{i} * importDescriptor::size;
        const auto name = nameAt(nameRva);
        const std::string moduleName = name.value_or("");
        const bool moduleMatches = matchesFilter(moduleName, filter);
        if (modulesOnly) {
            if (moduleMatches) {
                out << "  " << (name ? moduleName : std::string("** name unreadable")) << '\n';
            }
            if (!name) {
                report(out, "the module name: " + whyUnmapped(nameRva),
                       descriptorOffset + importDescriptor::name);
            }
            continue;
        }
        StringSink heading;
        {
            Output text(heading, out.budget(), headingCapacity);
            text << "\n  Module " << (name ? moduleName : std::string("** name unreadable"))
                 << '\n';
            text << "    lookup table " << hex(lookupRva) << ", address table " << hex(addressRva)
                 << ", time stamp " << hex(le32(&raw[importDescriptor::timeDateStamp]))
                 << ", forwarder chain " << hex(le32(&raw[importDescriptor::forwarderChain]))
                 << '\n';
        }
        ModuleHeading pending{heading.text, filter.empty() || moduleMatches || !name};
        pending.showIfDue(out);
        if (!name) {
            report(out, "the module name: " + whyUnmapped(nameRva),
                   descriptorOffset + importDescriptor::name);
        }
        listThunks(out, options, lookupRva != 0 ? lookupRva : addressRva, filter, moduleMatches, 0,
                   pending);
    }
}

void PeImage::listDelayImports(Output& out, const Options& options, ImportDetail detail,
                               std::string_view filter) const
{
    const bool modulesOnly = detail == ImportDetail::ModulesOnly;
    const auto dir = directory(dataDirectory::delayImports);
    if (!dir || dir->rva == 0) {
        return; // most images have none; the heading would only be noise
    }
    heading(out, modulesOnly ? "Delay-loaded modules" : "Delay-load imports");
    const auto mapped = mapDirectory(out, dataDirectory::delayImports, "delay-load directory");
    if (!mapped) {
        return;
    }
    for (std::uint32_t i = 0; !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        if (i == maxImportModules) {
            report(out, "more delay-load descriptors than the limit", mapped->fileOffset);
            return;
        }
        std::array<std::uint8_t, delayDescriptor::size> raw{};
        if (!mapped->view.read(std::uint64_t{i} * delayDescriptor::size, raw)) {
            report(out,
                   "the delay-load descriptors run past the end of their section without the "
                   "closing empty one",
                   mapped->fileOffset + std::uint64_t{i} * delayDescriptor::size);
            return;
        }
        if (std::all_of(raw.begin(), raw.end(), [](std::uint8_t b) { return b == 0; })) {
            return;
        }
        // Old images store virtual addresses rather than RVAs (attribute bit 0 clear).
        const bool rvaBased =
            (le32(&raw[delayDescriptor::attributes]) & delayAttributeRvaBased) != 0;
        const std::uint64_t subtract = rvaBased ? 0 : imageBase_;
        const auto toRva = [&](std::uint32_t value) -> std::uint32_t {
            return value >= subtract ? static_cast<std::uint32_t>(value - subtract) : 0xFFFFFFFFu;
        };
        const std::uint32_t nameRva = toRva(le32(&raw[delayDescriptor::dllNameRva]));
        const std::uint32_t namesTable = toRva(le32(&raw[delayDescriptor::importNameTableRva]));
        const auto name = nameAt(nameRva);
        const std::string moduleName = name.value_or("");
        const bool moduleMatches = matchesFilter(moduleName, filter);
        if (modulesOnly) {
            if (moduleMatches) {
                out << "  " << (name ? moduleName : std::string("** name unreadable"))
                    << "  (delay-loaded)\n";
            }
            if (!name) {
                report(out, "the module name: " + whyUnmapped(nameRva),
                       mapped->fileOffset + std::uint64_t{i} * delayDescriptor::size +
                           delayDescriptor::dllNameRva);
            }
            continue;
        }
        StringSink heading;
        {
            Output text(heading, out.budget(), headingCapacity);
            text << "\n  Module " << (name ? moduleName : std::string("** name unreadable"))
                 << " (delay-loaded)\n";
            text << "    name table " << hex(le32(&raw[delayDescriptor::importNameTableRva]))
                 << ", address table " << hex(le32(&raw[delayDescriptor::importAddressTableRva]))
                 << ", module handle " << hex(le32(&raw[delayDescriptor::moduleHandleRva]))
                 << (rvaBased ? "" : ", addresses are VAs") << '\n';
        }
        ModuleHeading pending{heading.text, filter.empty() || moduleMatches || !name};
        pending.showIfDue(out);
        if (!name) {
            report(out, "the module name: " + whyUnmapped(nameRva),
                   mapped->fileOffset + std::uint64_t{i} * delayDescriptor::size +
                       delayDescriptor::dllNameRva);
        }
        listThunks(out, options, namesTable, filter, moduleMatches, subtract, pending);
    }
}

void PeImage::listThunks(Output& out, const Options& options, std::uint32_t tableRva,
                         std::string_view filter, bool moduleMatches,
                         std::uint64_t imageBaseToSubtract, ModuleHeading& heading) const
{
    const auto table = map(tableRva);
    if (!table) {
        heading.show(out);
        report(out, "the lookup table: " + whyUnmapped(tableRva));
        return;
    }
    const std::uint64_t width = pe32Plus_ ? thunk64Size : thunk32Size;
    const std::uint64_t ordinalFlag = pe32Plus_ ? ordinalFlag64 : ordinalFlag32;
    bool columns = false;
    const auto startLine = [&] {
        heading.show(out);
        if (!columns) {
            out << "    Hint  Name\n";
            columns = true;
        }
    };
    for (std::uint32_t i = 0; i < maxThunks; ++i) {
        if (out.budget().exhausted()) {
            return;
        }
        out.budget().charge(entryCost);
        const auto entry = pe32Plus_ ? table->view.u64(i * width)
                                     : std::optional<std::uint64_t>(table->view.u32(i * width));
        if (!entry) {
            heading.show(out);
            report(out, "the lookup table is not terminated before the end of its section",
                   table->fileOffset + i * width);
            return;
        }
        if (*entry == 0) {
            return;
        }
        if ((*entry & ordinalFlag) != 0) {
            if (filter.empty() || moduleMatches) {
                startLine();
                out << "          ordinal " << dec(*entry & ordinalMask) << '\n';
            }
            continue;
        }
        const std::uint64_t value = *entry - std::min(*entry, imageBaseToSubtract);
        const auto hintName =
            value <= 0xFFFFFFFFu ? map(static_cast<std::uint32_t>(value)) : std::nullopt;
        const auto hint = hintName ? hintName->view.u16(importByName::hint) : std::nullopt;
        const auto text =
            hintName ? hintName->view.string(importByName::name, maxNameLength) : std::nullopt;
        if (!hint || !text) {
            startLine();
            report(out,
                   "import " + std::to_string(i) + ": the hint/name entry: " +
                       (value <= 0xFFFFFFFFu ? whyUnmapped(static_cast<std::uint32_t>(value))
                                             : "0x" + toHex(value) + " is beyond 32 bits"),
                   table->fileOffset + i * width);
            continue;
        }
        if (!filter.empty() && !moduleMatches && !matchesFilter(text->text, filter)) {
            // Searched, though not written: the search is work all the same.
            out.budget().charge(text->text.size());
            continue;
        }
        startLine();
        out << "    " << hex(*hint, 4) << "  " << displayName(quoteName(*text), options.demangle())
            << '\n';
    }
    heading.show(out);
    report(out,
           "more than " + std::to_string(maxThunks) +
               " imports from one module; the rest is skipped",
           table->fileOffset);
}

void PeImage::listDebugDirectory(Output& out, const Options& options) const
{
    if (!options.debugTableSelected(DebugTable::Directory)) {
        return;
    }
    heading(out, "Debug directory");
    const auto dir = directory(dataDirectory::debug);
    const auto mapped = mapDirectory(out, dataDirectory::debug, "debug directory");
    if (!mapped || !dir) {
        return;
    }
    std::uint32_t count = dir->size / debugDirectory::size;
    if (count > maxDebugEntries) {
        report(out,
               "the debug directory size claims more entries than the limit of " +
                   std::to_string(maxDebugEntries),
               mapped->fileOffset);
        count = maxDebugEntries;
    }
    out << "  Type                   Size      RVA       File ptr  Time stamp  Version\n";
    for (std::uint32_t i = 0; i < count && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        std::array<std::uint8_t, debugDirectory::size> raw{};
        if (!mapped->view.read(std::uint64_t{i} * debugDirectory::size, raw)) {
            report(out,
                   "the debug directory is truncated: entry " + std::to_string(i) + " of " +
                       std::to_string(count) + " lies past the end of its section",
                   mapped->fileOffset + std::uint64_t{i} * debugDirectory::size);
            return;
        }
        const std::uint32_t type = le32(&raw[debugDirectory::type]);
        const std::uint32_t size = le32(&raw[debugDirectory::sizeOfData]);
        const std::uint32_t pointer = le32(&raw[debugDirectory::pointerToRawData]);
        out << "  " << dec(type, 2) << ' ' << column(debugTypeName(type), 20) << hex(size) << "  "
            << hex(le32(&raw[debugDirectory::addressOfRawData])) << "  " << hex(pointer) << "  "
            << hex(le32(&raw[debugDirectory::timeDateStamp])) << "    "
            << dec(le16(&raw[debugDirectory::majorVersion])) << '.'
            << dec(le16(&raw[debugDirectory::minorVersion])) << '\n';
        if (size != 0 && !view_.has(pointer, size)) {
            report(out, "the debug data lies (partly) past the end of the file",
                   mapped->fileOffset + std::uint64_t{i} * debugDirectory::size +
                       debugDirectory::pointerToRawData);
            continue;
        }
        if (type == debugTypeCodeView) { // where the program database is
            const auto signature = view_.u32(pointer);
            if (signature == cvSignatureRsds && size >= pdb70::pdbFileName) {
                std::array<std::uint8_t, pdb70::pdbFileName> record{};
                view_.read(pointer, record);
                out << "     PDB signature "
                    << guidText(std::span<const std::uint8_t, guid::size>(
                           record.data() + pdb70::signature, guid::size))
                    << ", age " << dec(le32(&record[pdb70::age]));
                const auto path =
                    view_.sub(pointer, size).string(pdb70::pdbFileName, maxNameLength);
                out << ", " << (path ? quoteName(*path) : std::string("(no path)")) << '\n';
            } else if (signature == cvSignatureNb10 && size >= pdb20::pdbFileName) {
                const auto path =
                    view_.sub(pointer, size).string(pdb20::pdbFileName, maxNameLength);
                out << "     NB10, time stamp "
                    << hex(view_.u32(std::uint64_t{pointer} + pdb20::signature).value_or(0))
                    << ", age " << dec(view_.u32(std::uint64_t{pointer} + pdb20::age).value_or(0))
                    << ", " << (path ? quoteName(*path) : std::string("(no path)")) << '\n';
            }
        }
        if (type == debugTypePogo && size != 0) {
            listPogo(view_.sub(pointer, size), out, view_.base() + pointer);
        }
        if (type == debugTypeRepro) {
            listRepro(view_.sub(pointer, size), out, view_.base() + pointer);
        }
        if (options.has(Switch::Raw) && size != 0) {
            hexDisplay(view_, pointer, std::uint64_t{pointer} + size, out);
        }
    }
    if (dir->size % debugDirectory::size != 0) {
        report(out,
               "the debug directory size " + std::to_string(dir->size) + " is not a multiple of 28",
               mapped->fileOffset);
    }
}

void PeImage::listDwarf(Output& out, const Options& options) const
{
    const dwarf::Sections sections = coff_.dwarfSections(imageBase_);
    if (!sections.all().empty()) {
        dwarf::list(sections, out, options);
    }
}

void PeImage::listBaseRelocations(Output& out, RelocationDetail detail) const
{
    const bool entries = detail == RelocationDetail::Entries;
    heading(out, "Base relocations");
    const auto dir = directory(dataDirectory::baseRelocations);
    const auto mapped = mapDirectory(out, dataDirectory::baseRelocations, "base relocations");
    if (!mapped || !dir) {
        return;
    }
    std::uint64_t size = dir->size;
    if (size > mapped->view.size()) {
        report(
            out,
            "the base relocation directory size runs past the end of its section; read up to there",
            mapped->fileOffset);
        size = mapped->view.size();
    }
    if (!entries) {
        out << "  Page RVA  Block size  Entries\n";
    }
    std::uint64_t total = 0;
    std::uint32_t blocks = 0;
    for (std::uint64_t at = 0; at + baseRelocation::size <= size && !out.budget().exhausted();
         ++blocks) {
        out.budget().charge(entryCost);
        if (blocks == maxRelocationBlocks) {
            report(out, "more relocation blocks than the limit", mapped->fileOffset + at);
            return;
        }
        const std::uint32_t page =
            mapped->view.u32(at + baseRelocation::virtualAddress).value_or(0);
        const std::uint32_t blockSize =
            mapped->view.u32(at + baseRelocation::sizeOfBlock).value_or(0);
        const std::uint64_t blockOffset = mapped->fileOffset + at;
        if (blockSize < baseRelocation::size) {
            report(out,
                   "relocation block of size " + std::to_string(blockSize) +
                       " (a block is at least 8 bytes); the rest of the table is skipped",
                   blockOffset + baseRelocation::sizeOfBlock);
            return;
        }
        std::uint64_t length = blockSize;
        if (length > size - at) {
            report(out,
                   "relocation block of size " + std::to_string(blockSize) +
                       " runs past the end of the table; read up to there",
                   blockOffset + baseRelocation::sizeOfBlock);
            length = size - at;
        }
        if (blockSize % baseRelocationEntrySize != 0) {
            // The size still bounds the block, so the table goes on at the
            // next even offset; only the last byte, half an entry, is lost.
            report(out,
                   "relocation block of size " + std::to_string(blockSize) +
                       " is odd (entries are 2 bytes each); its last byte is skipped",
                   blockOffset + baseRelocation::sizeOfBlock);
        }
        const std::uint64_t count = (length - baseRelocation::size) / baseRelocationEntrySize;
        total += count;
        if (!entries) {
            out << "  " << hex(page) << "  " << hex(blockSize) << "  " << dec(count, 7) << '\n';
        } else {
            out << "\n  Page " << hex(page) << ", block size " << dec(blockSize) << ", "
                << dec(count) << " entries\n";
            for (std::uint64_t e = 0; e < count && !out.budget().exhausted(); ++e) {
                const std::uint16_t value =
                    mapped->view.u16(at + baseRelocation::size + e * baseRelocationEntrySize)
                        .value_or(0);
                const unsigned type = value >> baseRelocationTypeShift;
                const std::uint32_t offset = value & baseRelocationOffsetMask;
                out << "    " << hex(offset, 3) << "  " << hex(std::uint64_t{page} + offset) << "  "
                    << baseRelocationTypeName(coff_.header().machine, type) << '\n';
                // HIGHADJ carries its low half in the next entry.
                if (type == relocationBasedHighAdj && e + 1 < count) {
                    ++e;
                    out << "          (low half "
                        << hex(mapped->view
                                   .u16(at + baseRelocation::size + e * baseRelocationEntrySize)
                                   .value_or(0),
                               4)
                        << ")\n";
                }
            }
        }
        at += length;
        at += at % 2;
    }
    out << "  " << dec(blocks) << " blocks, " << dec(total) << " entries\n";
}

void PeImage::listChecksum(Output& out) const
{
    heading(out, "Image checksum");
    const auto stored = optionalField(optionalHeader::checkSum, 4);
    if (!stored) {
        report(out, "the optional header is too short to hold a checksum",
               view_.base() + optionalOffset_);
        return;
    }
    // 16-bit one's-complement style sum over the file with the checksum field
    // taken as zero, folded, plus the file length.
    const std::uint64_t fieldOffset = optionalOffset_ + optionalHeader::checkSum;
    std::uint64_t sum = 0;
    std::vector<std::uint8_t> chunk(std::size_t{64} * 1024);
    const std::uint64_t size = view_.size();
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - at));
        if (view_.reader().readSome(view_.base() + at, std::span(chunk.data(), want)) != want) {
            report(out, "the file could not be read to its end", view_.base() + at);
            return;
        }
        for (std::size_t i = 0; i < want; i += 2) {
            const std::uint64_t position = at + i;
            const auto byte = [&](std::size_t k) -> std::uint32_t {
                const bool inField = position + k >= fieldOffset && position + k < fieldOffset + 4;
                return i + k < want && !inField ? chunk[i + k] : 0u;
            };
            sum += byte(0) | (byte(1) << 8);
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        at += want;
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    const std::uint64_t computed = (sum & 0xFFFF) + size;
    label(out, "Stored") << hex(*stored) << (*stored == 0 ? "  (not set)" : "") << '\n';
    label(out, "Computed") << hex(computed & 0xFFFFFFFFu) << '\n';
    if (*stored != 0) {
        out << "  " << ((computed & 0xFFFFFFFFu) == *stored ? "ok" : "** MISMATCH") << '\n';
    }
}

} // namespace tdump
