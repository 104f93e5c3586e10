#include "dwarf/dwarf.h"

#include <algorithm>
#include <array>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "demangle/demangle.h"
#include "dwarf/cursor.h"
#include "dwarf/expression.h"
#include "dwarf/lists_table.h"
#include "dwarf/names.h"

namespace tdump::dwarf {
namespace {

// The attributes, forms and tags this reader acts on (DW_AT_*, DW_FORM_*,
// DW_TAG_*, DW_UT_*).
namespace at {
constexpr std::uint64_t sibling = 0x01, location = 0x02, name = 0x03, stringLength = 0x19,
                        lowPc = 0x11, highPc = 0x12, returnAddr = 0x2A, segment = 0x2E,
                        upperBound = 0x2F, abstractOrigin = 0x31, count = 0x37,
                        dataMemberLocation = 0x38, declColumn = 0x39, declFile = 0x3A,
                        declLine = 0x3B, frameBase = 0x40, definesDeclaration = 0x47,
                        staticLink = 0x48, type = 0x49, useLocation = 0x4A,
                        vtableElemLocation = 0x4D, allocated = 0x4E, associated = 0x4F,
                        dataLocation = 0x50, callColumn = 0x57, callFile = 0x58, callLine = 0x59,
                        linkageName = 0x6E, strOffsetsBase = 0x72, addrBase = 0x73,
                        callValue = 0x7E, callDataLocation = 0x80, callDataValue = 0x81,
                        callTarget = 0x83, callTargetClobbered = 0x84, mipsLinkageName = 0x2007,
                        gnuCallSiteValue = 0x2111, gnuCallSiteDataValue = 0x2112,
                        gnuCallSiteTarget = 0x2113, gnuCallSiteTargetClobbered = 0x2114,
                        gnuAddrBase = 0x2133, startScope = 0x2C, ranges = 0x55, rnglistsBase = 0x74,
                        loclistsBase = 0x8C, gnuLocviews = 0x2137;
} // namespace at

namespace tag {
constexpr std::uint64_t arrayType = 0x01, classType = 0x02, enumerationType = 0x04,
                        formalParameter = 0x05, pointerType = 0x0F, referenceType = 0x10,
                        stringType = 0x12, structureType = 0x13, subroutineType = 0x15,
                        typedefType = 0x16, unionType = 0x17, unspecifiedParameters = 0x18,
                        ptrToMemberType = 0x1F, subrangeType = 0x21, baseType = 0x24,
                        constType = 0x26, volatileType = 0x35, restrictType = 0x37,
                        namespaceEntry = 0x39, unspecifiedType = 0x3B, rvalueReferenceType = 0x42,
                        atomicType = 0x47;
} // namespace tag

namespace unitType {
constexpr std::uint8_t type = 0x02, skeleton = 0x04, splitCompile = 0x05, splitType = 0x06;
}

constexpr std::size_t stringLimit = 4096;
// Deeper entries are listed at this depth: real programs nest a few dozen
// levels at most.
constexpr unsigned maxIndentedDepth = 64;
constexpr std::size_t maxAbbreviations = std::size_t{1} << 16;
constexpr std::size_t maxAttributesPerAbbreviation = 256;
constexpr std::size_t maxCachedTables = 256;
// Entries of one unit whose tags and parents are kept for naming types.
constexpr std::size_t maxIndexedEntries = std::size_t{1} << 22;
// Links followed to compose one type's name, and children read for it.
constexpr unsigned maxTypeChain = 16;
constexpr unsigned maxTypeChildren = 64;
constexpr std::size_t maxTypeScan = 4096;
constexpr std::size_t maxBlockBytesShown = 24;
// List references kept from .debug_info: far more than real programs have.
constexpr std::size_t maxListReferences = std::size_t{1} << 22;

struct AttributeSpec {
    std::uint64_t name;
    std::uint64_t form;
    std::int64_t implicitConst;
};

struct Abbreviation {
    std::uint64_t code;
    std::uint64_t tag;
    bool children;
    std::uint32_t first; // of its attributes in AbbreviationTable::specs
    std::uint32_t count;
};

// The abbreviations at one offset of .debug_abbrev, sorted by code.
struct AbbreviationTable {
    std::vector<Abbreviation> entries;
    std::vector<AttributeSpec> specs;
    std::string damage; // why the reading stopped early, empty when whole
    std::uint64_t damageOffset = 0;

