// Type and ID records (LF_*): their names, for references, and their listing.

#include <array>
#include <limits>

#include "codeview/records.h"

namespace tdump::codeview {
namespace {

// Leaf kinds of type records, ID records and field list members.
namespace typeLeaf {
constexpr std::uint16_t vtshape = 0x000A;
constexpr std::uint16_t label = 0x000E;
constexpr std::uint16_t endPrecomp = 0x0014;
constexpr std::uint16_t modifier = 0x1001;
constexpr std::uint16_t pointer = 0x1002;
constexpr std::uint16_t procedure = 0x1008;
constexpr std::uint16_t mfunction = 0x1009;
constexpr std::uint16_t argList = 0x1201;
constexpr std::uint16_t fieldList = 0x1203;
constexpr std::uint16_t bitfield = 0x1205;
constexpr std::uint16_t methodList = 0x1206;
constexpr std::uint16_t bclass = 0x1400;
constexpr std::uint16_t vbclass = 0x1401;
constexpr std::uint16_t ivbclass = 0x1402;
constexpr std::uint16_t index = 0x1404;
constexpr std::uint16_t vfunctab = 0x1409;
constexpr std::uint16_t enumerate = 0x1502;
constexpr std::uint16_t array = 0x1503;
constexpr std::uint16_t classType = 0x1504;
constexpr std::uint16_t structure = 0x1505;
constexpr std::uint16_t unionType = 0x1506;
constexpr std::uint16_t enumType = 0x1507;
constexpr std::uint16_t precomp = 0x1509;
constexpr std::uint16_t member = 0x150D;
constexpr std::uint16_t stmember = 0x150E;
constexpr std::uint16_t method = 0x150F;
constexpr std::uint16_t nestType = 0x1510;
constexpr std::uint16_t oneMethod = 0x1511;
constexpr std::uint16_t typeServer2 = 0x1515;
constexpr std::uint16_t interfaceType = 0x1519;
constexpr std::uint16_t vftable = 0x151D;
constexpr std::uint16_t funcId = 0x1601;
constexpr std::uint16_t mfuncId = 0x1602;
constexpr std::uint16_t buildInfo = 0x1603;
constexpr std::uint16_t substrList = 0x1604;
constexpr std::uint16_t stringId = 0x1605;
constexpr std::uint16_t udtSrcLine = 0x1606;
constexpr std::uint16_t udtModSrcLine = 0x1607;
} // namespace typeLeaf

constexpr auto leafNames = std::to_array<KindName>({
    {typeLeaf::vtshape, "LF_VTSHAPE"},
    {typeLeaf::label, "LF_LABEL"},
    {typeLeaf::endPrecomp, "LF_ENDPRECOMP"},
    {typeLeaf::modifier, "LF_MODIFIER"},
    {typeLeaf::pointer, "LF_POINTER"},
    {typeLeaf::procedure, "LF_PROCEDURE"},
    {typeLeaf::mfunction, "LF_MFUNCTION"},
    {typeLeaf::argList, "LF_ARGLIST"},
    {typeLeaf::fieldList, "LF_FIELDLIST"},
    {typeLeaf::bitfield, "LF_BITFIELD"},
    {typeLeaf::methodList, "LF_METHODLIST"},
    {typeLeaf::bclass, "LF_BCLASS"},
    {typeLeaf::vbclass, "LF_VBCLASS"},
    {typeLeaf::ivbclass, "LF_IVBCLASS"},
    {typeLeaf::index, "LF_INDEX"},
    {typeLeaf::vfunctab, "LF_VFUNCTAB"},
    {typeLeaf::enumerate, "LF_ENUMERATE"},
    {typeLeaf::array, "LF_ARRAY"},
    {typeLeaf::classType, "LF_CLASS"},
    {typeLeaf::structure, "LF_STRUCTURE"},
    {typeLeaf::unionType, "LF_UNION"},
    {typeLeaf::enumType, "LF_ENUM"},
    {typeLeaf::precomp, "LF_PRECOMP"},
    {typeLeaf::member, "LF_MEMBER"},
    {typeLeaf::stmember, "LF_STMEMBER"},
    {typeLeaf::method, "LF_METHOD"},
    {typeLeaf::nestType, "LF_NESTTYPE"},
    {typeLeaf::oneMethod, "LF_ONEMETHOD"},
    {typeLeaf::typeServer2, "LF_TYPESERVER2"},
    {typeLeaf::interfaceType, "LF_INTERFACE"},
    {typeLeaf::vftable, "LF_VFTABLE"},
    {typeLeaf::funcId, "LF_FUNC_ID"},
    {typeLeaf::mfuncId, "LF_MFUNC_ID"},
    {typeLeaf::buildInfo, "LF_BUILDINFO"},
    {typeLeaf::substrList, "LF_SUBSTR_LIST"},
    {typeLeaf::stringId, "LF_STRING_ID"},
    {typeLeaf::udtSrcLine, "LF_UDT_SRC_LINE"},
    {typeLeaf::udtModSrcLine, "LF_UDT_MOD_SRC_LINE"},
});

// The built-in types: the low byte of the index is the kind, the next
// three bits the mode (direct, or a pointer of some size).
constexpr std::uint32_t simpleKindMask = 0xFF;
constexpr unsigned simpleModeShift = 8;
constexpr std::uint32_t simpleModeMask = 0x7;
constexpr std::uint32_t simpleModeDirect = 0;
constexpr std::uint32_t simpleIndexMask = 0x7FF; // kind and mode; the rest must be 0
constexpr std::uint32_t noType = 0;

constexpr auto simpleKinds = std::to_array<KindName>({
    {0x00, "<no type>"},
    {0x03, "void"},
    {0x07, "<not translated>"},
    {0x08, "HRESULT"},
    {0x10, "signed char"},
    {0x20, "unsigned char"},
    {0x70, "char"},
    {0x71, "wchar_t"},
    {0x7A, "char16_t"},
    {0x7B, "char32_t"},
    {0x7C, "char8_t"},
    {0x68, "__int8"},
    {0x69, "unsigned __int8"},
    {0x11, "short"},
    {0x21, "unsigned short"},
    {0x72, "__int16"},
    {0x73, "unsigned __int16"},
    {0x12, "long"},
    {0x22, "unsigned long"},
    {0x74, "int"},
    {0x75, "unsigned"},
    {0x13, "__int64"},
    {0x23, "unsigned __int64"},
    {0x76, "__int64"},
    {0x77, "unsigned __int64"},
    {0x14, "__int128"},
    {0x24, "unsigned __int128"},
    {0x78, "__int128"},
    {0x79, "unsigned __int128"},
    {0x46, "__half"},
    {0x40, "float"},
    {0x45, "float (partial precision)"},
    {0x44, "__float48"},
    {0x41, "double"},
    {0x42, "long double"},
    {0x43, "__float128"},
    {0x56, "_Complex __half"},
    {0x50, "_Complex float"},
    {0x51, "_Complex double"},
    {0x52, "_Complex long double"},
    {0x53, "_Complex __float128"},
    {0x30, "bool"},
    {0x31, "__bool16"},
    {0x32, "__bool32"},
    {0x33, "__bool64"},
    {0x34, "__bool128"},
});

constexpr auto simpleModes = std::to_array<std::string_view>(
    {"", " near*", " far*", " huge*", "*", " far32*", "*", " near128*"});

// LF_POINTER attributes: kind, mode, flags and size in one word; a pointer
// to a member adds the class and a representation.
namespace pointerAttributes {
constexpr std::uint32_t kindMask = 0x1F;
constexpr unsigned modeShift = 5;
constexpr std::uint32_t modeMask = 0x7;
constexpr unsigned sizeShift = 13;
constexpr std::uint32_t sizeMask = 0x3F;
constexpr std::uint32_t isVolatile = 0x200;
constexpr std::uint32_t isConst = 0x400;
// Everything but the kind, mode and size.
constexpr std::uint32_t flagsMask = ~(kindMask | (modeMask << modeShift) | (sizeMask << sizeShift));
} // namespace pointerAttributes
namespace pointerMode {
constexpr std::uint32_t pointer = 0;
constexpr std::uint32_t lvalueReference = 1;
constexpr std::uint32_t dataMember = 2;
constexpr std::uint32_t memberFunction = 3;
constexpr std::uint32_t rvalueReference = 4;
} // namespace pointerMode

constexpr auto pointerKinds = std::to_array<KindName>({
    {0x00, "near16"},
    {0x01, "far16"},
    {0x02, "huge16"},
    {0x03, "based on segment"},
    {0x04, "based on value"},
    {0x05, "based on segment value"},
    {0x06, "based on address"},
    {0x07, "based on segment address"},
    {0x08, "based on type"},
    {0x09, "based on self"},
    {0x0A, "near32"},
    {0x0B, "far32"},
    {0x0C, "near64"},
});
constexpr auto pointerModes = std::to_array<KindName>({
    {pointerMode::pointer, "pointer"},
    {pointerMode::lvalueReference, "lvalue reference"},
    {pointerMode::dataMember, "pointer to data member"},
    {pointerMode::memberFunction, "pointer to member function"},
    {pointerMode::rvalueReference, "rvalue reference"},
});
constexpr auto pointerFlags = std::to_array<Flag>({
    {0x100, "flat32"},
    {pointerAttributes::isVolatile, "volatile"},
    {pointerAttributes::isConst, "const"},
    {0x800, "unaligned"},
    {0x1000, "restrict"},
    {0x80000, "WinRT smart pointer"},
    {0x100000, "lvalue this"},
    {0x200000, "rvalue this"},
});

constexpr std::uint16_t modifierConst = 0x1;
constexpr std::uint16_t modifierVolatile = 0x2;
constexpr std::uint16_t modifierUnaligned = 0x4;
constexpr auto modifierFlags = std::to_array<Flag>({
    {modifierConst, "const"},
    {modifierVolatile, "volatile"},
    {modifierUnaligned, "unaligned"},
});

constexpr auto callingConventions = std::to_array<KindName>({
    {0x00, "near C"},        {0x01, "far C"},        {0x02, "near Pascal"},  {0x03, "far Pascal"},
    {0x04, "near fastcall"}, {0x05, "far fastcall"}, {0x07, "near stdcall"}, {0x08, "far stdcall"},
    {0x09, "near syscall"},  {0x0A, "far syscall"},  {0x0B, "thiscall"},     {0x0C, "MIPS"},
    {0x0D, "generic"},       {0x0E, "Alpha"},        {0x0F, "PowerPC"},      {0x10, "SH"},
    {0x11, "ARM"},           {0x12, "AM33"},         {0x13, "TriCore"},      {0x14, "SH5"},
    {0x15, "M32R"},          {0x16, "CLR"},          {0x17, "inline"},       {0x18, "near vector"},
    {0x19, "swift"},
});
constexpr auto functionOptions = std::to_array<Flag>({
    {0x01, "C++ return UDT"},
    {0x02, "constructor"},
    {0x04, "constructor with virtual bases"},
});

// Options of classes, structures, unions and enums.
constexpr std::uint16_t classHasUniqueName = 0x200;
constexpr auto classOptions = std::to_array<Flag>({
    {0x0001, "packed"},
    {0x0002, "constructor or destructor"},
    {0x0004, "overloaded operator"},
    {0x0008, "nested"},
    {0x0010, "contains nested class"},
    {0x0020, "overloaded assignment"},
    {0x0040, "conversion operator"},
    {0x0080, "forward reference"},
    {0x0100, "scoped"},
    {classHasUniqueName, "has unique name"},
    {0x0400, "sealed"},
    {0x2000, "intrinsic"},
});

// Member attributes: access, the kind of method, and flags.
constexpr std::uint16_t accessMask = 0x3;
constexpr unsigned methodKindShift = 2;
constexpr std::uint16_t methodKindMask = 0x7;
constexpr std::uint16_t introducingVirtual = 4;
constexpr std::uint16_t pureIntroducingVirtual = 6;
constexpr auto accessNames =
    std::to_array<std::string_view>({"", "private", "protected", "public"});
constexpr auto methodKinds =
    std::to_array<std::string_view>({"", "virtual", "static", "friend", "intro virtual",
                                     "pure virtual", "pure intro virtual", "?"});
constexpr std::uint16_t memberFlagsMask = 0xFFE0;
constexpr auto memberFlags = std::to_array<Flag>({
    {0x0020, "pseudo"},
    {0x0040, "no inherit"},
    {0x0080, "no construct"},
    {0x0100, "compiler generated"},
    {0x0200, "sealed"},
});

// LF_VTSHAPE descriptors, four bits each.
constexpr auto vtableEntryKinds =
    std::to_array<std::string_view>({"near", "far", "thin", "outer", "meta", "near32", "far32",
                                     "?7", "?8", "?9", "?A", "?B", "?C", "?D", "?E", "?F"});
constexpr unsigned vtableEntriesPerByte = 2;
constexpr unsigned vtableEntryBits = 4;
constexpr std::uint8_t vtableEntryMask = 0xF;

// Names longer than this are cut: a name of a name of ... would otherwise
// grow without end. The table keeps at most so many bytes in all.
constexpr std::size_t maxTypeNameLength = 256;
constexpr std::size_t maxNameBytes = std::size_t{64} << 20;
constexpr std::string_view cutMark = "...";
constexpr std::uint64_t guidSize = 16;

void cut(std::string& name)
{
    if (name.size() > maxTypeNameLength) {
        name.resize(maxTypeNameLength);
        name += cutMark;
    }
}

std::string memberAttributes(std::uint16_t attributes)
{
    std::string text(accessNames[static_cast<std::size_t>(attributes & accessMask)]);
    const std::string_view kind =
        methodKinds[static_cast<std::size_t>((attributes >> methodKindShift) & methodKindMask)];
    if (!kind.empty()) {
        text += text.empty() ? "" : " ";
        text += kind;
    }
    const auto flags = static_cast<std::uint32_t>(attributes & memberFlagsMask);
    if (flags != 0) {
        text += text.empty() ? "" : " ";
        text += flagText(memberFlags, flags);
    }
    return text.empty() ? "none" : text;
}

bool introduces(std::uint16_t attributes)
{
    const auto kind = static_cast<std::uint16_t>((attributes >> methodKindShift) & methodKindMask);
    return kind == introducingVirtual || kind == pureIntroducingVirtual;
}

} // namespace

std::string simpleTypeName(std::uint32_t index)
{
    if (index == noType) {
        return "<no type>";
    }
    const auto kind = lookup(simpleKinds, index & simpleKindMask);
    if (!kind || (index & ~simpleIndexMask) != 0) {
        return hexText(index, 4) + " (unknown built-in type)";
    }
    const std::uint32_t mode = (index >> simpleModeShift) & simpleModeMask;
    std::string name(*kind);
    if (mode != simpleModeDirect) {
        name += simpleModes[mode];
    }
    return name;
}

namespace {

// The name one record gives its type, from the names of the records before.
class NameBuilder {
public:
    explicit NameBuilder(const std::vector<std::string>& names, std::uint32_t firstIndex)
        : names_(names), firstIndex_(firstIndex)
    {
    }

