// Symbol records (S_*), nested by the scopes that procedures, blocks and
// inline sites open and their end records close.

#include <array>
#include <optional>

#include "codeview/records.h"

namespace tdump::codeview {
namespace {

namespace symbol {
constexpr std::uint16_t end = 0x0006;
constexpr std::uint16_t frameProc = 0x1012;
constexpr std::uint16_t annotation = 0x1019;
constexpr std::uint16_t objName = 0x1101;
constexpr std::uint16_t thunk32 = 0x1102;
constexpr std::uint16_t block32 = 0x1103;
constexpr std::uint16_t label32 = 0x1105;
constexpr std::uint16_t registerVariable = 0x1106;
constexpr std::uint16_t constant = 0x1107;
constexpr std::uint16_t udt = 0x1108;
constexpr std::uint16_t bpRel32 = 0x110B;
constexpr std::uint16_t lData32 = 0x110C;
constexpr std::uint16_t gData32 = 0x110D;
constexpr std::uint16_t pub32 = publicSymbolKind;
constexpr std::uint16_t lProc32 = 0x110F;
constexpr std::uint16_t gProc32 = 0x1110;
constexpr std::uint16_t regRel32 = 0x1111;
constexpr std::uint16_t lThread32 = 0x1112;
constexpr std::uint16_t gThread32 = 0x1113;
constexpr std::uint16_t compile2 = 0x1116;
constexpr std::uint16_t uNamespace = 0x1124;
constexpr std::uint16_t procRef = 0x1125;
constexpr std::uint16_t dataRef = 0x1126;
constexpr std::uint16_t lProcRef = 0x1127;
constexpr std::uint16_t trampoline = 0x112C;
constexpr std::uint16_t sepCode = 0x1132;
constexpr std::uint16_t section = 0x1136;
constexpr std::uint16_t coffGroup = 0x1137;
constexpr std::uint16_t exportSymbol = 0x1138;
constexpr std::uint16_t callSiteInfo = 0x1139;
constexpr std::uint16_t frameCookie = 0x113A;
constexpr std::uint16_t compile3 = 0x113C;
constexpr std::uint16_t envBlock = 0x113D;
constexpr std::uint16_t local = 0x113E;
constexpr std::uint16_t defRange = 0x113F;
constexpr std::uint16_t defRangeSubfield = 0x1140;
constexpr std::uint16_t defRangeRegister = 0x1141;
constexpr std::uint16_t defRangeFramePointerRel = 0x1142;
constexpr std::uint16_t defRangeSubfieldRegister = 0x1143;
constexpr std::uint16_t defRangeFramePointerRelFullScope = 0x1144;
constexpr std::uint16_t defRangeRegisterRel = 0x1145;
constexpr std::uint16_t lProc32Id = 0x1146;
constexpr std::uint16_t gProc32Id = 0x1147;
constexpr std::uint16_t buildInfo = 0x114C;
constexpr std::uint16_t inlineSite = 0x114D;
constexpr std::uint16_t inlineSiteEnd = 0x114E;
constexpr std::uint16_t procIdEnd = 0x114F;
constexpr std::uint16_t fileStatic = 0x1153;
constexpr std::uint16_t lProc32Dpc = 0x1155;
constexpr std::uint16_t lProc32DpcId = 0x1156;
constexpr std::uint16_t callees = 0x115A;
constexpr std::uint16_t callers = 0x115B;
constexpr std::uint16_t inlineSite2 = 0x115D;
constexpr std::uint16_t heapAllocSite = 0x115E;
constexpr std::uint16_t inlinees = 0x1168;
} // namespace symbol

constexpr auto symbolNames = std::to_array<KindName>({
    {symbol::end, "S_END"},
    {symbol::frameProc, "S_FRAMEPROC"},
    {symbol::annotation, "S_ANNOTATION"},
    {symbol::objName, "S_OBJNAME"},
    {symbol::thunk32, "S_THUNK32"},
    {symbol::block32, "S_BLOCK32"},
    {symbol::label32, "S_LABEL32"},
    {symbol::registerVariable, "S_REGISTER"},
    {symbol::constant, "S_CONSTANT"},
    {symbol::udt, "S_UDT"},
    {symbol::bpRel32, "S_BPREL32"},
    {symbol::lData32, "S_LDATA32"},
    {symbol::gData32, "S_GDATA32"},
    {symbol::pub32, "S_PUB32"},
    {symbol::lProc32, "S_LPROC32"},
    {symbol::gProc32, "S_GPROC32"},
    {symbol::regRel32, "S_REGREL32"},
    {symbol::lThread32, "S_LTHREAD32"},
    {symbol::gThread32, "S_GTHREAD32"},
    {symbol::compile2, "S_COMPILE2"},
    {symbol::uNamespace, "S_UNAMESPACE"},
    {symbol::procRef, "S_PROCREF"},
    {symbol::dataRef, "S_DATAREF"},
    {symbol::lProcRef, "S_LPROCREF"},
    {symbol::trampoline, "S_TRAMPOLINE"},
    {symbol::sepCode, "S_SEPCODE"},
    {symbol::section, "S_SECTION"},
    {symbol::coffGroup, "S_COFFGROUP"},
    {symbol::exportSymbol, "S_EXPORT"},
    {symbol::callSiteInfo, "S_CALLSITEINFO"},
    {symbol::frameCookie, "S_FRAMECOOKIE"},
    {symbol::compile3, "S_COMPILE3"},
    {symbol::envBlock, "S_ENVBLOCK"},
    {symbol::local, "S_LOCAL"},
    {symbol::defRange, "S_DEFRANGE"},
    {symbol::defRangeSubfield, "S_DEFRANGE_SUBFIELD"},
    {symbol::defRangeRegister, "S_DEFRANGE_REGISTER"},
    {symbol::defRangeFramePointerRel, "S_DEFRANGE_FRAMEPOINTER_REL"},
    {symbol::defRangeSubfieldRegister, "S_DEFRANGE_SUBFIELD_REGISTER"},
    {symbol::defRangeFramePointerRelFullScope, "S_DEFRANGE_FRAMEPOINTER_REL_FULL_SCOPE"},
    {symbol::defRangeRegisterRel, "S_DEFRANGE_REGISTER_REL"},
    {symbol::lProc32Id, "S_LPROC32_ID"},
    {symbol::gProc32Id, "S_GPROC32_ID"},
    {symbol::buildInfo, "S_BUILDINFO"},
    {symbol::inlineSite, "S_INLINESITE"},
    {symbol::inlineSiteEnd, "S_INLINESITE_END"},
    {symbol::procIdEnd, "S_PROC_ID_END"},
    {symbol::fileStatic, "S_FILESTATIC"},
    {symbol::lProc32Dpc, "S_LPROC32_DPC"},
    {symbol::lProc32DpcId, "S_LPROC32_DPC_ID"},
    {symbol::callees, "S_CALLEES"},
    {symbol::callers, "S_CALLERS"},
    {symbol::inlineSite2, "S_INLINESITE2"},
    {symbol::heapAllocSite, "S_HEAPALLOCSITE"},
    {symbol::inlinees, "S_INLINEES"},
});

constexpr auto languages = std::to_array<KindName>({
    {0x00, "C"},
    {0x01, "C++"},
    {0x02, "Fortran"},
    {0x03, "MASM"},
    {0x04, "Pascal"},
    {0x05, "Basic"},
    {0x06, "COBOL"},
    {0x07, "LINK"},
    {0x08, "CVTRES"},
    {0x09, "CVTPGD"},
    {0x0A, "C#"},
    {0x0B, "Visual Basic"},
    {0x0C, "ILASM"},
    {0x0D, "Java"},
    {0x0E, "JScript"},
    {0x0F, "MSIL"},
    {0x10, "HLSL"},
    {0x11, "Objective-C"},
    {0x12, "Objective-C++"},
    {0x13, "Swift"},
    {0x14, "ALIASOBJ"},
    {0x15, "Rust"},
    {0x44, "D"},
});
constexpr std::uint32_t languageMask = 0xFF;
constexpr auto compileFlags = std::to_array<Flag>({
    {0x100, "edit and continue"},
    {0x200, "no debug information"},
    {0x400, "LTCG"},
    {0x800, "no data align"},
    {0x1000, "managed code"},
    {0x2000, "security checks"},
    {0x4000, "hot patch"},
    {0x8000, "CVTCIL"},
    {0x10000, "MSIL module"},
    {0x20000, "SDL"},
    {0x40000, "PGO"},
    {0x80000, ".exp module"},
});

constexpr auto machines = std::to_array<KindName>({
    {0x03, "80386"},       {0x04, "80486"}, {0x05, "Pentium"}, {0x06, "Pentium Pro"},
    {0x07, "Pentium III"}, {0x60, "ARM3"},  {0x61, "ARM4"},    {0x62, "ARM4T"},
    {0x63, "ARM5"},        {0x64, "ARM5T"}, {0x65, "ARM6"},    {0x66, "ARM XMAC"},
    {0x67, "ARM WMMX"},    {0x68, "ARM7"},  {0xD0, "x64"},     {0xF3, "Thumb"},
    {0xF4, "ARMNT"},       {0xF6, "ARM64"}, {0xF7, "ARM64EC"},
});

constexpr auto procedureFlags = std::to_array<Flag>({
    {0x01, "no FPO"},
    {0x02, "interrupt return"},
    {0x04, "far return"},
    {0x08, "never returns"},
    {0x10, "not reached"},
    {0x20, "custom calling convention"},
    {0x40, "no inline"},
    {0x80, "optimized debug information"},
});

constexpr auto localFlags = std::to_array<Flag>({
    {0x001, "parameter"},
    {0x002, "address taken"},
    {0x004, "compiler generated"},
    {0x008, "aggregate"},
    {0x010, "aggregated"},
    {0x020, "aliased"},
    {0x040, "alias"},
    {0x080, "return value"},
    {0x100, "optimized out"},
    {0x200, "enregistered global"},
    {0x400, "enregistered static"},
});

constexpr auto thunkKinds = std::to_array<KindName>({
    {0, "no type"},
    {1, "adjustor"},
    {2, "vcall"},
    {3, "pcode"},
    {4, "load"},
    {5, "trampoline increment"},
    {6, "trampoline branch island"},
});
constexpr std::uint8_t thunkAdjustor = 1;
constexpr std::uint8_t thunkVcall = 2;

constexpr auto trampolineKinds = std::to_array<KindName>({
    {0, "incremental"},
    {1, "branch island"},
});

// S_DEFRANGE_REGISTER_REL: the offset in the parent is in the high bits.
constexpr unsigned registerRelParentShift = 4;
// S_DEFRANGE_SUBFIELD_REGISTER: the offset in the parent, in the low bits.
constexpr std::uint32_t subfieldOffsetMask = 0xFFF;
constexpr std::size_t maxListedGaps = 64;
// S_SECTION keeps the alignment as a power of two.
constexpr unsigned sectionAlignmentMask = 0x1F;

bool opensScope(std::uint16_t kind)
{
    switch (kind) {
    case symbol::gProc32:
    case symbol::lProc32:
    case symbol::gProc32Id:
    case symbol::lProc32Id:
    case symbol::lProc32Dpc:
    case symbol::lProc32DpcId:
    case symbol::block32:
    case symbol::thunk32:
    case symbol::inlineSite:
    case symbol::inlineSite2:
    case symbol::sepCode:
        return true;
    default:
        return false;
    }
}

// An inline site's binary annotations: opcodes, each with one or two
// compressed numbers, that move the code offset, line and column of the
// site's ranges; opcode 0 ends them (the rest is padding).
namespace annotation {
enum Operand : std::uint8_t { none, hexValue, decValue, signedValue, codeAndLine, lengthAndCode };
struct Opcode {
    std::string_view name;
    Operand operand;
};
constexpr std::array<Opcode, 14> opcodes{{
    {"Invalid", none},
    {"CodeOffset", hexValue},
    {"ChangeCodeOffsetBase", decValue},
    {"ChangeCodeOffset", hexValue},
    {"ChangeCodeLength", hexValue},
    {"ChangeFile", hexValue},
    {"ChangeLineOffset", signedValue},
    {"ChangeLineEndDelta", decValue},
    {"ChangeRangeKind", decValue},
    {"ChangeColumnStart", decValue},
    {"ChangeColumnEndDelta", signedValue},
    {"ChangeCodeOffsetAndLineOffset", codeAndLine},
    {"ChangeCodeLengthAndCodeOffset", lengthAndCode},
    {"ChangeColumnEnd", decValue},
}};

// A compressed number: one byte below 0x80, two with the top bits 10, four
// with 110.
std::optional<std::uint32_t> compressed(Cursor& c)
{
    const std::uint32_t first = c.u8();
    if ((first & 0x80) == 0) {
        return first;
    }
    if ((first & 0xC0) == 0x80) {
        return (first & 0x3F) << 8 | c.u8();
    }
    if ((first & 0xE0) == 0xC0) {
        std::uint32_t value = first & 0x1F;
        for (int i = 0; i < 3; ++i) {
            value = value << 8 | c.u8();
        }
        return value;
    }
    return std::nullopt;
}

// Signed numbers keep their sign in the lowest bit.
std::int64_t signedValueOf(std::uint32_t encoded)
{
    const auto magnitude = static_cast<std::int64_t>(encoded >> 1);
    return (encoded & 1) != 0 ? -magnitude : magnitude;
}

std::string list(Cursor& c)
{
    std::string text;
    while (!c.atEnd() && !c.damaged()) {
        const std::uint8_t op = c.u8();
        if (op == 0) {
            break;
        }
        if (op >= opcodes.size()) {
            c.fail("unknown annotation opcode " + hexText(op, 2));
            break;
        }
        const auto first = compressed(c);
        if (!first) {
            c.fail("a malformed annotation number");
            break;
        }
        if (!text.empty()) {
            text += ", ";
        }
        text += opcodes[op].name;
        text += ' ';
        switch (opcodes[op].operand) {
        case hexValue:
            text += hexText(*first);
            break;
        case decValue:
            text += decText(*first);
            break;
        case signedValue:
            text += signedText(signedValueOf(*first));
            break;
        case codeAndLine:
            text += concat(
                {"code ", hexText(*first & 0xF), " line ", signedText(signedValueOf(*first >> 4))});
            break;
        case lengthAndCode: {
            const auto code = compressed(c);
            text += concat({"length ", hexText(*first), " code ", hexText(code.value_or(0))});
            if (!code) {
                c.fail("a malformed annotation number");
            }
            break;
        }
        case none:
            break;
        }
    }
    c.skip(c.left());
    return text.empty() ? std::string("none") : text;
}
} // namespace annotation

bool closesScope(std::uint16_t kind)
{
    return kind == symbol::end || kind == symbol::procIdEnd || kind == symbol::inlineSiteEnd;
}

class SymbolLister {
public:
    SymbolLister(Output& out, const Options& options, const TypeNames& types, const TypeNames& ids,
                 const RelocatedFields& relocated)
        : out_(out), verbose_(options.verbose()), types_(types), ids_(ids), relocated_(relocated)
    {
    }