    const Abbreviation* find(std::uint64_t code) const
    {
        // Producers number their abbreviations 1, 2, 3, ...
        if (code - 1 < entries.size() && entries[code - 1].code == code) {
            return &entries[code - 1];
        }
        const auto found =
            std::lower_bound(entries.begin(), entries.end(), code,
                             [](const Abbreviation& a, std::uint64_t c) { return a.code < c; });
        return found != entries.end() && found->code == code ? &*found : nullptr;
    }
};

AbbreviationTable readAbbreviations(const Section* section, std::uint64_t offset)
{
    AbbreviationTable table;
    if (section == nullptr) {
        table.damage = "the unit's abbreviations are missing: there is no .debug_abbrev";
        return table;
    }
    Cursor c(section->view, offset);
    if (offset >= section->view.size()) {
        table.damage = "an abbreviation offset past the end of .debug_abbrev";
        table.damageOffset = section->view.base() + section->view.size();
        return table;
    }
    const auto fail = [&](std::string_view why) {
        table.damage = "the abbreviations end early: " + std::string(why);
        table.damageOffset = c.fileOffset();
    };
    while (true) {
        const auto code = c.uleb();
        if (!code) {
            fail(c.failure());
            break;
        }
        if (*code == 0) {
            break;
        }
        if (table.entries.size() == maxAbbreviations) {
            fail("more than " + std::to_string(maxAbbreviations) + " abbreviations");
            break;
        }
        const auto tagValue = c.uleb();
        const auto children = tagValue ? c.u8() : std::nullopt;
        if (!children) {
            fail(c.failure());
            break;
        }
        Abbreviation a{*code, *tagValue, *children != 0,
                       static_cast<std::uint32_t>(table.specs.size()), 0};
        bool whole = true;
        while (whole) {
            const auto name = c.uleb();
            const auto formValue = name ? c.uleb() : std::nullopt;
            if (!formValue) {
                fail(c.failure());
                whole = false;
                break;
            }
            if (*name == 0 && *formValue == 0) {
                break;
            }
            std::int64_t implicitConst = 0;
            if (*formValue == form::implicitConst) {
                const auto value = c.sleb();
                if (!value) {
                    fail(c.failure());
                    whole = false;
                    break;
                }
                implicitConst = *value;
            }
            if (a.count == maxAttributesPerAbbreviation) {
                fail("an abbreviation of more than " +
                     std::to_string(maxAttributesPerAbbreviation) + " attributes");
                whole = false;
                break;
            }
            table.specs.push_back({*name, *formValue, implicitConst});
            ++a.count;
        }
        if (!whole) {
            break;
        }
        table.entries.push_back(a);
    }
    std::stable_sort(table.entries.begin(), table.entries.end(),
                     [](const Abbreviation& a, const Abbreviation& b) { return a.code < b.code; });
    return table;
}

struct Unit {
    std::uint64_t offset = 0; // of its header
    std::uint64_t end = 0;    // of its entries, within the section
    unsigned version = 0;
    unsigned offsetSize = 4;
    unsigned addressSize = 8;
    std::uint8_t type = 1;
    const AbbreviationTable* abbreviations = nullptr;
    std::uint64_t strOffsetsBase = 0;
    std::uint64_t addrBase = 0;
};

// An attribute's value as its form holds it; strings and indexed
// addresses are looked up only when listed.
struct Value {
    enum class Kind {
        Address,
        AddressIndex,
        String,       // inline: text
        StringOffset, // into .debug_str, .debug_line_str, ...
        StringIndex,  // into .debug_str_offsets
        Unsigned,
        Signed,
        Reference, // an offset in .debug_info
        Signature,
        Flag,
        SectionOffset,
        ListIndex,
        Block, // number: offset in .debug_info, length: its size
    };
    Kind kind = Kind::Unsigned;
    std::uint64_t form = 0;
    std::uint64_t number = 0;
    std::uint64_t length = 0;
    std::string_view text;
};

// One entry of the unit being listed, for naming what references point at.
struct IndexedEntry {
    std::uint64_t offset;
    std::uint32_t parent; // index, or noParent
    std::uint64_t tag;
};
constexpr std::uint32_t noParent = std::numeric_limits<std::uint32_t>::max();

// What naming an entry needs of it.
struct Facts {
    std::uint64_t tag = 0;
    std::string name;
    std::string linkageName;
    std::optional<std::uint64_t> type;
    std::optional<std::uint64_t> origin; // the declaration it defines, or its abstract origin
    std::optional<std::uint64_t> count;
    std::optional<std::uint64_t> upperBound;
};

// A type's name in two parts, around where a declarator goes: "void (*)(int)"
// is "void " and "(int)" around the "(*)" of a pointer.
struct TypeName {
    std::string before;
    std::string after;
    std::uint64_t tag = 0;
};

bool isTypeTag(std::uint64_t t)
{
    switch (t) {
    case tag::arrayType:
    case tag::classType:
    case tag::enumerationType:
    case tag::pointerType:
    case tag::referenceType:
    case tag::stringType:
    case tag::structureType:
    case tag::subroutineType:
    case tag::typedefType:
    case tag::unionType:
    case tag::ptrToMemberType:
    case tag::baseType:
    case tag::constType:
    case tag::volatileType:
    case tag::restrictType:
    case tag::unspecifiedType:
    case tag::rvalueReferenceType:
    case tag::atomicType:
        return true;
    default:
        return false;
    }
}

bool holdsExpression(std::uint64_t attribute)
{
    switch (attribute) {
    case at::location:
    case at::stringLength:
    case at::returnAddr:
    case at::segment:
    case at::dataMemberLocation:
    case at::frameBase:
    case at::staticLink:
    case at::useLocation:
    case at::vtableElemLocation:
    case at::allocated:
    case at::associated:
    case at::dataLocation:
    case at::callValue:
    case at::callDataLocation:
    case at::callDataValue:
    case at::callTarget:
    case at::callTargetClobbered:
    case at::gnuCallSiteValue:
    case at::gnuCallSiteDataValue:
    case at::gnuCallSiteTarget:
    case at::gnuCallSiteTargetClobbered:
        return true;
    default:
        return false;
    }
}

// Source positions read best in decimal, as editors show them.
bool isSourcePosition(std::uint64_t attribute)
{
    return attribute == at::declLine || attribute == at::declColumn || attribute == at::callLine ||
           attribute == at::callColumn || attribute == at::declFile || attribute == at::callFile;
}

// Digits that show a constant of the form: as many as its bytes hold.
int digits(std::uint64_t f)
{
    switch (f) {
    case form::data1:
        return 2;
    case form::data2:
        return 4;
    case form::data4:
        return 8;
    case form::data8:
        return 16;
    default:
        return 1;
    }
}

// How a type name shows an unnamed structure, class, union or enumeration.
std::string_view unnamedTypeName(std::uint64_t t)
{
    switch (t) {
    case tag::structureType:
        return "<unnamed struct>";
    case tag::classType:
        return "<unnamed class>";
    case tag::unionType:
        return "<unnamed union>";
    default:
        return "<unnamed enum>";
    }
}

// The name in a column of width, or the number when it has no name. Known
// names go out as they are: one listing writes millions of them.
void writeNamed(Output& out, std::string_view name, std::uint64_t value, std::size_t width = 0)
{
    if (name.empty()) {
        out << column("0x" + toHex(value), width);
    } else {
        out << column(name, width);
    }
}

// An entry's DW_AT_low_pc once read: where a DW_AT_high_pc that is a
// length ends. (Not an optional: MinGW-w64 g++ 12 -O3 takes its value for
// uninitialized where listValue is inlined.)
struct EntryStart {
    bool known = false;
    std::uint64_t address = 0;
};

// What ended the reading of a unit's entries early.
struct Damage {
    std::string what;
    std::uint64_t fileOffset;
};

class InfoLister {
public:
    InfoLister(const Sections& sections, Output& out, const Options& options)
        : sections_(sections), out_(out), options_(options), info_(*sections.find(".debug_info")),
          abbrev_(sections.find(".debug_abbrev"))
    {
    }

