#include "image_builder.h"

#include <algorithm>

namespace tdump::test {

void Bytes::put8(std::size_t at, std::uint8_t v)
{
    if (data.size() < at + 1) {
        data.resize(at + 1);
    }
    data[at] = v;
}

void Bytes::put16(std::size_t at, std::uint16_t v)
{
    put8(at, static_cast<std::uint8_t>(v));
    put8(at + 1, static_cast<std::uint8_t>(v >> 8));
}

void Bytes::put32(std::size_t at, std::uint32_t v)
{
    put16(at, static_cast<std::uint16_t>(v));
    put16(at + 2, static_cast<std::uint16_t>(v >> 16));
}

void Bytes::put64(std::size_t at, std::uint64_t v)
{
    put32(at, static_cast<std::uint32_t>(v));
    put32(at + 4, static_cast<std::uint32_t>(v >> 32));
}

void Bytes::putText(std::size_t at, std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        put8(at + i, static_cast<std::uint8_t>(text[i]));
    }
    put8(at + text.size(), 0);
}

void Bytes::append(const std::vector<std::uint8_t>& more)
{
    data.insert(data.end(), more.begin(), more.end());
}

void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

void appendLittle(std::vector<std::uint8_t>& to, std::uint64_t value, unsigned size)
{
    // A field wider than the value (16 bytes of zeros ending a list) is zero
    // past its eighth byte: a shift by 64 or more is undefined.
    for (unsigned i = 0; i < size; ++i) {
        to.push_back(static_cast<std::uint8_t>(i < 8 ? value >> (8 * i) : 0));
    }
}

std::uint32_t Bytes::get32(std::size_t at) const
{
    return static_cast<std::uint32_t>(data[at] | (data[at + 1] << 8) | (data[at + 2] << 16)) |
           (static_cast<std::uint32_t>(data[at + 3]) << 24);
}

namespace {

constexpr std::size_t textRaw = 0x400;
constexpr std::size_t rdataRaw = 0x600;
constexpr std::size_t rdataSize = 0x600;
constexpr std::size_t relocRaw = 0xC00;
constexpr std::uint32_t rdataVa = 0x2000;

void putSection(Bytes& b, std::size_t at, std::string_view name, std::uint32_t virtualSize,
                std::uint32_t va, std::uint32_t rawSize, std::uint32_t rawPointer,
                std::uint32_t characteristics)
{
    for (std::size_t i = 0; i < 8; ++i) {
        b.put8(at + i, i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0);
    }
    b.put32(at + 8, virtualSize);
    b.put32(at + 12, va);
    b.put32(at + 16, rawSize);
    b.put32(at + 20, rawPointer);
    b.put32(at + 36, characteristics);
}

} // namespace

std::uint32_t SampleImage::rdataRva(std::size_t fileOffset) const
{
    return static_cast<std::uint32_t>(rdataVa + (fileOffset - rdataRaw));
}