    void list(const RawRecord& record)
    {
        if (closesScope(record.kind)) {
            if (depth_ == 0) {
                report(out_,
                       std::string(lookupOr(symbolNames, record.kind)) +
                           " without a scope open before it",
                       record.data.base() - recordHeader::size);
            } else {
                --depth_;
            }
        }
        std::string lead(recordIndent);
        lead += toHex(record.offset, 4);
        lead += "  ";
        for (std::size_t i = 0; i < depth_; ++i) {
            lead += scopeStep;
        }
        Cursor c(record.data);
        RecordText t;
        const auto kind = lookup(symbolNames, record.kind);
        if (kind) {
            decode(record.kind, c, t);
            t.write(out_, lead, *kind, verbose_);
        } else {
            t.add("", decText(record.data.size()) + " bytes");
            t.write(out_, lead, concat({"kind ", hexText(record.kind, 4)}), verbose_);
        }
        if (c.damaged()) {
            report(out_, c.problem(), c.problemOffset());
        }
        if (opensScope(record.kind)) {
            ++depth_;
        }
    }

    void finish(View records)
    {
        if (depth_ != 0) {
            report(out_, decText(depth_) + " scope(s) still open at the end of the symbols",
                   records.base() + records.size());
        }
    }

private:
    std::string type(Cursor& c) { return ref(types_, c); }
    std::string id(Cursor& c) { return ref(ids_, c); }
    std::string ref(const TypeNames& names, Cursor& c)
    {
        const std::uint64_t at = c.fileOffset();
        const std::uint32_t index = c.u32();
        return c.damaged() ? std::string("?") : typeRef(names, index, out_, at);
    }