    void list();
    // The list references of every unit; damage to them goes to reports.
    void collect(std::vector<ListReference>& references, Output& reports);

private:
    struct Lookup {
        explicit Lookup(const Section* s) : section(s)
        {
            if (s != nullptr) {
                cursor.emplace(s->view);
            }
        }
        const Section* section;
        std::optional<Cursor> cursor;
    };
    struct Text {
        std::string_view text;
        std::string_view damage; // when the text could not be read
    };

    bool readHeader(Cursor& c, Unit& u, std::uint64_t& next);
    const AbbreviationTable& abbreviations(std::uint64_t offset);
    bool readValue(Cursor& c, const Unit& u, const AttributeSpec& spec, Value& v);
    template <class OnEntry, class OnAttribute>
    std::optional<Damage> walk(Cursor& c, const Unit& u, OnEntry onEntry, OnAttribute onAttribute);
    void index(Cursor& c, Unit& u);
    void listEntries(Cursor& c, const Unit& u);
    void listValue(const Unit& u, const AttributeSpec& spec, const Value& v, EntryStart& lowPc,
                   std::uint64_t fileOffset);
    void listReference(const Unit& u, const AttributeSpec& spec, const Value& v,
                       std::uint64_t fileOffset);
    void listBlock(const Unit& u, const AttributeSpec& spec, const Value& v);
    void collectUnit(Cursor& c, Unit& u, std::vector<ListReference>& references, Output& reports);

    Text text(const Unit& u, const Value& v);
    Text stringAt(Lookup& in, std::uint64_t offset);
    std::optional<std::uint64_t> indexed(Lookup& in, std::uint64_t base, std::uint64_t index,
                                         unsigned size, std::string_view& damage);

    std::optional<std::size_t> indexOf(std::uint64_t offset) const;
    std::optional<Facts> facts(const Unit& u, std::uint64_t offset);
    const TypeName& typeName(const Unit& u, std::uint64_t offset, unsigned chain);
    TypeName composeTypeName(const Unit& u, std::uint64_t offset, unsigned chain);
    std::string qualifiedName(const Unit& u, std::size_t entry, std::string name);
    std::string referenceName(const Unit& u, std::uint64_t offset);