SampleImage makeSampleImage()
{
    SampleImage image;
    Bytes& b = image.bytes;
    b.put16(0, 0x5A4D);
    b.put32(0x3C, 0x80);
    image.peHeader = 0x80;
    b.put32(0x80, 0x00004550);
    // COFF file header
    b.put16(0x84, 0x8664);
    b.put16(0x86, 3);
    b.put16(0x94, 240);
    b.put16(0x96, 0x2022);
    // optional header (PE32+)
    const std::size_t opt = 0x98;
    image.optionalHeader = opt;
    b.put16(opt, 0x20B);
    b.put32(opt + 16, 0x1000);
    b.put64(opt + 24, 0x180000000);
    b.put32(opt + 32, 0x1000);
    b.put32(opt + 36, 0x200);
    b.put32(opt + 56, 0x4000);
    b.put32(opt + 60, 0x400);
    b.put16(opt + 68, 3);
    b.put32(opt + 108, 16);
    image.sectionTable = opt + 240;
    putSection(b, image.sectionTable, ".text", 0x20, 0x1000, 0x200, textRaw, 0x60000020);
    putSection(b, image.sectionTable + 40, ".rdata", 0x800, rdataVa, rdataSize, rdataRaw,
               0x40000040);
    putSection(b, image.sectionTable + 80, ".reloc", 0x18, 0x3000, 0x200, relocRaw, 0x42000040);
    b.put8(textRaw, 0xC3);

    // Exports at .rdata + 0
    const std::size_t e = rdataRaw;
    image.exportDirectory = e;
    const auto rva = [](std::size_t offsetInRdata) {
        return static_cast<std::uint32_t>(rdataVa + offsetInRdata);
    };
    b.put32(e + 12, rva(0x100)); // DLL name
    b.put32(e + 16, 1);          // ordinal base
    b.put32(e + 20, 4);
    b.put32(e + 24, 3);
    b.put32(e + 28, rva(0x40));
    b.put32(e + 32, rva(0x60));
    b.put32(e + 36, rva(0x70));
    b.put32(e + 0x40, 0x1000);
    b.put32(e + 0x44, 0x1010);
    b.put32(e + 0x48, 0x1020);
    b.put32(e + 0x4C, rva(0xC0)); // inside the directory: a forwarder
    image.exportNamePointers = e + 0x60;
    b.put32(e + 0x60, rva(0x80)); // sorted: _Z5gammai, alpha, forwarded
    b.put32(e + 0x64, rva(0x90));
    b.put32(e + 0x68, rva(0xA0));
    b.put16(e + 0x70, 2);
    b.put16(e + 0x72, 0);
    b.put16(e + 0x74, 3);
    b.putText(e + 0x80, "_Z5gammai");
    b.putText(e + 0x90, "alpha");
    b.putText(e + 0xA0, "forwarded");
    b.putText(e + 0xC0, "KERNEL32.Sleep");
    b.putText(e + 0x100, "sample.dll");

    // Imports at .rdata + 0x200
    const std::size_t i = rdataRaw + 0x200;
    image.importDescriptors = i;
    b.put32(i + 0, rva(0x280));
    b.put32(i + 12, rva(0x340));
    b.put32(i + 16, rva(0x2C0));
    b.put32(i + 20, rva(0x2A0));
    b.put32(i + 32, rva(0x350));
    b.put32(i + 36, rva(0x2E0));
    for (const std::size_t table : {std::size_t{0x280}, std::size_t{0x2C0}}) {
        b.put64(rdataRaw + table, rva(0x300));
        b.put64(rdataRaw + table + 8, rva(0x310));
    }
    for (const std::size_t table : {std::size_t{0x2A0}, std::size_t{0x2E0}}) {
        b.put64(rdataRaw + table, 0x8000000000000005ULL);
        b.put64(rdataRaw + table + 8, rva(0x320));
    }
    b.put16(rdataRaw + 0x300, 0x120);
    b.putText(rdataRaw + 0x302, "ExitProcess");
    b.put16(rdataRaw + 0x310, 0x200);
    b.putText(rdataRaw + 0x312, "GetLastError");
    b.put16(rdataRaw + 0x320, 7);
    b.putText(rdataRaw + 0x322, "_ZN3foo3barEv");
    b.putText(rdataRaw + 0x340, "KERNEL32.dll");
    b.putText(rdataRaw + 0x350, "msvcrt.dll");

    // Debug directory at .rdata + 0x380, its CodeView record at + 0x3A0
    const std::size_t d = rdataRaw + 0x380;
    b.put32(d + 12, 2);
    b.put32(d + 16, 0x30);
    b.put32(d + 20, rva(0x3A0));
    b.put32(d + 24, static_cast<std::uint32_t>(rdataRaw + 0x3A0));
    b.putText(rdataRaw + 0x3A0, "RSDS");
    b.put32(rdataRaw + 0x3A4, 0x11223344);
    b.put32(rdataRaw + 0x3B4, 7);
    b.putText(rdataRaw + 0x3B8, "sample.pdb");
    image.rdataEnd = rdataRaw + rdataSize;

    // Delay-load imports at .rdata + 0x400: one module, one function.
    const std::size_t dl = rdataRaw + 0x400;
    image.delayDescriptors = dl;
    b.put32(dl, 1); // RVA-based
    b.put32(dl + 4, rva(0x480));
    b.put32(dl + 8, rva(0x4C0));
    b.put32(dl + 12, rva(0x460));
    b.put32(dl + 16, rva(0x440));
    b.put64(rdataRaw + 0x440, rva(0x4A0));
    b.put64(rdataRaw + 0x460, rva(0x4A0));
    b.putText(rdataRaw + 0x480, "delayed.dll");
    b.put16(rdataRaw + 0x4A0, 3);
    b.putText(rdataRaw + 0x4A2, "DelayedFunction");

    // Base relocations: two blocks of two entries (the last one padding).
    const std::size_t r = relocRaw;
    image.relocations = r;
    b.put32(r, 0x1000);
    b.put32(r + 4, 12);
    b.put16(r + 8, 0xA008);
    b.put16(r + 10, 0xA010);
    b.put32(r + 12, 0x2000);
    b.put32(r + 16, 12);
    b.put16(r + 20, 0xA2C0);
    b.put16(r + 22, 0x0000);
    b.put8(relocRaw + 0x1FF, 0);

    b.put32(image.dataDirectory(0), rva(0));
    b.put32(image.dataDirectory(0) + 4, 0x120);
    b.put32(image.dataDirectory(1), rva(0x200));
    b.put32(image.dataDirectory(1) + 4, 60);
    b.put32(image.dataDirectory(5), 0x3000);
    b.put32(image.dataDirectory(5) + 4, 24);
    b.put32(image.dataDirectory(6), rva(0x380));
    b.put32(image.dataDirectory(6) + 4, 28);
    b.put32(image.dataDirectory(13), rva(0x400));
    b.put32(image.dataDirectory(13) + 4, 64);
    b.put32(image.dataDirectory(12), rva(0x2C0));
    b.put32(image.dataDirectory(12) + 4, 0x40);
    return image;
}

SampleObject makeSampleObject()
{
    SampleObject object;
    Bytes& b = object.bytes;
    b.put16(0, 0x8664);
    b.put16(2, 3);
    const std::size_t sections = 20;
    object.sectionTable = sections;
    const std::size_t textData = sections + std::size_t{3} * 40; // 140
    const std::size_t textRelocs = textData + 16;
    const std::size_t dataData = textRelocs + std::size_t{2} * 10;
    const std::size_t debugData = dataData + 8;
    const std::size_t symbols = debugData + 4;
    object.textRelocations = textRelocs;
    object.symbolTable = symbols;
    putSection(b, sections, ".text", 0, 0, 16, static_cast<std::uint32_t>(textData), 0x60500020);
    b.put32(sections + 24, static_cast<std::uint32_t>(textRelocs));
    b.put16(sections + 32, 2);
    putSection(b, sections + 40, ".data", 0, 0, 8, static_cast<std::uint32_t>(dataData),
               0xC0300040);
    for (std::size_t k = 0; k < 16; ++k) {
        b.put8(textData + k, 0x90);
    }
    b.put32(textRelocs, 3); // call puts
    b.put32(textRelocs + 4, 7);
    b.put16(textRelocs + 8, 4);   // REL32
    b.put32(textRelocs + 10, 10); // lea .data
    b.put32(textRelocs + 14, 4);
    b.put16(textRelocs + 18, 4);
    b.put32(dataData, 0x12345678);
    b.put32(debugData, 0x01020304);

    // Symbols: [0] .file + 1 aux, [2] .text + 1 aux, [4] .data + 1 aux,
    // [6] _ZN6sample4workEi (long, string table), [7] puts (undefined).
    std::size_t at = symbols;
    const auto symbol = [&](std::string_view name, std::uint32_t value, std::int16_t section,
                            std::uint16_t type, std::uint8_t storage, std::uint8_t aux) {
        for (std::size_t k = 0; k < 8; ++k) {
            b.put8(at + k, k < name.size() ? static_cast<std::uint8_t>(name[k]) : 0);
        }
        b.put32(at + 8, value);
        b.put16(at + 12, static_cast<std::uint16_t>(section));
        b.put16(at + 14, type);
        b.put8(at + 16, storage);
        b.put8(at + 17, aux);
        at += 18;
    };
    symbol(".file", 0, -2, 0, 103, 1);
    b.putText(at, "sample.cpp");
    at += 18;
    symbol(".text", 0, 1, 0, 3, 1);
    b.put32(at, 16);
    b.put16(at + 4, 2);
    at += 18;
    symbol(".data", 0, 2, 0, 3, 1);
    b.put32(at, 8);
    at += 18;
    symbol("", 0, 1, 0x20, 2, 0);
    b.put32(at - 18 + 4, 4); // name at string table offset 4
    symbol("puts", 0, 0, 0x20, 2, 0);
    object.symbolCount = 8;
    b.put32(12, object.symbolCount);
    b.put32(8, static_cast<std::uint32_t>(symbols));
    object.stringTable = at;
    const std::string strings = std::string("_ZN6sample4workEi") + '\0' + ".debug_info" + '\0';
    b.put32(at, static_cast<std::uint32_t>(4 + strings.size()));
    for (std::size_t k = 0; k < strings.size(); ++k) {
        b.put8(at + 4 + k, static_cast<std::uint8_t>(strings[k]));
    }
    // The section's long name follows the symbol's in the string table: 4 + 18.
    putSection(b, sections + 80, "/22", 0, 0, 4, static_cast<std::uint32_t>(debugData), 0x42100040);
    return object;
}