    // A section and offset, the offset first.
    std::string address(Cursor& c) const
    {
        const std::uint64_t at = c.fileOffset();
        const std::uint32_t offset = c.u32();
        const std::uint16_t section = c.u16();
        return addressText(section, offset, relocated_.at(at));
    }

    // A range (start, section, length) and the gaps in it that fill the
    // rest of the record.
    void range(Cursor& c, RecordText& t)
    {
        const std::uint64_t startAt = c.fileOffset();
        const std::uint32_t start = c.u32();
        const std::uint16_t section = c.u16();
        const std::uint16_t length = c.u16();
        t.add("range",
              addressText(section, start, relocated_.at(startAt)) + " +" + hexText(length));
        std::size_t gaps = 0;
        std::string listed;
        while (c.left() >= 4 && !c.damaged()) {
            const std::uint16_t gapStart = c.u16();
            const std::uint16_t gapLength = c.u16();
            if (gaps < maxListedGaps) {
                listed += gaps == 0 ? "" : ", ";
                listed += concat({"+", hexText(gapStart), " (", hexText(gapLength), ")"});
            }
            ++gaps;
        }
        if (!c.atEnd()) {
            c.fail("a gap is cut short by the end of the record");
        }
        t.add("gaps", decText(gaps));
        if (gaps != 0) {
            t.detail("gap list", listed);
        }
    }