    const Sections& sections_;
    Output& out_;
    const Options& options_;
    const Section& info_;
    const Section* abbrev_;
    Lookup str_{sections_.find(".debug_str")};
    Lookup lineStr_{sections_.find(".debug_line_str")};
    Lookup strOffsets_{sections_.find(".debug_str_offsets")};
    Lookup addr_{sections_.find(".debug_addr")};
    Cursor lookupCursor_{info_.view};
    std::map<std::uint64_t, AbbreviationTable> tables_;
    std::string failure_; // why readValue failed
    // The unit being listed: its entries and the names of those referenced.
    std::vector<IndexedEntry> entries_;
    std::unordered_map<std::uint64_t, TypeName> typeNames_;
};

const AbbreviationTable& InfoLister::abbreviations(std::uint64_t offset)
{
    if (const auto found = tables_.find(offset); found != tables_.end()) {
        return found->second;
    }
    if (tables_.size() == maxCachedTables) {
        tables_.clear();
    }
    return tables_.emplace(offset, readAbbreviations(abbrev_, offset)).first->second;
}

bool InfoLister::readHeader(Cursor& c, Unit& u, std::uint64_t& next)
{
    u.offset = c.offset();
    const auto length = c.initialLength();
    if (!length) {
        report(out_, "a unit header that cannot be read: " + std::string(c.failure()),
               c.fileOffset());
        return false;
    }
    u.offsetSize = length->offsetSize;
    const bool cut = length->length > c.remaining();
    next = cut ? info_.view.size() : c.offset() + length->length;
    u.end = next;
    const auto version = c.u16();
    out_ << "  Unit at " << hex(u.offset) << ": ";
    if (!version) {
        out_ << "cut short\n";
        report(out_, "the unit header ends early", c.fileOffset());
        return false;
    }
    u.version = *version;
    if (u.version < 2 || u.version > 5) {
        out_ << "version " << dec(u.version) << '\n';
        report(out_, "a unit of a DWARF version this program does not read", u.offset);
        return false;
    }
    std::optional<std::uint64_t> abbrevOffset;
    std::optional<std::uint8_t> addressSize;
    std::optional<std::uint64_t> signature;
    std::optional<std::uint64_t> typeOffset;
    std::optional<std::uint64_t> dwoId;
    bool whole = true;
    if (u.version == 5) {
        const auto type = c.u8();
        addressSize = c.u8();
        abbrevOffset = c.offsetField(u.offsetSize);
        u.type = type.value_or(0);
        if (u.type == unitType::type || u.type == unitType::splitType) {
            signature = c.u64();
            typeOffset = c.offsetField(u.offsetSize);
            whole = typeOffset.has_value();
        } else if (u.type == unitType::skeleton || u.type == unitType::splitCompile) {
            dwoId = c.u64();
            whole = dwoId.has_value();
        }
        whole = whole && type && addressSize && abbrevOffset;
    } else {
        abbrevOffset = c.offsetField(u.offsetSize);
        addressSize = c.u8();
        whole = abbrevOffset && addressSize;
    }
    out_ << "version " << dec(u.version);
    if (u.version == 5) {
        out_ << ' ';
        writeNamed(out_, unitTypeName(u.type), u.type);
    }
    out_ << ", " << (u.offsetSize == 8 ? "64" : "32") << "-bit, length " << hex(length->length)
         << '\n';
    if (!whole) {
        report(out_, "the unit header ends early", c.fileOffset());
        return false;
    }
    out_ << "    abbreviations at " << hex(*abbrevOffset) << ", addresses of " << dec(*addressSize)
         << " bytes";
    if (signature) {
        out_ << ", signature " << hex(*signature, 16) << ", type at "
             << hex(u.offset + *typeOffset);
    }
    if (dwoId) {
        out_ << ", DWO id " << hex(*dwoId, 16);
    }
    out_ << '\n';
    if (cut) {
        report(out_, "the unit's length runs past the end of .debug_info", u.offset);
    }
    if (*addressSize == 0 || *addressSize > 8) {
        report(out_, "an address size other than 1 to 8 bytes", c.fileOffset());
        return false;
    }
    u.addressSize = *addressSize;
    u.abbreviations = &abbreviations(*abbrevOffset);
    if (!u.abbreviations->damage.empty()) {
        report(out_, u.abbreviations->damage, u.abbreviations->damageOffset);
    }
    return true;
}

bool InfoLister::readValue(Cursor& c, const Unit& u, const AttributeSpec& spec, Value& v)
{
    using Kind = Value::Kind;
    v = Value{};
    v.form = spec.form;
    std::uint64_t f = spec.form;
    if (f == form::indirect) {
        const auto actual = c.uleb();
        if (!actual) {
            failure_ = c.failure();
            return false;
        }
        if (*actual == form::indirect || *actual == form::implicitConst) {
            failure_ = "an indirect form that names form 0x" + toHex(*actual);
            return false;
        }
        f = *actual;
        v.form = f;
    }
    const auto take = [&](std::optional<std::uint64_t> number, Kind kind) {
        if (!number) {
            failure_ = c.failure();
            return false;
        }
        v.kind = kind;
        v.number = *number;
        return true;
    };
    const auto reference = [&](std::optional<std::uint64_t> number) {
        return take(number, Kind::Reference) && (v.number += u.offset, true);
    };
    const auto block = [&](std::optional<std::uint64_t> length) {
        if (!length) {
            failure_ = c.failure();
            return false;
        }
        v.kind = Kind::Block;
        v.number = c.offset();
        v.length = *length;
        if (!c.skip(*length)) {
            failure_ = "a block that runs past the end of the section";
            return false;
        }
        return true;
    };
    switch (f) {
    case form::addr:
        return take(c.fixed(u.addressSize), Kind::Address);
    case form::addrx:
    case form::gnuAddrIndex:
        return take(c.uleb(), Kind::AddressIndex);
    case form::addrx1:
    case form::addrx2:
    case form::addrx3:
    case form::addrx4:
        return take(c.fixed(static_cast<unsigned>(f - form::addrx1 + 1)), Kind::AddressIndex);
    case form::string: {
        const auto s = c.string(stringLimit);
        if (!s) {
            failure_ = c.failure();
            return false;
        }
        v.kind = Kind::String;
        v.text = *s;
        return true;
    }
    case form::strp:
    case form::lineStrp:
    case form::strpSup:
    case form::gnuStrpAlt:
        return take(c.offsetField(u.offsetSize), Kind::StringOffset);
    case form::strx:
    case form::gnuStrIndex:
        return take(c.uleb(), Kind::StringIndex);
    case form::strx1:
    case form::strx2:
    case form::strx3:
    case form::strx4:
        return take(c.fixed(static_cast<unsigned>(f - form::strx1 + 1)), Kind::StringIndex);
    case form::data1:
        return take(c.fixed(1), Kind::Unsigned);
    case form::data2:
        return take(c.fixed(2), Kind::Unsigned);
    case form::data4:
        return take(c.fixed(4), Kind::Unsigned);
    case form::data8:
        return take(c.fixed(8), Kind::Unsigned);
    case form::udata:
        return take(c.uleb(), Kind::Unsigned);
    case form::sdata: {
        const auto s = c.sleb();
        return take(s ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(*s)) : std::nullopt,
                    Kind::Signed);
    }
    case form::implicitConst:
        v.kind = Kind::Signed;
        v.number = static_cast<std::uint64_t>(spec.implicitConst);
        return true;
    case form::data16:
        return block(16);
    case form::ref1:
        return reference(c.fixed(1));
    case form::ref2:
        return reference(c.fixed(2));
    case form::ref4:
        return reference(c.fixed(4));
    case form::ref8:
        return reference(c.fixed(8));
    case form::refUdata:
        return reference(c.uleb());
    case form::refAddr:
        // Version 2 wrote it in the size of an address.
        return take(c.fixed(u.version == 2 ? u.addressSize : u.offsetSize), Kind::Reference);
    case form::refSup4:
        return take(c.fixed(4), Kind::SectionOffset);
    case form::refSup8:
        return take(c.fixed(8), Kind::SectionOffset);
    case form::gnuRefAlt:
        return take(c.offsetField(u.offsetSize), Kind::SectionOffset);
    case form::refSig8:
        return take(c.u64(), Kind::Signature);
    case form::flag:
        return take(c.fixed(1), Kind::Flag);
    case form::flagPresent:
        v.kind = Kind::Flag;
        v.number = 1;
        return true;
    case form::secOffset:
        return take(c.offsetField(u.offsetSize), Kind::SectionOffset);
    case form::loclistx:
    case form::rnglistx:
        return take(c.uleb(), Kind::ListIndex);
    case form::block1:
        return block(c.fixed(1));
    case form::block2:
        return block(c.fixed(2));
    case form::block4:
        return block(c.fixed(4));
    case form::block:
    case form::exprloc:
        return block(c.uleb());
    default:
        failure_ = "an unknown form 0x" + toHex(f);
        return false;
    }
}

// Reads the unit's entries from c, calling onEntry(offset, depth,
// abbreviation, or nullptr for a null entry) and onAttribute(spec, value,
// fileOffset); either returns false to stop. Damage that leaves the rest of
// the unit unreadable ends the walk and is returned.
template <class OnEntry, class OnAttribute>
std::optional<Damage> InfoLister::walk(Cursor& c, const Unit& u, OnEntry onEntry,
                                       OnAttribute onAttribute)
{
    unsigned depth = 0;
    Value value;
    while (c.offset() < u.end && !out_.budget().exhausted()) {
        out_.budget().charge(entryCost);
        const std::uint64_t offset = c.offset();
        const auto code = c.uleb();
        if (!code) {
            return Damage{"an entry that cannot be read: " + std::string(c.failure()),
                          info_.view.base() + offset};
        }
        const Abbreviation* a = *code == 0 ? nullptr : u.abbreviations->find(*code);
        if (*code != 0 && a == nullptr) {
            return Damage{"abbreviation code " + std::to_string(*code) +
                              ", which the unit's abbreviations do not hold",
                          info_.view.base() + offset};
        }
        if (!onEntry(offset, depth, a)) {
            return std::nullopt;
        }
        if (a == nullptr) {
            depth -= depth > 0 ? 1 : 0;
            continue;
        }
        for (std::uint32_t i = 0; i < a->count; ++i) {
            const AttributeSpec& spec = u.abbreviations->specs[a->first + i];
            const std::uint64_t fileOffset = c.fileOffset();
            if (!readValue(c, u, spec, value)) {
                return Damage{"an attribute that cannot be read: " + failure_, fileOffset};
            }
            out_.budget().charge(1);
            if (!onAttribute(spec, value, fileOffset)) {
                return std::nullopt;
            }
        }
        if (c.offset() > u.end) {
            return Damage{"an entry that runs past the end of its unit",
                          info_.view.base() + offset};
        }
        depth += a->children ? 1 : 0;
    }
    return std::nullopt;
}

// Notes the unit's entries (offset, parent, tag) for naming what references
// point at, and the bases its string and address indexes count from, which
// the unit's first entry may give after an attribute that needs them.
void InfoLister::index(Cursor& c, Unit& u)
{
    entries_.clear();
    typeNames_.clear();
    u.strOffsetsBase = u.version >= 5 ? 2 * std::uint64_t{u.offsetSize} : 0;
    u.addrBase = 0;
    std::vector<std::uint32_t> parents;
    const auto onEntry = [&](std::uint64_t offset, unsigned depth, const Abbreviation* a) {
        if (a == nullptr) {
            return true;
        }
        if (entries_.size() == maxIndexedEntries) {
            return false;
        }
        parents.resize(std::min<std::size_t>(depth, parents.size()));
        const std::uint32_t parent =
            depth > 0 && parents.size() == depth ? parents.back() : noParent;
        entries_.push_back({offset, parent, a->tag});
        if (a->children) {
            parents.push_back(static_cast<std::uint32_t>(entries_.size() - 1));
        }
        return true;
    };
    const auto onAttribute = [&](const AttributeSpec& spec, const Value& v, std::uint64_t) {
        if (entries_.size() == 1 && v.kind == Value::Kind::SectionOffset) {
            if (spec.name == at::strOffsetsBase) {
                u.strOffsetsBase = v.number;
            } else if (spec.name == at::addrBase || spec.name == at::gnuAddrBase) {
                u.addrBase = v.number;
            }
        }
        return true;
    };
    // Damage is reported when the entries are listed.
    walk(c, u, onEntry, onAttribute);
}

void InfoLister::listEntries(Cursor& c, const Unit& u)
{
    bool tooDeep = false;
    unsigned attributeIndent = 0;
    EntryStart lowPc;
    const auto onEntry = [&](std::uint64_t offset, unsigned depth, const Abbreviation* a) {
        if (depth > maxIndentedDepth && !tooDeep) {
            tooDeep = true;
            report(out_,
                   "entries nested deeper than " + std::to_string(maxIndentedDepth) +
                       " levels; deeper ones are listed at that depth",
                   info_.view.base() + offset);
        }
        const unsigned indent = 2 * std::min(depth, maxIndentedDepth);
        out_ << "  " << hex(offset) << "  " << column("", indent);
        if (a == nullptr) {
            out_ << "null\n";
            return true;
        }
        writeNamed(out_, tagName(a->tag), a->tag);
        out_ << (a->children ? " (children)\n" : "\n");
        attributeIndent = indent + 12;
        lowPc = {};
        return true;
    };
    const auto onAttribute = [&](const AttributeSpec& spec, const Value& v,
                                 std::uint64_t fileOffset) {
        out_ << column("", attributeIndent);
        writeNamed(out_, attributeName(spec.name), spec.name, 22);
        out_ << ' ';
        writeNamed(out_, formName(v.form), v.form, 14);
        out_ << ' ';
        listValue(u, spec, v, lowPc, fileOffset);
        return true;
    };
    if (const auto damage = walk(c, u, onEntry, onAttribute)) {
        report(out_, damage->what + "; the rest of the unit is not read", damage->fileOffset);
    }
}

void InfoLister::listValue(const Unit& u, const AttributeSpec& spec, const Value& v,
                           EntryStart& lowPc, std::uint64_t fileOffset)
{
    using Kind = Value::Kind;
    const int addressDigits = static_cast<int>(2 * u.addressSize);
    std::string_view damage;
    switch (v.kind) {
    case Kind::Address:
    case Kind::AddressIndex: {
        std::optional<std::uint64_t> address = v.number;
        if (v.kind == Kind::AddressIndex) {
            address = indexed(addr_, u.addrBase, v.number, u.addressSize, damage);
            out_ << "[" << hex(v.number, 1) << "] ";
        }
        if (address) {
            out_ << hex(*address, addressDigits);
            if (spec.name == at::lowPc) {
                lowPc = {true, *address};
            }
        }
        break;
    }
    case Kind::String:
    case Kind::StringOffset:
    case Kind::StringIndex: {
        const Text t = text(u, v);
        damage = t.damage;
        if (damage.empty()) {
            const bool linkage = spec.name == at::linkageName || spec.name == at::mipsLinkageName;
            out_ << '"' << (linkage ? displayName(t.text, options_.demangle()) : printable(t.text))
                 << '"';
        }
        break;
    }
    case Kind::Unsigned:
        if (const std::string_view name = attributeValueName(spec.name, v.number); !name.empty()) {
            out_ << name;
        } else if (isSourcePosition(spec.name)) {
            out_ << dec(v.number);
        } else {
            out_ << hex(v.number, digits(v.form));
            if (spec.name == at::highPc && lowPc.known) {
                out_ << " (ends at " << hex(lowPc.address + v.number, addressDigits) << ')';
            }
        }
        break;
    case Kind::Signed: {
        const auto s = static_cast<std::int64_t>(v.number);
        if (const std::string_view name = attributeValueName(spec.name, v.number);
            s >= 0 && !name.empty()) {
            out_ << name;
        } else {
            out_ << (s < 0 ? "-" : "") << dec(s < 0 ? 0 - v.number : v.number);
        }
        break;
    }
    case Kind::Reference:
        listReference(u, spec, v, fileOffset);
        return;
    case Kind::Signature:
        out_ << "signature " << hex(v.number, 16);
        break;
    case Kind::Flag:
        out_ << (v.number != 0 ? "true" : "false");
        break;
    case Kind::SectionOffset:
        out_ << hex(v.number);
        break;
    case Kind::ListIndex:
        out_ << "index " << hex(v.number, 1);
        break;
    case Kind::Block:
        listBlock(u, spec, v);
        break;
    }
    out_ << '\n';
    if (!damage.empty()) {
        report(out_, damage, fileOffset);
    }
}

void InfoLister::listReference(const Unit& u, const AttributeSpec& spec, const Value& v,
                               std::uint64_t fileOffset)
{
    out_ << hex(v.number);
    const bool inUnit = v.number >= u.offset && v.number < u.end;
    if (v.form != form::refAddr && !inUnit) {
        out_ << '\n';
        report(out_, "a reference outside its unit", fileOffset);
        return;
    }
    if (v.number >= info_.view.size()) {
        out_ << '\n';
        report(out_, "a reference past the end of .debug_info", fileOffset);
        return;
    }
    if (inUnit && spec.name != at::sibling) {
        const std::string name = referenceName(u, v.number);
        if (!name.empty()) {
            out_ << " \"" << name << '"';
        }
    }
    out_ << '\n';
}

void InfoLister::listBlock(const Unit& u, const AttributeSpec& spec, const Value& v)
{
    const View bytes = info_.view.sub(v.number, v.length);
    if (v.form == form::exprloc || (v.form != form::data16 && holdsExpression(spec.name))) {
        writeExpression(out_, bytes, {u.addressSize, u.offsetSize, u.version, sections_.machine()});
        return;
    }
    std::array<std::uint8_t, maxBlockBytesShown> shown{};
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(v.length, shown.size()));
    if (!bytes.read(0, std::span(shown.data(), count))) {
        return;
    }
    const char* separator = "";
    for (std::size_t i = 0; i < count; ++i) {
        out_ << separator << hex(shown[i], 2);
        separator = " ";
    }
    if (v.length > count) {
        out_ << " ... (" << dec(v.length) << " bytes)";
    }
}