BuiltObject makeObject(std::uint16_t machine, const std::vector<ObjectSection>& sections,
                       const std::vector<ObjectSymbol>& symbols)
{
    BuiltObject object;
    Bytes& b = object.bytes;
    b.put16(0, machine);
    b.put16(2, static_cast<std::uint16_t>(sections.size()));
    std::size_t at = 20 + sections.size() * 40;
    std::string strings;
    for (std::size_t k = 0; k < sections.size(); ++k) {
        const ObjectSection& s = sections[k];
        // A longer name is "/" and the decimal offset of the name in the string table.
        std::string name = s.name;
        if (name.size() > 8) {
            // Built a piece at a time: "/" + to_string() trips g++ 12's -Wrestrict at -O3.
            name = "/";
            name += std::to_string(4 + strings.size());
            strings += s.name + '\0';
        }
        putSection(b, 20 + k * 40, name, 0, 0, static_cast<std::uint32_t>(s.data.size()),
                   static_cast<std::uint32_t>(at), 0xC0300040);
        for (std::size_t i = 0; i < s.data.size(); ++i) {
            b.put8(at + i, s.data[i]);
        }
        at += s.data.size();
    }
    object.symbolTable = at;
    b.put32(8, static_cast<std::uint32_t>(at));
    b.put32(12, static_cast<std::uint32_t>(symbols.size()));
    for (const ObjectSymbol& symbol : symbols) {
        if (symbol.name.size() > 8) {
            b.put32(at, 0);
            b.put32(at + 4, static_cast<std::uint32_t>(4 + strings.size()));
            strings += symbol.name + '\0';
        } else {
            for (std::size_t k = 0; k < 8; ++k) {
                b.put8(at + k,
                       k < symbol.name.size() ? static_cast<std::uint8_t>(symbol.name[k]) : 0);
            }
        }
        b.put32(at + 8, 0);
        b.put16(at + 12, static_cast<std::uint16_t>(symbol.section));
        b.put16(at + 14, 0);
        b.put8(at + 16, symbol.storageClass);
        b.put8(at + 17, 0);
        at += 18;
    }
    object.stringTable = at;
    b.put32(at, static_cast<std::uint32_t>(4 + strings.size()));
    for (std::size_t k = 0; k < strings.size(); ++k) {
        b.put8(at + 4 + k, static_cast<std::uint8_t>(strings[k]));
    }
    return object;
}

std::vector<std::uint8_t>
makeArchive(const std::vector<ArchiveMember>& members,
            const std::vector<std::pair<std::string, std::size_t>>& symbols)
{
    Bytes out;
    out.putText(0, "!<arch>\n");
    out.data.pop_back();
    const auto header = [&](std::string_view name, std::size_t size) {
        std::string h(60, ' ');
        std::copy(name.begin(), name.end(), h.begin());
        const std::string sizeText = std::to_string(size);
        std::copy(sizeText.begin(), sizeText.end(), h.begin() + 48);
        h[58] = '`';
        h[59] = '\n';
        out.data.insert(out.data.end(), h.begin(), h.end());
    };
    const auto pad = [&] {
        if (out.size() % 2 != 0) {
            out.data.push_back('\n');
        }
    };
    std::string longNames;
    std::vector<std::string> headerNames;
    for (const ArchiveMember& m : members) {
        if (m.name.size() > 15) {
            headerNames.push_back('/' + std::to_string(longNames.size()));
            longNames += m.name + "/\n";
        } else {
            headerNames.push_back(m.name + "/");
        }
    }
    // The index holds member header offsets, known only once its own size is.
    std::size_t indexSize = 4 + 4 * symbols.size();
    for (const auto& s : symbols) {
        indexSize += s.first.size() + 1;
    }
    std::size_t at = 8 + 60 + indexSize + indexSize % 2;
    if (!longNames.empty()) {
        at += 60 + longNames.size() + longNames.size() % 2;
    }
    std::vector<std::size_t> offsets;
    for (const ArchiveMember& m : members) {
        offsets.push_back(at);
        at += 60 + m.data.size() + m.data.size() % 2;
    }
    header("/", indexSize);
    const auto be32 = [&](std::size_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out.data.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    };
    be32(symbols.size());
    for (const auto& s : symbols) {
        be32(offsets.at(s.second));
    }
    for (const auto& s : symbols) {
        out.data.insert(out.data.end(), s.first.begin(), s.first.end());
        out.data.push_back(0);
    }
    pad();
    if (!longNames.empty()) {
        header("//", longNames.size());
        out.data.insert(out.data.end(), longNames.begin(), longNames.end());
        pad();
    }
    for (std::size_t k = 0; k < members.size(); ++k) {
        header(headerNames[k], members[k].data.size());
        out.append(members[k].data);
        pad();
    }
    return out.data;
}

std::vector<std::uint8_t> makeShortImport(std::string_view symbol, std::string_view dll,
                                          std::uint16_t hint, bool byOrdinal)
{
    Bytes b;
    b.put16(0, 0);
    b.put16(2, 0xFFFF);
    b.put16(6, 0x8664);
    b.put32(12, static_cast<std::uint32_t>(symbol.size() + dll.size() + 2));
    b.put16(16, hint);
    b.put16(18,
            static_cast<std::uint16_t>(byOrdinal ? 0 : (1u << 2))); // code, by ordinal or by name
    b.putText(20, symbol);
    b.putText(20 + symbol.size() + 1, dll);
    return b.data;
}