    void procedure(bool byId, Cursor& c, RecordText& t)
    {
        t.detail("parent", hexText(c.u32()));
        t.detail("end", hexText(c.u32()));
        t.detail("next", hexText(c.u32()));
        const std::uint32_t size = c.u32();
        const std::uint32_t debugStart = c.u32();
        const std::uint32_t debugEnd = c.u32();
        const std::string typeText = byId ? id(c) : type(c);
        t.add("code", address(c));
        t.add("size", hexText(size));
        t.add("debug", hexText(debugStart) + ".." + hexText(debugEnd));
        t.add("type", typeText);
        t.detail("flags", flagText(procedureFlags, c.u8()));
        t.setName(c.name());
    }

    void decode(std::uint16_t kind, Cursor& c, RecordText& t)
    {
        switch (kind) {
        case symbol::objName:
            t.detail("signature", hexText(c.u32(), 8));
            t.setName(c.name());
            return;
        case symbol::compile2:
        case symbol::compile3: {
            const std::uint32_t flags = c.u32();
            t.add("", lookupOr(languages, flags & languageMask, 2));
            t.detail("flags", flagText(compileFlags, flags & ~languageMask));
            t.add("", lookupOr(machines, c.u16(), 2));
            const int parts = kind == symbol::compile3 ? 4 : 3;
            for (const std::string_view part : {"front end", "back end"}) {
                std::string version;
                for (int i = 0; i < parts; ++i) {
                    version += i == 0 ? "" : ".";
                    version += decText(c.u16());
                }
                t.detail(part, version);
            }
            t.setName(c.name());
            return;
        }
        case symbol::buildInfo:
            t.add("", id(c));
            return;
        case symbol::gProc32:
        case symbol::lProc32:
        case symbol::lProc32Dpc:
            procedure(false, c, t);
            return;
        case symbol::gProc32Id:
        case symbol::lProc32Id:
        case symbol::lProc32DpcId:
            procedure(true, c, t);
            return;
        case symbol::frameProc:
            t.add("frame", hexText(c.u32()));
            t.detail("padding", hexText(c.u32()));
            t.detail("padding offset", hexText(c.u32()));
            t.add("saved registers", hexText(c.u32()));
            t.detail("exception handler", address(c));
            t.detail("flags", hexText(c.u32(), 8));
            return;
        case symbol::local: {
            t.add("type", type(c));
            t.add("flags", flagText(localFlags, c.u16()));
            t.setName(c.name());
            return;
        }
        case symbol::defRange:
            t.add("program", hexText(c.u32()));
            range(c, t);
            return;
        case symbol::defRangeSubfield:
            t.add("program", hexText(c.u32()));
            t.add("offset in parent", hexText(c.u32()));
            range(c, t);
            return;
        case symbol::defRangeRegister:
            t.add("register", registerName(c.u16()));
            t.detail("may have no name", decText(c.u16()));
            range(c, t);
            return;
        case symbol::defRangeFramePointerRel:
            t.add("offset", signedText(c.i32()));
            range(c, t);
            return;
        case symbol::defRangeSubfieldRegister:
            t.add("register", registerName(c.u16()));
            t.detail("may have no name", decText(c.u16()));
            t.add("offset in parent", hexText(c.u32() & subfieldOffsetMask));
            range(c, t);
            return;
        case symbol::defRangeFramePointerRelFullScope:
            t.add("offset", signedText(c.i32()));
            return;
        case symbol::defRangeRegisterRel: {
            t.add("register", registerName(c.u16()));
            const std::uint16_t flags = c.u16();
            t.detail("offset in parent",
                     hexText(static_cast<std::uint32_t>(flags >> registerRelParentShift)));
            t.add("offset", signedText(c.i32()));
            range(c, t);
            return;
        }
        case symbol::regRel32: {
            const std::int32_t offset = c.i32();
            const std::string typeText = type(c);
            t.add("", registerName(c.u16()) + (offset < 0 ? "" : "+") + signedText(offset));
            t.add("type", typeText);
            t.setName(c.name());
            return;
        }
        case symbol::bpRel32:
            t.add("offset", signedText(c.i32()));
            t.add("type", type(c));
            t.setName(c.name());
            return;
        case symbol::registerVariable:
            t.add("type", type(c));
            t.add("register", registerName(c.u16()));
            t.setName(c.name());
            return;
        case symbol::block32:
            t.detail("parent", hexText(c.u32()));
            t.detail("end", hexText(c.u32()));
            {
                const std::uint32_t size = c.u32();
                t.add("code", address(c));
                t.add("size", hexText(size));
            }
            t.setName(c.name());
            return;
        case symbol::inlineSite:
        case symbol::inlineSite2:
            t.detail("parent", hexText(c.u32()));
            t.detail("end", hexText(c.u32()));
            t.add("inlinee", id(c));
            if (kind == symbol::inlineSite2) {
                t.detail("invocations", decText(c.u32()));
            }
            t.detail("annotations", annotation::list(c));
            return;
        case symbol::end:
        case symbol::procIdEnd:
        case symbol::inlineSiteEnd:
            return;
        case symbol::udt:
            t.add("type", type(c));
            t.setName(c.name());
            return;
        case symbol::constant:
            t.add("type", type(c));
            t.add("value", c.numeric().text);
            t.setName(c.name());
            return;
        case symbol::gData32:
        case symbol::lData32:
        case symbol::gThread32:
        case symbol::lThread32: {
            const std::string typeText = type(c);
            t.add("", address(c));
            t.add("type", typeText);
            t.setName(c.name());
            return;
        }
        case symbol::label32:
            t.add("", address(c));
            t.detail("flags", flagText(procedureFlags, c.u8()));
            t.setName(c.name());
            return;
        case symbol::callSiteInfo:
        case symbol::heapAllocSite: {
            t.add("", address(c));
            const std::uint16_t extra = c.u16();
            if (kind == symbol::heapAllocSite) {
                t.add("call size", decText(extra));
            }
            t.add("type", type(c));
            return;
        }
        case symbol::fileStatic:
            t.add("type", type(c));
            t.detail("module file name offset", hexText(c.u32()));
            t.add("flags", flagText(localFlags, c.u16()));
            t.setName(c.name());
            return;
        case symbol::section:
            t.add("section", decText(c.u16()));
            t.detail("alignment", decText(std::uint64_t{1} << (c.u8() & sectionAlignmentMask)));
            c.u8(); // reserved
            t.add("rva", hexText(c.u32(), 8));
            t.add("size", hexText(c.u32()));
            t.detail("characteristics", hexText(c.u32(), 8));
            t.setName(c.name());
            return;
        case symbol::coffGroup: {
            const std::uint32_t size = c.u32();
            t.detail("characteristics", hexText(c.u32(), 8));
            t.add("", address(c));
            t.add("size", hexText(size));
            t.setName(c.name());
            return;
        }
        case symbol::pub32: {
            const std::uint32_t flags = c.u32();
            t.add("", address(c));
            t.add("flags", flagText(publicSymbolFlags(), flags));
            t.setName(c.name());
            return;
        }
        case symbol::procRef:
        case symbol::lProcRef:
        case symbol::dataRef:
            t.detail("checksum", hexText(c.u32(), 8));
            t.add("symbol offset", hexText(c.u32()));
            t.add("module", decText(c.u16()));
            t.setName(c.name());
            return;
        case symbol::annotation: {
            t.add("", address(c));
            const std::uint16_t count = c.u16();
            t.add("strings", decText(count));
            for (std::uint16_t i = 0; i < count && !c.damaged(); ++i) {
                t.detail("string", c.name());
            }
            return;
        }
        case symbol::envBlock: {
            c.u8(); // flags
            std::size_t count = 0;
            while (!c.atEnd() && !c.damaged() && c.peek8().value_or(0) != 0) {
                const std::string key = c.name();
                t.detail(key, c.name());
                ++count;
            }
            c.skip(c.left());
            t.add("entries", decText(count));
            return;
        }
        case symbol::thunk32: {
            t.detail("parent", hexText(c.u32()));
            t.detail("end", hexText(c.u32()));
            t.detail("next", hexText(c.u32()));
            t.add("code", address(c));
            t.add("size", hexText(c.u16()));
            const std::uint8_t ordinal = c.u8();
            t.add("", lookupOr(thunkKinds, ordinal, 2));
            t.setName(c.name());
            if (ordinal == thunkAdjustor) {
                t.detail("delta", decText(c.u16()));
                t.detail("target", c.name());
            } else if (ordinal == thunkVcall) {
                t.detail("vtable offset", decText(c.u16()));
            }
            c.skip(c.left());
            return;
        }
        case symbol::trampoline: {
            t.add("", lookupOr(trampolineKinds, c.u16()));
            t.add("size", decText(c.u16()));
            const std::uint64_t thunkAt = c.fileOffset();
            const std::uint32_t thunk = c.u32();
            const std::uint32_t target = c.u32();
            const std::uint16_t thunkSection = c.u16();
            const std::uint16_t targetSection = c.u16();
            t.add("thunk", addressText(thunkSection, thunk, relocated_.at(thunkAt)));
            t.add("target", addressText(targetSection, target, relocated_.at(thunkAt + 4)));
            return;
        }
        case symbol::exportSymbol:
            t.add("ordinal", decText(c.u16()));
            t.detail("flags", hexText(c.u16(), 4));
            t.setName(c.name());
            return;
        case symbol::frameCookie:
            t.add("offset", signedText(c.i32()));
            t.add("register", registerName(c.u16()));
            t.add("kind", decText(c.u8()));
            t.detail("flags", hexText(c.u8(), 2));
            return;
        case symbol::uNamespace:
            t.setName(c.name());
            return;
        case symbol::sepCode: {
            t.detail("parent", hexText(c.u32()));
            t.detail("end", hexText(c.u32()));
            t.add("size", hexText(c.u32()));
            t.detail("flags", hexText(c.u32(), 8));
            const std::uint64_t offsetAt = c.fileOffset();
            const std::uint32_t offset = c.u32();
            const std::uint32_t parentOffset = c.u32();
            const std::uint16_t section = c.u16();
            const std::uint16_t parentSection = c.u16();
            t.add("code", addressText(section, offset, relocated_.at(offsetAt)));
            t.add("parent code",
                  addressText(parentSection, parentOffset, relocated_.at(offsetAt + 4)));
            return;
        }
        case symbol::callees:
        case symbol::callers:
        case symbol::inlinees: {
            const std::uint32_t count = c.u32();
            t.add("count", decText(count));
            if (std::uint64_t{count} * indexSize > c.left()) {
                c.fail(concat({"the count ", decText(count), " runs past the record"}));
                return;
            }
            for (std::uint32_t i = 0; i < count; ++i) {
                t.detail("function", id(c));
            }
            return;
        }
        default:
            t.add("", decText(c.left()) + " bytes");
            c.skip(c.left());
            return;
        }
    }

    Output& out_;
    bool verbose_;
    const TypeNames& types_;
    const TypeNames& ids_;
    const RelocatedFields& relocated_;
    std::size_t depth_ = 0;
};

} // namespace

void listSymbols(View records, Output& out, const Options& options, const TypeNames& types,
                 const TypeNames& ids, const RelocatedFields& relocated)
{
    SymbolLister lister(out, options, types, ids, relocated);
    walkRecords(records, &out, [&](const RawRecord& record) {
        lister.list(record);
        return true;
    });
    lister.finish(records);
}

} // namespace tdump::codeview