InfoLister::Text InfoLister::stringAt(Lookup& in, std::uint64_t offset)
{
    if (!in.cursor) {
        return {{}, "a string in a section the file does not have"};
    }
    if (offset >= in.section->view.size()) {
        return {{},
                in.section->name == ".debug_line_str"
                    ? "a string offset past the end of .debug_line_str"
                    : "a string offset past the end of .debug_str"};
    }
    in.cursor->seek(offset);
    const auto s = in.cursor->string(stringLimit);
    if (!s) {
        return {{}, "a string that runs past the end of its section"};
    }
    return {*s, {}};
}

std::optional<std::uint64_t> InfoLister::indexed(Lookup& in, std::uint64_t base,
                                                 std::uint64_t index, unsigned size,
                                                 std::string_view& damage)
{
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / 8;
    if (!in.cursor || index > limit || base > limit ||
        !in.section->view.has(base + index * size, size)) {
        damage = in.section == nullptr ? "an index into a section the file does not have"
                 : in.section->name == ".debug_addr"
                     ? "an address index past the end of .debug_addr"
                     : "a string index past the end of .debug_str_offsets";
        return std::nullopt;
    }
    in.cursor->seek(base + index * size);
    return in.cursor->fixed(size);
}

InfoLister::Text InfoLister::text(const Unit& u, const Value& v)
{
    switch (v.kind) {
    case Value::Kind::String:
        return {v.text, {}};
    case Value::Kind::StringOffset:
        if (v.form == form::strpSup || v.form == form::gnuStrpAlt) {
            return {{}, "a string in a supplementary file"};
        }
        return stringAt(v.form == form::lineStrp ? lineStr_ : str_, v.number);
    default: {
        std::string_view damage;
        const auto offset = indexed(strOffsets_, u.strOffsetsBase, v.number, u.offsetSize, damage);
        return offset ? stringAt(str_, *offset) : Text{{}, damage};
    }
    }
}