void putResourceDirectory(TablesImage& image, std::size_t offset,
                          const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries)
{
    Bytes& b = image.bytes();
    b.put16(TablesImage::at(offset + 14), static_cast<std::uint16_t>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        b.put32(TablesImage::at(offset + 16 + i * 8), entries[i].first);
        b.put32(TablesImage::at(offset + 20 + i * 8), entries[i].second);
    }
}

void putResourceTree(TablesImage& image, std::uint32_t type, const std::vector<std::uint8_t>& data)
{
    putResourceDirectory(image, 0x00, {{type, subdirectory | 0x18}});
    putResourceDirectory(image, 0x18, {{1, subdirectory | 0x30}});
    putResourceDirectory(image, 0x30, {{0x409, 0x48}});
    Bytes& b = image.bytes();
    b.put32(TablesImage::at(0x48), TablesImage::rva(0x100));
    b.put32(TablesImage::at(0x4C), static_cast<std::uint32_t>(data.size()));
    for (std::size_t i = 0; i < data.size(); ++i) {
        b.put8(TablesImage::at(0x100 + i), data[i]);
    }
    image.setDirectory(2, TablesImage::rva(0), 0x200);
}

std::vector<std::uint8_t> utf16(std::u16string_view text)
{
    std::vector<std::uint8_t> bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::vector<std::uint8_t> versionBlock(std::u16string_view key, std::u16string_view value,
                                       const std::vector<std::vector<std::uint8_t>>& children)
{
    std::vector<std::uint8_t> block(6);
    const auto pad = [&] { block.resize((block.size() + 3) & ~std::size_t{3}); };
    const auto keyBytes = utf16(key);
    block.insert(block.end(), keyBytes.begin(), keyBytes.end());
    pad();
    if (!value.empty()) {
        const auto valueBytes = utf16(value);
        block.insert(block.end(), valueBytes.begin(), valueBytes.end());
        pad();
    }
    for (const auto& child : children) {
        block.insert(block.end(), child.begin(), child.end());
        pad();
    }
    const auto length = static_cast<std::uint16_t>(block.size());
    const auto valueLength = static_cast<std::uint16_t>(value.empty() ? 0 : value.size() + 1);
    block[0] = static_cast<std::uint8_t>(length & 0xFF);
    block[1] = static_cast<std::uint8_t>(length >> 8);
    block[2] = static_cast<std::uint8_t>(valueLength & 0xFF);
    block[3] = static_cast<std::uint8_t>(valueLength >> 8);
    block[4] = 1; // text
    return block;
}

std::vector<std::uint8_t> makeTablesImage()
{
    TablesImage image;
    putResourceTree(image, 16,
                    versionBlock(u"VS_VERSION_INFO", u"",
                                 {versionBlock(u"StringFileInfo", u"",
                                               {versionBlock(u"040904B0", u"",
                                                             {versionBlock(u"A", u"b", {})})})}));
    Bytes& b = image.bytes();
    b.put64(TablesImage::at(0x418), 0x180000000 + TablesImage::rva(0x440));
    image.setDirectory(9, TablesImage::rva(0x400), 40);
    b.put32(TablesImage::at(0x500), 0x140);
    image.setDirectory(10, TablesImage::rva(0x500), 0x140);
    b.put32(TablesImage::at(0x700), 0x1000);
    b.put32(TablesImage::at(0x704), 0x1010);
    b.put32(TablesImage::at(0x708), TablesImage::rva(0x800));
    b.put8(TablesImage::at(0x800), 1);
    image.setDirectory(3, TablesImage::rva(0x700), 12);
    return b.data;
}

namespace {

constexpr std::uint32_t pdbBlockSize = 512;

// A symbol record of this kind and fields, its length set and padded to 4.
void putSymbol(Bytes& b, std::uint16_t kind, const Bytes& fields)
{
    const std::size_t at = b.size();
    const std::size_t length = 2 + fields.size();
    const std::size_t padded = (length + 2 + 3) / 4 * 4 - 2;
    b.put16(at, static_cast<std::uint16_t>(padded));
    b.put16(at + 2, kind);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        b.put8(at + 4 + i, fields.data[i]);
    }
    for (std::size_t i = length; i < padded; ++i) {
        b.put8(at + 2 + i, 0);
    }
}

Bytes gsiHash(std::uint32_t recordOffset)
{
    Bytes b;
    b.put32(0, 0xFFFFFFFF);
    b.put32(4, 0xEFFE0000 + 19990810);
    b.put32(8, 8);
    b.put32(12, 0);
    b.put32(16, recordOffset + 1);
    b.put32(20, 1);
    return b;
}

Bytes tpiStream(std::uint32_t end, const std::vector<std::uint8_t>& records)
{
    Bytes b;
    b.put32(0, 20040203);
    b.put32(4, 56);
    b.put32(8, 0x1000);
    b.put32(12, end);
    b.put32(16, static_cast<std::uint32_t>(records.size()));
    b.put16(20, 0xFFFF);
    b.put16(22, 0xFFFF);
    b.put32(24, 4);
    b.put32(28, 0x3FFFF);
    b.put32(52, 0);
    b.append(records);
    return b;
}

} // namespace