    // The plain name of index: without its number when there is one.
    std::string plain(std::uint32_t index) const
    {
        if (index < firstTypeIndex) {
            return simpleTypeName(index);
        }
        if (index >= firstIndex_ && index - firstIndex_ < names_.size()) {
            return names_[index - firstIndex_];
        }
        return hexText(index, 4);
    }

    std::string list(Cursor& c, std::uint32_t count) const
    {
        std::string text = "(";
        for (std::uint32_t i = 0; i < count && !c.damaged(); ++i) {
            text += i == 0 ? "" : ", ";
            text += plain(c.u32());
            if (text.size() > maxTypeNameLength) {
                break;
            }
        }
        return text + ")";
    }

    std::string name(const RawRecord& record) const
    {
        Cursor c(record.data);
        switch (record.kind) {
        case typeLeaf::modifier: {
            const std::uint32_t modified = c.u32();
            const std::uint16_t flags = c.u16();
            std::string text;
            text += (flags & modifierConst) != 0 ? "const " : "";
            text += (flags & modifierVolatile) != 0 ? "volatile " : "";
            text += (flags & modifierUnaligned) != 0 ? "__unaligned " : "";
            return text + plain(modified);
        }
        case typeLeaf::pointer: {
            const std::uint32_t referent = c.u32();
            const std::uint32_t attributes = c.u32();
            const std::uint32_t mode =
                (attributes >> pointerAttributes::modeShift) & pointerAttributes::modeMask;
            std::string text = plain(referent);
            if (mode == pointerMode::lvalueReference) {
                text += "&";
            } else if (mode == pointerMode::rvalueReference) {
                text += "&&";
            } else if (mode == pointerMode::dataMember || mode == pointerMode::memberFunction) {
                text += " ";
                text += plain(c.u32());
                text += "::*";
            } else {
                text += "*";
            }
            text += (attributes & pointerAttributes::isConst) != 0 ? " const" : "";
            text += (attributes & pointerAttributes::isVolatile) != 0 ? " volatile" : "";
            return text;
        }
        case typeLeaf::procedure: {
            const std::uint32_t result = c.u32();
            c.u8();  // calling convention
            c.u8();  // options
            c.u16(); // parameter count
            std::string text = plain(result);
            text += " ";
            return text + plain(c.u32());
        }
        case typeLeaf::mfunction: {
            const std::uint32_t result = c.u32();
            const std::uint32_t owner = c.u32();
            c.u32(); // this type
            c.u8();  // calling convention
            c.u8();  // options
            c.u16(); // parameter count
            std::string text = plain(result);
            text += " ";
            text += plain(owner);
            text += "::";
            return text + plain(c.u32());
        }
        case typeLeaf::argList:
        case typeLeaf::substrList: {
            const std::uint32_t count = c.u32();
            return list(c, count);
        }
        case typeLeaf::buildInfo: {
            const std::uint16_t count = c.u16();
            return list(c, count);
        }
        case typeLeaf::array: {
            const std::uint32_t element = c.u32();
            c.u32(); // index type
            const Numeric size = c.numeric();
            std::string own = c.name();
            if (!own.empty()) {
                return own;
            }
            std::string text = plain(element);
            text += "[";
            text += size.text;
            return text + " bytes]";
        }
        case typeLeaf::classType:
        case typeLeaf::structure:
        case typeLeaf::interfaceType:
            c.u16(); // member count
            c.u16(); // options
            c.u32(); // field list
            c.u32(); // derived from
            c.u32(); // vtable shape
            c.numeric();
            return c.name();
        case typeLeaf::unionType:
            c.u16(); // member count
            c.u16(); // options
            c.u32(); // field list
            c.numeric();
            return c.name();
        case typeLeaf::enumType:
            c.u16(); // member count
            c.u16(); // options
            c.u32(); // underlying type
            c.u32(); // field list
            return c.name();
        case typeLeaf::bitfield: {
            const std::uint32_t type = c.u32();
            const std::uint8_t bits = c.u8();
            std::string text = plain(type);
            text += " : ";
            return text + decText(bits);
        }
        case typeLeaf::funcId:
        case typeLeaf::mfuncId:
            c.u32(); // scope or class
            c.u32(); // type
            return c.name();
        case typeLeaf::stringId:
            c.u32(); // substrings
            return c.name();
        case typeLeaf::vftable:
            c.u32(); // class
            c.u32(); // overridden table
            c.u32(); // vfptr offset
            c.u32(); // names' length
            return c.name();
        case typeLeaf::typeServer2:
            c.skip(guidSize);
            c.u32(); // age
            return c.name();
        case typeLeaf::precomp:
            c.u32(); // first index
            c.u32(); // count
            c.u32(); // signature
            return c.name();
        default:
            break;
        }
        const auto kind = lookup(leafNames, record.kind);
        std::string text = "<";
        text += kind ? std::string(*kind) : hexText(record.kind, 4);
        return text + ">";
    }

private:
    const std::vector<std::string>& names_;
    std::uint32_t firstIndex_;
};

} // namespace

TypeNames TypeNames::read(View records, std::uint32_t firstIndex)
{
    TypeNames table;
    table.firstIndex_ = firstIndex;
    const NameBuilder builder(table.names_, firstIndex);
    std::size_t bytes = 0;
    walkRecords(records, nullptr, [&](const RawRecord& record) {
        if (table.names_.size() >= maxRecords || std::uint64_t{firstIndex} + table.names_.size() >
                                                     std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
        std::string name = bytes < maxNameBytes ? builder.name(record) : "?";
        cut(name);
        bytes += name.size();
        table.names_.push_back(std::move(name));
        return true;
    });
    return table;
}

bool TypeNames::known(std::uint32_t index) const
{
    return index < firstTypeIndex || (index >= firstIndex_ && index - firstIndex_ < names_.size());
}

std::string TypeNames::name(std::uint32_t index) const
{
    if (index < firstTypeIndex) {
        return simpleTypeName(index);
    }
    std::string text = hexText(index, 4);
    text += " (";
    text += known(index) ? names_[index - firstIndex_] : "out of range";
    text += ")";
    return text;
}

namespace {

class TypeLister {
public:
    TypeLister(Output& out, const Options& options, const TypeNames& types, const TypeNames& own)
        : out_(out), verbose_(options.verbose()), types_(types), own_(own)
    {
    }

    void list(const RawRecord& record, std::uint32_t index)
    {
        Cursor c(record.data);
        RecordText t;
        std::string lead(recordIndent);
        lead += hexText(index, 4);
        lead += "  ";
        if (record.kind == typeLeaf::fieldList) {
            t.add("", "members below");
            write(t, lead, record);
            listFieldList(c);
        } else if (record.kind == typeLeaf::methodList) {
            t.add("", "methods below");
            write(t, lead, record);
            listMethodList(c);
        } else {
            decode(record.kind, c, t);
            write(t, lead, record);
        }
        if (c.damaged()) {
            report(out_, c.problem(), c.problemOffset());
        }
    }

private:
    void write(const RecordText& t, std::string_view lead, const RawRecord& record)
    {
        const auto kind = lookup(leafNames, record.kind);
        if (kind) {
            t.write(out_, lead, *kind, verbose_);
            return;
        }
        std::string unknown = "kind ";
        unknown += hexText(record.kind, 4);
        RecordText sized;
        sized.add("", decText(record.data.size()) + " bytes");
        sized.write(out_, lead, unknown, verbose_);
    }

    std::string type(Cursor& c) { return ref(types_, c); }
    std::string id(Cursor& c) { return ref(own_, c); }
    std::string ref(const TypeNames& names, Cursor& c)
    {
        const std::uint64_t at = c.fileOffset();
        const std::uint32_t index = c.u32();
        return c.damaged() ? std::string("?") : typeRef(names, index, out_, at);
    }

    void decode(std::uint16_t kind, Cursor& c, RecordText& t)
    {
        switch (kind) {
        case typeLeaf::modifier:
            t.add("type", type(c));
            t.add("modifiers", flagText(modifierFlags, c.u16()));
            return;
        case typeLeaf::pointer: {
            t.add("to", type(c));
            const std::uint32_t attributes = c.u32();
            const std::uint32_t mode =
                (attributes >> pointerAttributes::modeShift) & pointerAttributes::modeMask;
            t.add("", lookupOr(pointerModes, mode, 1));
            t.add("", lookupOr(pointerKinds, attributes & pointerAttributes::kindMask, 2));
            t.add("size", decText((attributes >> pointerAttributes::sizeShift) &
                                  pointerAttributes::sizeMask));
            t.detail("attributes",
                     hexText(attributes, 8) + " (" +
                         flagText(pointerFlags, attributes & pointerAttributes::flagsMask) + ")");
            if (mode == pointerMode::dataMember || mode == pointerMode::memberFunction) {
                t.add("class", type(c));
                t.detail("representation", decText(c.u16()));
            }
            return;
        }
        case typeLeaf::procedure: {
            t.add("returns", type(c));
            t.detail("calling convention", lookupOr(callingConventions, c.u8(), 2));
            t.detail("options", flagText(functionOptions, c.u8()));
            t.add("parameters", decText(c.u16()));
            t.add("arguments", type(c));
            return;
        }
        case typeLeaf::mfunction: {
            t.add("returns", type(c));
            t.add("class", type(c));
            t.add("this", type(c));
            t.detail("calling convention", lookupOr(callingConventions, c.u8(), 2));
            t.detail("options", flagText(functionOptions, c.u8()));
            t.add("parameters", decText(c.u16()));
            t.add("arguments", type(c));
            t.detail("this adjustment", signedText(c.i32()));
            return;
        }
        case typeLeaf::argList:
        case typeLeaf::substrList: {
            const std::uint32_t count = c.u32();
            t.add("count", decText(count));
            if (std::uint64_t{count} * indexSize > c.left()) {
                c.fail(concat({"the count ", decText(count), " runs past the record"}));
                return;
            }
            std::string items;
            for (std::uint32_t i = 0; i < count && !c.damaged(); ++i) {
                items += i == 0 ? "" : ", ";
                items += kind == typeLeaf::argList ? type(c) : id(c);
            }
            t.add("", concat({"(", items, ")"}));
            return;
        }
        case typeLeaf::array:
            t.add("element", type(c));
            t.detail("index type", type(c));
            t.add("size", c.numeric().text);
            t.setName(c.name());
            return;
        case typeLeaf::classType:
        case typeLeaf::structure:
        case typeLeaf::interfaceType: {
            t.add("members", decText(c.u16()));
            const std::uint16_t flags = c.u16();
            t.detail("options", flagText(classOptions, flags));
            t.add("field list", type(c));
            t.detail("derived from", type(c));
            t.detail("vtable shape", type(c));
            t.add("size", c.numeric().text);
            t.setName(c.name());
            if ((flags & classHasUniqueName) != 0) {
                t.detail("unique name", c.name());
            }
            return;
        }
        case typeLeaf::unionType: {
            t.add("members", decText(c.u16()));
            const std::uint16_t flags = c.u16();
            t.detail("options", flagText(classOptions, flags));
            t.add("field list", type(c));
            t.add("size", c.numeric().text);
            t.setName(c.name());
            if ((flags & classHasUniqueName) != 0) {
                t.detail("unique name", c.name());
            }
            return;
        }
        case typeLeaf::enumType: {
            t.add("members", decText(c.u16()));
            const std::uint16_t flags = c.u16();
            t.detail("options", flagText(classOptions, flags));
            t.add("underlying", type(c));
            t.add("field list", type(c));
            t.setName(c.name());
            if ((flags & classHasUniqueName) != 0) {
                t.detail("unique name", c.name());
            }
            return;
        }
        case typeLeaf::bitfield:
            t.add("type", type(c));
            t.add("bits", decText(c.u8()));
            t.add("from bit", decText(c.u8()));
            return;
        case typeLeaf::vtshape: {
            const std::uint16_t count = c.u16();
            t.add("entries", decText(count));
            std::string kinds;
            for (std::uint32_t i = 0; i < count && !c.damaged(); i += vtableEntriesPerByte) {
                const std::uint8_t pair = c.u8();
                for (unsigned k = 0; k < vtableEntriesPerByte && i + k < count; ++k) {
                    kinds += kinds.empty() ? "" : " ";
                    kinds += vtableEntryKinds[static_cast<std::size_t>(
                        (pair >> (k * vtableEntryBits)) & vtableEntryMask)];
                }
            }
            t.detail("kinds", kinds);
            return;
        }
        case typeLeaf::label:
            t.add("mode", c.u16() == 0 ? "near" : "far");
            return;
        case typeLeaf::funcId:
            t.add("scope", id(c));
            t.add("type", type(c));
            t.setName(c.name());
            return;
        case typeLeaf::mfuncId:
            t.add("class", type(c));
            t.add("type", type(c));
            t.setName(c.name());
            return;
        case typeLeaf::stringId:
            t.add("substrings", id(c));
            t.setName(c.name());
            return;
        case typeLeaf::buildInfo: {
            static constexpr auto argumentNames = std::to_array<std::string_view>(
                {"directory", "compiler", "source", "PDB", "command line"});
            const std::uint16_t count = c.u16();
            t.add("arguments", decText(count));
            for (std::uint16_t i = 0; i < count && !c.damaged(); ++i) {
                t.detail(i < argumentNames.size() ? argumentNames[i] : "argument", id(c));
            }
            return;
        }
        case typeLeaf::udtSrcLine:
            t.add("type", type(c));
            t.add("file", id(c));
            t.add("line", decText(c.u32()));
            return;
        case typeLeaf::udtModSrcLine:
            t.add("type", type(c));
            t.add("file name offset", hexText(c.u32()));
            t.add("line", decText(c.u32()));
            t.add("module", decText(c.u16()));
            return;
        case typeLeaf::vftable: {
            t.add("class", type(c));
            t.detail("overridden", type(c));
            t.detail("vfptr offset", hexText(c.u32()));
            c.u32(); // the names' length
            t.setName(c.name());
            return;
        }
        case typeLeaf::typeServer2:
            c.skip(guidSize);
            t.add("age", decText(c.u32()));
            t.setName(c.name());
            return;
        case typeLeaf::precomp:
            t.add("first", hexText(c.u32(), 4));
            t.add("count", decText(c.u32()));
            t.add("signature", hexText(c.u32(), 8));
            t.setName(c.name());
            return;
        case typeLeaf::endPrecomp:
            t.add("signature", hexText(c.u32(), 8));
            return;
        default:
            t.add("", decText(c.left()) + " bytes");
            return;
        }
    }

    void listMethodList(Cursor& c)
    {
        const std::string lead = std::string(recordIndent) + "        ";
        while (!c.atEnd() && !c.damaged() && !out_.budget().exhausted()) {
            out_.budget().charge(entryCost);
            RecordText t;
            const std::uint16_t attributes = c.u16();
            c.u16(); // padding
            t.add("", memberAttributes(attributes));
            t.add("type", type(c));
            if (introduces(attributes)) {
                t.add("vtable offset", signedText(c.i32()));
            }
            t.write(out_, lead, "method", verbose_);
        }
    }

    void listFieldList(Cursor& c)
    {
        const std::string lead = std::string(recordIndent) + "        ";
        while (!c.atEnd() && !c.damaged() && !out_.budget().exhausted()) {
            out_.budget().charge(entryCost);
            const auto next = c.peek8();
            if (next && *next >= leaf::padFirst) {
                c.skip(*next & leaf::padCountMask);
                continue;
            }
            const std::uint64_t at = c.fileOffset();
            const std::uint16_t kind = c.u16();
            RecordText t;
            if (!member(kind, c, t)) {
                report(out_,
                       concat({"unknown field list member ", hexText(kind, 4),
                               "; the rest of the list is not read"}),
                       at);
                return;
            }
            t.write(out_, lead, lookupOr(leafNames, kind), verbose_);
        }
    }

    bool member(std::uint16_t kind, Cursor& c, RecordText& t)
    {
        switch (kind) {
        case typeLeaf::member:
            t.add("", memberAttributes(c.u16()));
            t.add("type", type(c));
            t.add("offset", c.numeric().text);
            t.setName(c.name());
            return true;
        case typeLeaf::stmember:
            t.add("", memberAttributes(c.u16()));
            t.add("type", type(c));
            t.setName(c.name());
            return true;
        case typeLeaf::method:
            t.add("overloads", decText(c.u16()));
            t.add("list", type(c));
            t.setName(c.name());
            return true;
        case typeLeaf::oneMethod: {
            const std::uint16_t attributes = c.u16();
            t.add("", memberAttributes(attributes));
            t.add("type", type(c));
            if (introduces(attributes)) {
                t.add("vtable offset", signedText(c.i32()));
            }
            t.setName(c.name());
            return true;
        }
        case typeLeaf::enumerate:
            t.add("", memberAttributes(c.u16()));
            t.add("value", c.numeric().text);
            t.setName(c.name());
            return true;
        case typeLeaf::bclass:
            t.add("", memberAttributes(c.u16()));
            t.add("type", type(c));
            t.add("offset", c.numeric().text);
            return true;
        case typeLeaf::vbclass:
        case typeLeaf::ivbclass:
            t.add("", memberAttributes(c.u16()));
            t.add("type", type(c));
            t.add("vbptr type", type(c));
            t.add("vbptr offset", c.numeric().text);
            t.add("vbtable index", c.numeric().text);
            return true;
        case typeLeaf::vfunctab:
            c.u16(); // padding
            t.add("type", type(c));
            return true;
        case typeLeaf::nestType:
            c.u16(); // padding
            t.add("type", type(c));
            t.setName(c.name());
            return true;
        case typeLeaf::index:
            c.u16(); // padding
            t.add("continued in", type(c));
            return true;
        default:
            return false;
        }
    }

    Output& out_;
    bool verbose_;
    const TypeNames& types_;
    const TypeNames& own_;
};

} // namespace

void listTypes(View records, std::uint32_t firstIndex, Output& out, const Options& options,
               const TypeNames& types)
{
    // ID records refer to other records of their own run (an object's
    // .debug$T holds both kinds in one run, a PDB keeps the IDs apart).
    const TypeNames own = TypeNames::read(records, firstIndex);
    TypeLister lister(out, options, types, own);
    std::uint64_t index = firstIndex;
    walkRecords(records, &out, [&](const RawRecord& record) {
        if (index > std::numeric_limits<std::uint32_t>::max()) {
            return false;
        }
        lister.list(record, static_cast<std::uint32_t>(index));
        ++index;
        return true;
    });
}

} // namespace tdump::codeview