std::optional<std::size_t> InfoLister::indexOf(std::uint64_t offset) const
{
    const auto found =
        std::lower_bound(entries_.begin(), entries_.end(), offset,
                         [](const IndexedEntry& e, std::uint64_t o) { return e.offset < o; });
    if (found == entries_.end() || found->offset != offset) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - entries_.begin());
}

// Reads what naming the entry at offset (in .debug_info) needs.
std::optional<Facts> InfoLister::facts(const Unit& u, std::uint64_t offset)
{
    Cursor& c = lookupCursor_;
    c.seek(offset);
    const auto code = c.uleb();
    const Abbreviation* a = code ? u.abbreviations->find(*code) : nullptr;
    if (a == nullptr) {
        return std::nullopt;
    }
    Facts f;
    f.tag = a->tag;
    Value v;
    for (std::uint32_t i = 0; i < a->count; ++i) {
        const AttributeSpec& spec = u.abbreviations->specs[a->first + i];
        if (!readValue(c, u, spec, v)) {
            break;
        }
        const bool isText = v.kind == Value::Kind::String || v.kind == Value::Kind::StringOffset ||
                            v.kind == Value::Kind::StringIndex;
        switch (spec.name) {
        case at::name:
            if (isText) {
                f.name = text(u, v).text;
            }
            break;
        case at::linkageName:
        case at::mipsLinkageName:
            if (isText) {
                f.linkageName = text(u, v).text;
            }
            break;
        case at::type:
            if (v.kind == Value::Kind::Reference) {
                f.type = v.number;
            }
            break;
        case at::definesDeclaration:
        case at::abstractOrigin:
            if (v.kind == Value::Kind::Reference) {
                f.origin = v.number;
            }
            break;
        case at::count:
            if (v.kind == Value::Kind::Unsigned || v.kind == Value::Kind::Signed) {
                f.count = v.number;
            }
            break;
        case at::upperBound:
            if (v.kind == Value::Kind::Unsigned || v.kind == Value::Kind::Signed) {
                f.upperBound = v.number;
            }
            break;
        default:
            break;
        }
    }
    return f;
}

const TypeName& InfoLister::typeName(const Unit& u, std::uint64_t offset, unsigned chain)
{
    if (const auto found = typeNames_.find(offset); found != typeNames_.end()) {
        return found->second;
    }
    TypeName name = composeTypeName(u, offset, chain);
    return typeNames_.insert_or_assign(offset, std::move(name)).first->second;
}