PdbImage makePdb()
{
    std::vector<Bytes> streams(10);
    // 1: the information stream.
    Bytes& info = streams[1];
    info.put32(0, 20000404);
    info.put32(4, 0x5F000001);
    info.put32(8, 3);
    for (std::size_t i = 0; i < 16; ++i) {
        info.put8(12 + i, static_cast<std::uint8_t>(0x11 * i));
    }
    info.put32(28, 7); // the string buffer
    info.putText(32, "/names");
    info.put32(39, 1); // size
    info.put32(43, 1); // capacity
    info.put32(47, 1); // present: one word
    info.put32(51, 1);
    info.put32(55, 0); // deleted: no words
    info.put32(59, 0); // "/names"
    info.put32(63, 5); // -> stream 5
    info.put32(67, 0); // the name index limit
    info.put32(71, 20140508);
    // 2: TPI with one LF_POINTER to int, 64-bit.
    Bytes pointer;
    pointer.put16(0, 10);
    pointer.put16(2, 0x1002);
    pointer.put32(4, 0x74);
    pointer.put32(8, 0x1000C);
    streams[2] = tpiStream(0x1001, pointer.data);
    // 4: IPI, empty.
    streams[4] = tpiStream(0x1000, {});
    // 5: /names: signature, version, the buffer, then an empty hash.
    Bytes& names = streams[5];
    names.put32(0, 0xEFFEEFFE);
    names.put32(4, 1);
    names.put32(8, 12);
    names.putText(12, "");
    names.putText(13, "module.cpp");
    names.put32(24, 0);
    names.put32(28, 0);
    // 6: the module's symbols: the signature, then S_OBJNAME.
    Bytes& module = streams[6];
    module.put32(0, 4);
    Bytes objname;
    objname.put32(0, 0);
    objname.putText(4, "pdb_module.obj");
    putSymbol(module, 0x1101, objname);
    const auto moduleSymbols = static_cast<std::uint32_t>(module.size());
    // 9: the symbol records: S_GDATA32 counter, S_PUB32 main.
    Bytes& records = streams[9];
    Bytes global;
    global.put32(0, 0x74);
    global.put32(4, 0);
    global.put16(8, 2);
    global.putText(10, "counter");
    putSymbol(records, 0x110D, global);
    const auto publicAt = static_cast<std::uint32_t>(records.size());
    Bytes pub;
    pub.put32(0, 2);
    pub.put32(4, 0x10);
    pub.put16(8, 1);
    pub.putText(10, "main");
    putSymbol(records, 0x110E, pub);
    // 7 and 8: globals and publics.
    streams[7] = gsiHash(0);
    Bytes& publics = streams[8];
    const Bytes publicHash = gsiHash(publicAt);
    publics.put32(0, static_cast<std::uint32_t>(publicHash.size()));
    publics.put32(4, 4);
    publics.put32(24, 1);
    publics.append(publicHash.data);
    publics.put32(publics.size(), publicAt);
    // 3: DBI.
    Bytes moduleInfo;
    moduleInfo.put16(4, 1);     // contribution: section 1
    moduleInfo.put32(12, 0x20); // size
    moduleInfo.put32(16, 0x60000020);
    moduleInfo.put16(34, 6); // stream
    moduleInfo.put32(36, moduleSymbols);
    moduleInfo.put16(48, 1); // source files
    moduleInfo.putText(64, "pdb_module.obj");
    moduleInfo.putText(79, "pdb_library.lib");
    moduleInfo.put8(95, 0); // padding to 96
    Bytes contributions;
    contributions.put32(0, 0xEFFE0000 + 19970605);
    contributions.put16(4, 1);
    contributions.put32(8, 0);
    contributions.put32(12, 0x20);
    contributions.put32(16, 0x60000020);
    contributions.put32(28, 0); // the relocation CRC ends the entry
    Bytes sectionMap;
    sectionMap.put16(0, 1);
    sectionMap.put16(2, 1);
    sectionMap.put16(4, 0x10D); // read, execute, 32-bit, selector
    sectionMap.put16(10, 1);
    sectionMap.put16(12, 0xFFFF);
    sectionMap.put16(14, 0xFFFF);
    sectionMap.put32(20, 0x20);
    Bytes fileInfo;
    fileInfo.put16(0, 1);
    fileInfo.put16(2, 1);
    fileInfo.put16(4, 0);
    fileInfo.put16(6, 1);
    fileInfo.put32(8, 0);
    fileInfo.putText(12, "module.cpp");
    fileInfo.put8(23, 0);
    Bytes debugHeader;
    for (std::size_t i = 0; i < 11; ++i) {
        debugHeader.put16(i * 2, 0xFFFF);
    }
    Bytes& dbi = streams[3];
    dbi.put32(0, 0xFFFFFFFF);
    dbi.put32(4, 19990903);
    dbi.put32(8, 3);
    dbi.put16(12, 7);
    dbi.put16(14, 0x8E00);
    dbi.put16(16, 8);
    dbi.put16(20, 9);
    dbi.put32(24, static_cast<std::uint32_t>(moduleInfo.size()));
    dbi.put32(28, static_cast<std::uint32_t>(contributions.size()));
    dbi.put32(32, static_cast<std::uint32_t>(sectionMap.size()));
    dbi.put32(36, static_cast<std::uint32_t>(fileInfo.size()));
    dbi.put32(48, static_cast<std::uint32_t>(debugHeader.size()));
    dbi.put16(58, 0x8664);
    dbi.put32(60, 0);
    for (const Bytes* part : {&moduleInfo, &contributions, &sectionMap, &fileInfo, &debugHeader}) {
        dbi.append(part->data);
    }

    // The file: the superblock, two free block map blocks, the streams,
    // the directory, then the block map block.
    PdbImage image;
    image.blockSize = pdbBlockSize;
    Bytes& b = image.bytes;
    std::uint32_t next = 3;
    std::vector<std::vector<std::uint32_t>> blocks(streams.size());
    for (std::size_t s = 0; s < streams.size(); ++s) {
        image.streamAt.push_back(std::size_t{next} * pdbBlockSize);
        const auto& data = streams[s].data;
        for (std::size_t at = 0; at < data.size(); at += pdbBlockSize, ++next) {
            blocks[s].push_back(next);
            for (std::size_t i = at; i < std::min(data.size(), at + pdbBlockSize); ++i) {
                b.put8(std::size_t{next} * pdbBlockSize + i - at, data[i]);
            }
        }
    }
    Bytes directory;
    directory.put32(0, static_cast<std::uint32_t>(streams.size()));
    for (std::size_t s = 0; s < streams.size(); ++s) {
        directory.put32(4 + s * 4, static_cast<std::uint32_t>(streams[s].size()));
    }
    for (const auto& list : blocks) {
        for (const std::uint32_t block : list) {
            directory.put32(directory.size(), block);
        }
    }
    const std::uint32_t directoryBlock = next++;
    const std::uint32_t blockMapBlock = next++;
    image.directory = std::size_t{directoryBlock} * pdbBlockSize;
    image.blockMap = std::size_t{blockMapBlock} * pdbBlockSize;
    for (std::size_t i = 0; i < directory.size(); ++i) {
        b.put8(image.directory + i, directory.data[i]);
    }
    b.put32(image.blockMap, directoryBlock);
    b.put8(std::size_t{next} * pdbBlockSize - 1, 0); // the last block, whole
    const std::string_view magic("Microsoft C/C++ MSF 7.00\r\n\x1a"
                                 "DS\0\0\0",
                                 32);
    for (std::size_t i = 0; i < magic.size(); ++i) {
        b.put8(i, static_cast<std::uint8_t>(magic[i]));
    }
    b.put32(32, pdbBlockSize);
    b.put32(36, 1);
    b.put32(40, next);
    b.put32(44, static_cast<std::uint32_t>(directory.size()));
    b.put32(52, blockMapBlock);
    return image;
}