// The name of the type at offset as C and C++ write it: "const char *",
// "int[4]", "void (*)(void *)", qualified by the namespaces and classes
// around it.
TypeName InfoLister::composeTypeName(const Unit& u, std::uint64_t offset, unsigned chain)
{
    const auto index = indexOf(offset);
    const auto f = index && chain < maxTypeChain ? facts(u, offset) : std::nullopt;
    if (!f) {
        return {};
    }
    const auto inner = [&]() -> TypeName {
        if (!f->type) {
            return {"void", "", 0};
        }
        return typeName(u, *f->type, chain + 1);
    };
    const auto children = [&](auto each) {
        // Only so many entries after the type are looked at for its
        // children: real types have a few, while a damaged unit may nest
        // any number of entries below one.
        const std::size_t end = std::min(entries_.size(), *index + 1 + maxTypeScan);
        for (std::size_t i = *index + 1, n = 0; i < end && n < maxTypeChildren; ++i) {
            const std::uint32_t parent = entries_[i].parent;
            if (parent == noParent || parent < *index) {
                break;
            }
            if (parent == *index) {
                ++n;
                each(entries_[i]);
            }
        }
    };
    switch (f->tag) {
    case tag::pointerType:
    case tag::referenceType:
    case tag::rvalueReferenceType: {
        const std::string_view sign = f->tag == tag::pointerType     ? "*"
                                      : f->tag == tag::referenceType ? "&"
                                                                     : "&&";
        TypeName t = inner();
        const bool glued = t.before.ends_with('*') || t.before.ends_with('&');
        // A pointer to a function or an array goes in parentheses between
        // the two: "int (*)[4]"; one to such a pointer joins it: "void (**)()".
        if (t.tag == tag::subroutineType || t.tag == tag::arrayType) {
            const bool spaced = glued || t.before.ends_with(' ');
            return {t.before + (spaced ? "(" : " (") + std::string(sign), ")" + t.after, f->tag};
        }
        return {t.before + (glued || !t.after.empty() ? "" : " ") + std::string(sign), t.after,
                f->tag};
    }
    case tag::constType:
    case tag::volatileType:
    case tag::restrictType: {
        const std::string_view word = f->tag == tag::constType      ? "const"
                                      : f->tag == tag::volatileType ? "volatile"
                                                                    : "restrict";
        TypeName t = inner();
        if (t.tag == tag::pointerType || t.tag == tag::referenceType ||
            t.tag == tag::rvalueReferenceType) {
            const bool glued = t.before.ends_with('*') || t.before.ends_with('&');
            return {t.before + (glued ? "" : " ") + std::string(word), t.after, t.tag};
        }
        return {std::string(word) + " " + t.before, t.after, f->tag};
    }
    case tag::arrayType: {
        TypeName t = inner();
        std::string dimensions;
        children([&](const IndexedEntry& e) {
            if (e.tag != tag::subrangeType) {
                return;
            }
            const auto range = facts(u, e.offset);
            dimensions += '[';
            if (range && range->count) {
                dimensions += std::to_string(*range->count);
            } else if (range && range->upperBound) {
                dimensions += std::to_string(*range->upperBound + 1);
            }
            dimensions += ']';
        });
        return {t.before, (dimensions.empty() ? "[]" : dimensions) + t.after, f->tag};
    }
    case tag::subroutineType: {
        const TypeName result = inner();
        std::string parameters = "(";
        children([&](const IndexedEntry& e) {
            if (e.tag != tag::formalParameter && e.tag != tag::unspecifiedParameters) {
                return;
            }
            if (parameters.size() > 1) {
                parameters += ", ";
            }
            if (e.tag == tag::unspecifiedParameters) {
                parameters += "...";
                return;
            }
            const auto p = facts(u, e.offset);
            const TypeName& t = p && p->type ? typeName(u, *p->type, chain + 1) : TypeName{};
            parameters += t.before + t.after;
        });
        const std::string returned = result.before + result.after;
        const bool glued = returned.ends_with('*') || returned.ends_with('&');
        return {returned + (glued ? "" : " "), parameters + ")", f->tag};
    }
    case tag::structureType:
    case tag::classType:
    case tag::unionType:
    case tag::enumerationType:
        if (f->name.empty()) {
            return {std::string(unnamedTypeName(f->tag)), "", f->tag};
        }
        return {qualifiedName(u, *index, f->name), "", f->tag};
    default:
        return {qualifiedName(u, *index, f->name), "", f->tag};
    }
}

// name with the names of the namespaces, classes, structures, unions and
// enumerations the entry is in before it ("probe::Point").
std::string InfoLister::qualifiedName(const Unit& u, std::size_t entry, std::string name)
{
    std::uint32_t parent = entries_[entry].parent;
    for (unsigned i = 0; i < maxTypeChain && parent != noParent; ++i) {
        const std::uint64_t t = entries_[parent].tag;
        if (t != tag::namespaceEntry && t != tag::structureType && t != tag::classType &&
            t != tag::unionType && t != tag::enumerationType) {
            break;
        }
        const auto f = facts(u, entries_[parent].offset);
        const std::string outer = f && !f->name.empty()      ? f->name
                                  : t == tag::namespaceEntry ? "(anonymous namespace)"
                                                             : "";
        std::string qualified = outer;
        qualified += "::";
        qualified += name;
        name = std::move(qualified);
        parent = entries_[parent].parent;
    }
    return name;
}

// What a reference shows of its target: a type's full name, another entry's
// linkage name or else its name, or those of the declaration or abstract
// entry it completes.
std::string InfoLister::referenceName(const Unit& u, std::uint64_t offset)
{
    for (unsigned i = 0; i < maxTypeChain; ++i) {
        // Only an entry of this unit: an offset between entries would read
        // as nonsense.
        const auto f = indexOf(offset) ? facts(u, offset) : std::nullopt;
        if (!f) {
            return {};
        }
        if (isTypeTag(f->tag)) {
            const TypeName& t = typeName(u, offset, 0);
            return printable(t.before + t.after);
        }
        if (!f->linkageName.empty()) {
            return displayName(f->linkageName, options_.demangle());
        }
        if (!f->name.empty() || !f->origin) {
            return printable(f->name);
        }
        offset = *f->origin;
    }
    return {};
}

void InfoLister::list()
{
    heading(out_, ".debug_info");
    Cursor c(info_.view);
    while (!c.atEnd() && !out_.budget().exhausted()) {
        Unit u;
        std::uint64_t next = 0;
        const bool readable = readHeader(c, u, next);
        if (readable) {
            const std::uint64_t first = c.offset();
            index(c, u);
            c.seek(first);
            listEntries(c, u);
        }
        if (next <= u.offset) {
            return;
        }
        c.seek(next);
    }
}

// A list reference as the entry holds it: an offset, or an index into the
// unit's offsets table (resolved once the unit's bases are known).
struct PendingReference {
    ListReference reference;
    bool indexed = false;
    std::uint64_t fileOffset = 0;
};

void InfoLister::collectUnit(Cursor& c, Unit& u, std::vector<ListReference>& references,
                             Output& reports)
{
    using Kind = ListReference::Kind;
    std::vector<PendingReference> pending;
    std::optional<std::size_t> entryLocations;
    std::optional<std::size_t> entryViews;
    std::optional<Value> lowPc;
    std::uint64_t loclistsBase = u.version >= 5 ? 12 : 0;
    std::uint64_t rnglistsBase = loclistsBase;
    std::size_t entries = 0;
    const auto pair = [&] {
        if (entryLocations && entryViews) {
            pending[*entryViews].reference.locations = pending[*entryLocations].reference.offset;
        }
        entryLocations.reset();
        entryViews.reset();
    };
    const auto onEntry = [&](std::uint64_t, unsigned, const Abbreviation* a) {
        pair();
        entries += a != nullptr ? 1 : 0;
        return references.size() + pending.size() < maxListReferences;
    };
    const auto onAttribute = [&](const AttributeSpec& spec, const Value& v, std::uint64_t at) {
        if (entries == 1) {
            if (spec.name == at::lowPc) {
                lowPc = v;
            } else if (spec.name == at::addrBase || spec.name == at::gnuAddrBase) {
                u.addrBase = v.number;
            } else if (spec.name == at::loclistsBase) {
                loclistsBase = v.number;
            } else if (spec.name == at::rnglistsBase) {
                rnglistsBase = v.number;
            }
        }
        const bool offset = v.form == form::secOffset ||
                            (u.version < 4 && (v.form == form::data4 || v.form == form::data8));
        std::optional<Kind> kind;
        if (spec.name == at::gnuLocviews && offset) {
            kind = Kind::views;
            entryViews = pending.size();
        } else if ((spec.name == at::ranges || spec.name == at::startScope) &&
                   (offset || v.form == form::rnglistx)) {
            kind = Kind::ranges;
        } else if (holdsExpression(spec.name) && (offset || v.form == form::loclistx)) {
            kind = Kind::locations;
            entryLocations = pending.size();
        }
        if (kind) {
            pending.push_back({{v.number, *kind, static_cast<std::uint8_t>(u.version),
                                static_cast<std::uint8_t>(u.addressSize),
                                static_cast<std::uint8_t>(u.offsetSize), 0, std::nullopt},
                               v.kind == Value::Kind::ListIndex,
                               at});
        }
        return true;
    };
    u.addrBase = 0;
    if (const auto damage = walk(c, u, onEntry, onAttribute)) {
        report(reports, damage->what + "; its lists are found up to there", damage->fileOffset);
    }
    pair();
    std::uint64_t base = 0;
    if (lowPc && lowPc->kind == Value::Kind::Address) {
        base = lowPc->number;
    } else if (lowPc && lowPc->kind == Value::Kind::AddressIndex) {
        std::string_view damage;
        base = indexed(addr_, u.addrBase, lowPc->number, u.addressSize, damage).value_or(0);
    }
    Lookup loclists(sections_.find(".debug_loclists"));
    Lookup rnglists(sections_.find(".debug_rnglists"));
    for (PendingReference& p : pending) {
        ListReference& r = p.reference;
        r.base = base;
        if (p.indexed) {
            const bool ranges = r.kind == Kind::ranges;
            Lookup& in = ranges ? rnglists : loclists;
            const std::uint64_t tableBase = ranges ? rnglistsBase : loclistsBase;
            // The table's count of offsets is the header's last field.
            std::optional<std::uint64_t> count;
            if (in.cursor && tableBase >= 4 && tableBase <= in.section->view.size()) {
                in.cursor->seek(tableBase - 4);
                count = in.cursor->u32();
            }
            std::string_view damage;
            const auto offset = count && r.offset < *count
                                    ? indexed(in, tableBase, r.offset, u.offsetSize, damage)
                                    : std::nullopt;
            if (!offset) {
                report(reports,
                       std::string(ranges ? "a range" : "a location") + " list index " +
                           std::to_string(r.offset) + " past the unit's offsets table",
                       p.fileOffset);
                continue;
            }
            r.offset = tableBase + *offset;
        }
        references.push_back(r);
    }
}

void InfoLister::collect(std::vector<ListReference>& references, Output& reports)
{
    Cursor c(info_.view);
    while (!c.atEnd() && !out_.budget().exhausted() && references.size() < maxListReferences) {
        Unit u;
        std::uint64_t next = 0;
        if (readHeader(c, u, next)) {
            collectUnit(c, u, references, reports);
        }
        if (next <= u.offset) {
            break;
        }
        c.seek(next);
    }
    // Units of version 5 point into sections of their own.
    const auto key = [](const ListReference& r) {
        return std::tuple(r.offset, r.kind, r.version == 5);
    };
    std::sort(references.begin(), references.end(),
              [&](const ListReference& a, const ListReference& b) { return key(a) < key(b); });
    references.erase(std::unique(references.begin(), references.end(),
                                 [&](const ListReference& a, const ListReference& b) {
                                     return key(a) == key(b);
                                 }),
                     references.end());
}

} // namespace

std::vector<ListReference> collectListReferences(const Sections& sections, Output& out)
{
    std::vector<ListReference> references;
    if (sections.find(".debug_info") != nullptr) {
        DiscardSink discard;
        constexpr std::size_t quietCapacity = 4096;
        Output quiet(discard, out.budget(), quietCapacity);
        const Options options;
        InfoLister(sections, quiet, options).collect(references, out);
    }
    return references;
}

void listInfo(const Sections& sections, Output& out, const Options& options)
{
    if (sections.find(".debug_info") != nullptr) {
        InfoLister(sections, out, options).list();
    }
}

} // namespace tdump::dwarf