namespace {

// Little-endian pieces of CodeView payloads.
class Payload {
public:
    Payload& u8(std::uint8_t v)
    {
        data.push_back(v);
        return *this;
    }
    Payload& u16(std::uint16_t v)
    {
        return u8(static_cast<std::uint8_t>(v)).u8(static_cast<std::uint8_t>(v >> 8));
    }
    Payload& u32(std::uint32_t v)
    {
        return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16));
    }
    Payload& text(std::string_view s)
    {
        data.insert(data.end(), s.begin(), s.end());
        return u8(0);
    }
    std::vector<std::uint8_t> data;
};

void appendSubsection(std::vector<std::uint8_t>& out, std::uint32_t kind,
                      const std::vector<std::uint8_t>& data)
{
    Payload header;
    header.u32(kind).u32(static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), header.data.begin(), header.data.end());
    out.insert(out.end(), data.begin(), data.end());
    out.resize((out.size() + 3) & ~std::size_t{3}, 0);
}

} // namespace

std::vector<std::uint8_t> CodeViewObject::record(std::uint16_t kind,
                                                 const std::vector<std::uint8_t>& payload)
{
    const std::size_t padded = (4 + payload.size() + 3) & ~std::size_t{3};
    Payload r;
    r.u16(static_cast<std::uint16_t>(padded - 2)).u16(kind);
    r.data.insert(r.data.end(), payload.begin(), payload.end());
    while (r.data.size() < padded) {
        r.data.push_back(static_cast<std::uint8_t>(0xF0 + padded - r.data.size()));
    }
    return r.data;
}

std::vector<std::uint8_t> CodeViewObject::build() const
{
    const std::vector<std::uint8_t> signature = {4, 0, 0, 0};
    std::vector<std::uint8_t> debugS = signature;
    appendSubsection(debugS, 0xF1, symbols);
    appendSubsection(debugS, 0xF2, lines);
    appendSubsection(debugS, 0xF4, checksums);
    appendSubsection(debugS, 0xF3, strings);
    std::vector<ObjectSection> sections = {{".text", std::vector<std::uint8_t>(16, 0xC3)},
                                           {".debug$S", debugS}};
    if (!types.empty()) {
        std::vector<std::uint8_t> debugT = signature;
        debugT.insert(debugT.end(), types.begin(), types.end());
        sections.push_back({".debug$T", debugT});
    }
    return makeObject(0x8664, sections, {{".text", 1, 3}}).bytes.data;
}

CodeViewObject makeCodeViewObject()
{
    CodeViewObject cv;
    const auto add = [](std::vector<std::uint8_t>& to, std::uint16_t kind, const Payload& p) {
        const auto r = CodeViewObject::record(kind, p.data);
        to.insert(to.end(), r.begin(), r.end());
    };
    // Types: int is 0x0074; near64 pointers of 8 bytes.
    add(cv.types, 0x1201, Payload().u32(1).u32(0x0074));
    add(cv.types, 0x1008, Payload().u32(0x0074).u8(0).u8(0).u16(1).u32(0x1000));
    add(cv.types, 0x1203,
        Payload()
            .u16(0x150D)
            .u16(3)
            .u32(0x0074)
            .u16(0)
            .text("x")
            .u8(0xF2)
            .u8(0xF1)
            .u16(0x150D)
            .u16(3)
            .u32(0x0074)
            .u16(4)
            .text("y"));
    add(cv.types, 0x1505, Payload().u16(2).u16(0).u32(0x1002).u32(0).u32(0).u16(8).text("Point"));
    add(cv.types, 0x1002, Payload().u32(0x1003).u32(0xC | (8u << 13)));
    add(cv.types, 0x1601, Payload().u32(0).u32(0x1001).text("twice"));

    add(cv.symbols, 0x1101, Payload().u32(0).text("sample.obj"));
    add(cv.symbols, 0x1147,
        Payload()
            .u32(0)
            .u32(0)
            .u32(0)
            .u32(0x10)
            .u32(0)
            .u32(0x10)
            .u32(0x1005)
            .u32(0)
            .u16(1)
            .u8(0)
            .text("twice"));
    add(cv.symbols, 0x1012, Payload().u32(0x28).u32(0).u32(0).u32(0).u32(0).u16(0).u32(0));
    add(cv.symbols, 0x113E, Payload().u32(0x0074).u16(1).text("value"));
    add(cv.symbols, 0x1141, Payload().u16(330).u16(0).u32(0).u16(1).u16(0x10).u16(4).u16(2));
    add(cv.symbols, 0x114F, Payload());

    // Lines of twice: offset, section, flags, code size; one block for
    // the file at checksum offset 0.
    cv.lines = Payload()
                   .u32(0)
                   .u16(1)
                   .u16(0)
                   .u32(0x10)
                   .u32(0)
                   .u32(2)
                   .u32(12 + 2 * 8)
                   .u32(0)
                   .u32(3 | 0x80000000u)
                   .u32(4)
                   .u32(4 | 0x80000000u)
                   .data;
    cv.checksums = Payload().u32(1).u8(0).u8(0).u16(0).data;
    cv.strings = Payload().u8(0).text("sample.cpp").data;
    return cv;
}

namespace {

std::size_t appendOmfRecord(std::vector<std::uint8_t>& bytes, std::uint8_t type,
                            const std::vector<std::uint8_t>& contents, bool checksum)
{
    const std::size_t offset = bytes.size();
    const std::size_t length = contents.size() + 1;
    bytes.push_back(type);
    bytes.push_back(static_cast<std::uint8_t>(length & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(length >> 8));
    bytes.insert(bytes.end(), contents.begin(), contents.end());
    unsigned sum = 0;
    for (std::size_t i = offset; i < bytes.size(); ++i) {
        sum += bytes[i];
    }
    bytes.push_back(checksum ? static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF) : 0);
    return offset;
}

std::uint16_t rotl16(std::uint16_t v, unsigned n)
{
    return static_cast<std::uint16_t>((v << n) | (v >> (16 - n)));
}

std::uint16_t rotr16(std::uint16_t v, unsigned n)
{
    return static_cast<std::uint16_t>((v >> n) | (v << (16 - n)));
}

} // namespace

std::size_t OmfRecords::add(std::uint8_t type, const std::vector<std::uint8_t>& contents)
{
    return appendOmfRecord(bytes, type, contents, true);
}

std::size_t OmfRecords::addWithoutChecksum(std::uint8_t type,
                                           const std::vector<std::uint8_t>& contents)
{
    return appendOmfRecord(bytes, type, contents, false);
}

std::vector<std::uint8_t> omfName(std::string_view name)
{
    std::vector<std::uint8_t> field(1 + name.size());
    field[0] = static_cast<std::uint8_t>(name.size());
    std::copy(name.begin(), name.end(), field.begin() + 1);
    return field;
}

std::vector<std::uint8_t> omfIndex(std::uint16_t index)
{
    if (index < 0x80) {
        return {static_cast<std::uint8_t>(index)};
    }
    return {static_cast<std::uint8_t>(0x80 | (index >> 8)),
            static_cast<std::uint8_t>(index & 0xFF)};
}

std::vector<std::uint8_t> omfWord(std::uint16_t value)
{
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}

std::vector<std::uint8_t> omfDword(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF),
            static_cast<std::uint8_t>((value >> 16) & 0xFF),
            static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts)
{
    std::vector<std::uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

OmfSample makeOmfObject()
{
    OmfSample sample;
    OmfRecords r;
    r.add(0x80, omfName("sample.asm"));
    r.add(0x88, joined({{0x00, 0x00}, omfName("tdump test translator")}));
    r.add(0x88, joined({{0x80, 0x9F}, {'L', 'I', 'B', 'C'}}));
    r.add(0x96, joined({omfName(""), omfName("_TEXT"), omfName("CODE"), omfName("_DATA"),
                        omfName("DATA"), omfName("DGROUP"), omfName("?inl@@YAXXZ")}));
    // Paragraph (3), public (2), use16: 0x68; dword (5), public, use32: 0xA9.
    r.add(0x98, joined({{0x68}, omfWord(0x20), omfIndex(2), omfIndex(3), omfIndex(1)}));
    r.add(0x99, joined({{0xA9}, omfDword(0x10), omfIndex(4), omfIndex(5), omfIndex(1)}));
    r.add(0x9A, joined({omfIndex(6), {0xFF}, omfIndex(2)}));
    sample.pubdef =
        r.add(0x90, joined({omfIndex(0), omfIndex(1), omfName("_main"), omfWord(0), omfIndex(0),
                            omfName("?work@@YAHH@Z"), omfWord(0x10), omfIndex(0)}));
    r.add(0x91, joined({omfIndex(1), omfIndex(2), omfName("_counter"), omfDword(4), omfIndex(0)}));
    r.add(0x8C, joined({omfName("_puts"), omfIndex(0), omfName("_exit"), omfIndex(0)}));
    // Near 16 bytes; far 4 elements of 256 bytes (a 2-byte number, 81).
    r.add(0xB0, joined({omfName("_buffer"),
                        omfIndex(0),
                        {0x62, 16},
                        omfName("_table"),
                        omfIndex(0),
                        {0x61, 4, 0x81, 0x00, 0x01}}));
    r.add(0xA0, joined({omfIndex(1),
                        omfWord(0),
                        {0xB8, 0x00, 0x00, 0x8B, 0x1E, 0x00, 0x00, 0xE8, 0x00, 0x00, 0xC3, 0x90,
                         0x90, 0x90, 0x90, 0x90}}));
    // Threads: frame 1 = F1 group 1 (0x40 | 1 << 2 | 1), target 0 = T0
    // segment 2 (0x00). Fixup at 003: offset16 (1), segment-relative,
    // frame thread 1, target thread 0, displacement 4: locat 0xC4 0x03,
    // fix data 0x98. Fixup at 008: offset16, self-relative, frame F5,
    // target T6 external 1 (no displacement): locat 0x84 0x08, fix data 0x56.
    sample.fixupp = r.add(0x9C, joined({{0x45},
                                        omfIndex(1),
                                        {0x00},
                                        omfIndex(2),
                                        {0xC4, 0x03, 0x98},
                                        omfWord(4),
                                        {0x84, 0x08, 0x56},
                                        omfIndex(1)}));
    sample.lidata = r.add(0xA2, joined({omfIndex(2),
                                        omfWord(0),
                                        omfWord(2),
                                        omfWord(2),
                                        omfWord(3),
                                        omfWord(0),
                                        {2, 'A', 'B'},
                                        omfWord(1),
                                        omfWord(0),
                                        {1, 0xFF}}));
    r.add(0x94,
          joined({omfIndex(0), omfIndex(1), omfWord(10), omfWord(0), omfWord(11), omfWord(5)}));
    // Pick any (1) in the high nibble, explicit allocation: 0x10.
    r.add(0xC2, joined({{0x00, 0x10, 0x00},
                        omfWord(0),
                        omfIndex(0),
                        omfIndex(0),
                        omfIndex(1),
                        omfIndex(7),
                        {0xC3, 0x90, 0x90}}));
    r.add(0xC6, joined({omfName("_old"), omfName("_main")}));
    r.add(0xD0, {0xDE, 0xAD});
    // Main module with a start address: frame F0 segment 1, target T0
    // segment 1, displacement 0.
    sample.modend = r.add(0x8A, joined({{0xC1, 0x00}, omfIndex(1), omfIndex(1), omfWord(0)}));
    sample.bytes = std::move(r.bytes);
    return sample;
}

std::vector<std::uint8_t> makeOmfModule(std::string_view name, const OmfRecords& records)
{
    OmfRecords r;
    r.add(0x80, omfName(name));
    r.bytes.insert(r.bytes.end(), records.bytes.begin(), records.bytes.end());
    r.add(0x8A, {0x00});
    return std::move(r.bytes);
}

std::vector<std::uint8_t> makeOmfModule(std::string_view name,
                                        const std::vector<std::string>& publics)
{
    OmfRecords r;
    r.add(0x96, joined({omfName(""), omfName("_TEXT"), omfName("CODE")}));
    r.add(0x98, joined({{0x28},
                        omfWord(static_cast<std::uint16_t>(4 * publics.size())),
                        omfIndex(2),
                        omfIndex(3),
                        omfIndex(1)}));
    std::vector<std::uint8_t> pubdef = joined({omfIndex(0), omfIndex(1)});
    std::uint16_t offset = 0;
    for (const std::string& p : publics) {
        pubdef = joined({pubdef, omfName(p), omfWord(offset), omfIndex(0)});
        offset = static_cast<std::uint16_t>(offset + 4);
    }
    r.add(0x90, pubdef);
    return makeOmfModule(name, r);
}

std::vector<std::uint8_t> makeOmfImportModule(std::string_view name, std::string_view dll,
                                              std::string_view entry, std::uint16_t ordinal)
{
    OmfRecords r;
    r.add(0x88, joined({{0x80, 0xA0, 0x01, static_cast<std::uint8_t>(ordinal != 0 ? 1 : 0)},
                        omfName(name),
                        omfName(dll),
                        ordinal != 0 ? omfWord(ordinal) : omfName(entry)}));
    return makeOmfModule(name, r);
}

// The published pseudocode, on the name as the dictionary stores it: the
// length byte, then the characters; one pointer walks forward from the
// length byte, the other back from the last character.
OmfHash omfDictionaryHash(std::string_view name, unsigned blocks)
{
    std::vector<unsigned char> stored = omfName(name);
    unsigned length = stored[0];
    const unsigned char* front = stored.data();
    const unsigned char* back = stored.data() + length;
    constexpr std::uint16_t blank = 0x20;
    auto blockX = static_cast<std::uint16_t>(length | blank);
    auto bucketD = static_cast<std::uint16_t>(length | blank);
    std::uint16_t blockD = 0;
    std::uint16_t bucketX = 0;
    for (;;) {
        const auto cback = static_cast<std::uint16_t>(*back-- | blank);
        bucketX = static_cast<std::uint16_t>(rotr16(bucketX, 2) ^ cback);
        blockD = static_cast<std::uint16_t>(rotl16(blockD, 2) ^ cback);
        if (--length == 0) {
            break;
        }
        const auto cfront = static_cast<std::uint16_t>(*++front | blank);
        blockX = static_cast<std::uint16_t>(rotl16(blockX, 2) ^ cfront);
        bucketD = static_cast<std::uint16_t>(rotr16(bucketD, 2) ^ cfront);
    }
    OmfHash h;
    h.block = unsigned{blockX} % blocks;
    h.blockDelta = std::max(unsigned{blockD} % blocks, 1u);
    h.bucket = unsigned{bucketX} % 37u;
    h.bucketDelta = std::max(unsigned{bucketD} % 37u, 1u);
    return h;
}

OmfLibraryImage makeOmfLibrary(const std::vector<OmfLibraryModule>& modules, std::uint32_t pageSize,
                               std::uint16_t blocks, std::uint8_t flags)
{
    OmfLibraryImage lib;
    std::vector<std::uint8_t>& b = lib.bytes.data;
    // The header record fills the first page: F0, page size - 3, the
    // dictionary's offset (patched below) and block count, the flags.
    b.assign(pageSize, 0);
    b[0] = 0xF0;
    b[1] = static_cast<std::uint8_t>((pageSize - 3) & 0xFF);
    b[2] = static_cast<std::uint8_t>((pageSize - 3) >> 8);
    b[7] = static_cast<std::uint8_t>(blocks & 0xFF);
    b[8] = static_cast<std::uint8_t>(blocks >> 8);
    b[9] = flags;
    std::vector<std::pair<std::string, std::uint16_t>> names; // name, page
    for (const OmfLibraryModule& m : modules) {
        const auto page = static_cast<std::uint16_t>(b.size() / pageSize);
        lib.modules.push_back(b.size());
        b.insert(b.end(), m.bytes.begin(), m.bytes.end());
        b.resize((b.size() + pageSize - 1) / pageSize * pageSize, 0);
        // The module's name from its THEADR, with the '!'.
        const std::string name(m.bytes.begin() + 4, m.bytes.begin() + 4 + m.bytes[3]);
        names.emplace_back(name + "!", page);
        for (const std::string& p : m.publics) {
            names.emplace_back(p, page);
        }
    }
    // The end record pads to the next 512-byte boundary.
    lib.endRecord = b.size();
    const std::size_t padding = (512 - (b.size() + 3) % 512) % 512;
    b.push_back(0xF1);
    b.push_back(static_cast<std::uint8_t>(padding & 0xFF));
    b.push_back(static_cast<std::uint8_t>(padding >> 8));
    b.resize(b.size() + padding, 0);
    lib.dictionary = b.size();
    lib.bytes.put32(3, static_cast<std::uint32_t>(lib.dictionary));
    // Each block: 37 buckets, then the free space byte (in words), which
    // starts at the first entry, 38 bytes in; 0xFF once the block is full.
    std::vector<std::uint8_t> dictionary(std::size_t{blocks} * 512, 0);
    for (unsigned i = 0; i < blocks; ++i) {
        dictionary[std::size_t{i} * 512 + 37] = 38 / 2;
    }
    for (const auto& [name, page] : names) {
        const OmfHash h = omfDictionaryHash(name, blocks);
        const std::size_t size = (1 + name.size() + 2 + 1) / 2 * 2;
        unsigned block = h.block;
        bool placed = false;
        for (unsigned tries = 0; tries < blocks && !placed; ++tries) {
            std::uint8_t* base = &dictionary[std::size_t{block} * 512];
            unsigned bucket = h.bucket;
            for (unsigned j = 0; j < 37; ++j) {
                if (base[bucket] == 0) {
                    const std::size_t free = std::size_t{base[37]} * 2;
                    if (base[37] == 0xFF || free + size > 512) {
                        base[37] = 0xFF;
                        break;
                    }
                    base[bucket] = static_cast<std::uint8_t>(free / 2);
                    base[free] = static_cast<std::uint8_t>(name.size());
                    std::copy(name.begin(), name.end(), base + free + 1);
                    base[free + 1 + name.size()] = static_cast<std::uint8_t>(page & 0xFF);
                    base[free + 2 + name.size()] = static_cast<std::uint8_t>(page >> 8);
                    base[37] =
                        free + size >= 512 ? 0xFF : static_cast<std::uint8_t>((free + size) / 2);
                    lib.entries.push_back(
                        {name, block, bucket, lib.dictionary + std::size_t{block} * 512 + free});
                    placed = true;
                    break;
                }
                bucket = (bucket + h.bucketDelta) % 37;
            }
            block = (block + h.blockDelta) % blocks;
        }
    }
    b.insert(b.end(), dictionary.begin(), dictionary.end());
    return lib;
}

} // namespace tdump::test
