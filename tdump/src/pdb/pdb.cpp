#include "pdb/pdb.h"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <memory>
#include <vector>

#include "budget.h"
#include "codeview/codeview.h"
#include "demangle/demangle.h"
#include "names.h"

namespace tdump {
namespace {

using pdb::Stream;

// Far more than any real database has; keeps forged counts from costing
// memory or time.
constexpr std::uint32_t maxModules = 1u << 16;
constexpr std::uint32_t maxNamedStreams = 4096;
constexpr std::uint32_t maxBitVectorWords = 1u << 16;
constexpr std::uint32_t maxFeatureCodes = 64;
constexpr std::uint32_t maxSourceFiles = 1u << 20;
constexpr std::size_t maxNameLength = 4096;
// What opening a stream costs: about the page its Reader reads first.
constexpr std::uint64_t streamOpenCost = std::uint64_t{64} * 1024;

// The streams at fixed numbers.
constexpr std::uint32_t streamInfo = 1;
constexpr std::uint32_t streamTpi = 2;
constexpr std::uint32_t streamDbi = 3;
constexpr std::uint32_t streamIpi = 4;
// A 16-bit stream number meaning "none".
constexpr std::uint16_t noStream = 0xFFFF;

// Version stamps are dates; the later headers add them to this base.
constexpr std::uint32_t versionBase = 0xEFFE0000;

// The PDB information stream: its header, the named stream map, then the
// feature codes to the end of the stream.
namespace infoHeader {
constexpr std::uint64_t version = 0;
constexpr std::uint64_t signature = 4;
constexpr std::uint64_t age = 8;
constexpr std::uint64_t guid = 12;
constexpr std::uint64_t size = 28;
} // namespace infoHeader

// The named stream map: a string buffer, then a hash table from buffer
// offsets to stream numbers with a present and a deleted bit vector.
namespace namedStreamMap {
constexpr std::uint64_t bufferSize = 0;
constexpr std::uint64_t buffer = 4;
} // namespace namedStreamMap
namespace hashTable {
constexpr std::uint64_t size = 0;
constexpr std::uint64_t capacity = 4;
constexpr std::uint64_t present = 8;
constexpr std::uint64_t entrySize = 8; // the key, then the value
} // namespace hashTable
constexpr std::uint64_t wordSize = 4;

constexpr std::pair<std::uint32_t, std::string_view> infoVersions[] = {
    {19941610, "VC2"},   {19950623, "VC4"},     {19950814, "VC41"}, {19960307, "VC50"},
    {19970604, "VC98"},  {19990604, "VC70Dep"}, {20000404, "VC70"}, {20030901, "VC80"},
    {20091201, "VC110"}, {20140508, "VC140"}};

constexpr std::pair<std::uint32_t, std::string_view> featureCodes[] = {
    {20091201, "VC110"},
    {20140508, "VC140 (IPI stream present)"},
    {0x4D544F4E, "NoTypeMerge"},      // "NOTM"
    {0x494E494D, "MinimalDebugInfo"}, // "MINI"
};

// The DBI stream header; the substreams follow it in this order.
namespace dbiHeader {
constexpr std::uint64_t versionSignature = 0;
constexpr std::uint64_t versionHeader = 4;
constexpr std::uint64_t age = 8;
constexpr std::uint64_t globalStreamIndex = 12;
constexpr std::uint64_t buildNumber = 14;
constexpr std::uint64_t publicStreamIndex = 16;
constexpr std::uint64_t pdbDllVersion = 18;
constexpr std::uint64_t symRecordStream = 20;
constexpr std::uint64_t pdbDllRbld = 22;
constexpr std::uint64_t modInfoSize = 24;
constexpr std::uint64_t sectionContributionSize = 28;
constexpr std::uint64_t sectionMapSize = 32;
constexpr std::uint64_t sourceInfoSize = 36;
constexpr std::uint64_t typeServerMapSize = 40;
constexpr std::uint64_t mfcTypeServerIndex = 44;
constexpr std::uint64_t optionalDbgHeaderSize = 48;
constexpr std::uint64_t ecSubstreamSize = 52;
constexpr std::uint64_t flags = 56;
constexpr std::uint64_t machine = 58;
constexpr std::uint64_t size = 64;
} // namespace dbiHeader
constexpr std::uint32_t dbiNewSignature = 0xFFFFFFFF;

constexpr std::pair<std::uint32_t, std::string_view> dbiVersions[] = {
    {930803, "VC41"}, {19960307, "V50"}, {19970606, "V60"}, {19990903, "V70"}, {20091201, "V110"}};

constexpr Flag dbiFlags[] = {
    {0x1, "incrementally-linked"}, {0x2, "private-symbols-stripped"}, {0x4, "conflicting-types"}};

// The build number: the new format flag, then major and minor.
constexpr std::uint16_t buildNewFormat = 0x8000;
constexpr unsigned buildMajorShift = 8;
constexpr std::uint16_t buildMajorMask = 0x7F;
constexpr std::uint16_t buildMinorMask = 0xFF;

// A section contribution: the piece of a section one module brought.
namespace contribution {
constexpr std::uint64_t section = 0;
constexpr std::uint64_t offset = 4;
constexpr std::uint64_t size = 8;
constexpr std::uint64_t characteristics = 12;
constexpr std::uint64_t moduleIndex = 16;
constexpr std::uint64_t dataCrc = 20;
constexpr std::uint64_t relocCrc = 24;
constexpr std::uint64_t entrySize = 28;
constexpr std::uint64_t isectCoff = 28; // the second version only
constexpr std::uint64_t entrySizeV2 = 32;
} // namespace contribution
constexpr std::uint32_t contributionVersion60 = versionBase + 19970605;
constexpr std::uint32_t contributionVersion2 = versionBase + 20140516;
constexpr std::uint64_t contributionVersionSize = 4;

// A module information record; its two names follow, and the record is
// padded to four bytes.
namespace moduleInfo {
constexpr std::uint64_t sectionContribution = 4;
constexpr std::uint64_t flags = 32;
constexpr std::uint64_t moduleSymStream = 34;
constexpr std::uint64_t symByteSize = 36;
constexpr std::uint64_t c11ByteSize = 40;
constexpr std::uint64_t c13ByteSize = 44;
constexpr std::uint64_t sourceFileCount = 48;
constexpr std::uint64_t sourceFileNameIndex = 56;
constexpr std::uint64_t pdbFilePathNameIndex = 60;
constexpr std::uint64_t moduleName = 64;
constexpr std::uint64_t alignment = 4;
} // namespace moduleInfo
constexpr std::uint16_t moduleWritten = 0x1;
constexpr std::uint16_t moduleHasEcInfo = 0x2;
constexpr unsigned moduleTsmShift = 8;

// The section map: a count, then its entries.
namespace sectionMap {
constexpr std::uint64_t count = 0;
constexpr std::uint64_t logCount = 2;
constexpr std::uint64_t entries = 4;
constexpr std::uint64_t flags = 0;
constexpr std::uint64_t ovl = 2;
constexpr std::uint64_t group = 4;
constexpr std::uint64_t frame = 6;
constexpr std::uint64_t sectionName = 8;
constexpr std::uint64_t className = 10;
constexpr std::uint64_t offset = 12;
constexpr std::uint64_t sectionLength = 16;
constexpr std::uint64_t entrySize = 20;
} // namespace sectionMap

constexpr Flag sectionMapFlags[] = {{0x1, "read"},   {0x2, "write"},      {0x4, "execute"},
                                    {0x8, "32-bit"}, {0x100, "selector"}, {0x200, "absolute"},
                                    {0x400, "group"}};

// The file information substream: the module count, the (16-bit, often
// overflowed) file count, a first-file index and a file count per module,
// the name offsets, then the names.
namespace fileInfo {
constexpr std::uint64_t numModules = 0;
constexpr std::uint64_t numSourceFiles = 2;
constexpr std::uint64_t moduleIndices = 4;
} // namespace fileInfo
constexpr std::uint64_t u16Size = 2;

// The optional debug header: stream numbers of these, in this order.
constexpr std::string_view debugHeaderStreams[] = {"FPO data",
                                                   "exception data",
                                                   "fixup data",
                                                   "OMAP to source",
                                                   "OMAP from source",
                                                   "section headers",
                                                   "token/RID map",
                                                   "xdata",
                                                   "pdata",
                                                   "new FPO data",
                                                   "original section headers"};

// The header of a global symbol hash (globals and publics): its records
// point into the symbol record stream.
namespace gsiHeader {
constexpr std::uint64_t verSignature = 0;
constexpr std::uint64_t verHeader = 4;
constexpr std::uint64_t hashRecordsSize = 8;
constexpr std::uint64_t bucketsSize = 12;
constexpr std::uint64_t size = 16;
} // namespace gsiHeader
namespace hashRecord {
constexpr std::uint64_t offset = 0; // one past the record's offset
constexpr std::uint64_t size = 8;   // with a reference count
} // namespace hashRecord
constexpr std::uint32_t gsiSignature = 0xFFFFFFFF;
constexpr std::uint32_t gsiVersion = versionBase + 19990810;

// The publics stream opens with this header, before its hash.
namespace publicsHeader {
constexpr std::uint64_t symHash = 0;
constexpr std::uint64_t addrMap = 4;
constexpr std::uint64_t numThunks = 8;
constexpr std::uint64_t sizeOfThunk = 12;
constexpr std::uint64_t isectThunkTable = 16;
constexpr std::uint64_t offThunkTable = 20;
constexpr std::uint64_t numSections = 24;
constexpr std::uint64_t size = 28;
} // namespace publicsHeader
constexpr std::uint64_t addressMapEntrySize = 4;

// The fields of an S_PUB32 record, by their offset from its start.
namespace publicSymbol {
constexpr std::uint64_t flags = 4;
constexpr std::uint64_t offset = 8;
constexpr std::uint64_t segment = 12;
constexpr std::uint64_t name = 14;
} // namespace publicSymbol

// The TPI and IPI header.
namespace tpiHeader {
constexpr std::uint64_t version = 0;
constexpr std::uint64_t headerSize = 4;
constexpr std::uint64_t typeIndexBegin = 8;
constexpr std::uint64_t typeIndexEnd = 12;
constexpr std::uint64_t typeRecordBytes = 16;
constexpr std::uint64_t hashStreamIndex = 20;
constexpr std::uint64_t hashAuxStreamIndex = 22;
constexpr std::uint64_t hashKeySize = 24;
constexpr std::uint64_t numHashBuckets = 28;
constexpr std::uint64_t hashValueOffset = 32;
constexpr std::uint64_t hashValueLength = 36;
constexpr std::uint64_t indexOffsetOffset = 40;
constexpr std::uint64_t indexOffsetLength = 44;
constexpr std::uint64_t hashAdjOffset = 48;
constexpr std::uint64_t hashAdjLength = 52;
constexpr std::uint64_t size = 56;
} // namespace tpiHeader

constexpr std::pair<std::uint32_t, std::string_view> tpiVersions[] = {
    {19950410, "V40"}, {19951122, "V41"}, {19961031, "V50"}, {19990903, "V70"}, {20040203, "V80"}};

// The /names stream: a header, then the string buffer that line tables
// name their files in.
namespace namesHeader {
constexpr std::uint64_t signature = 0;
constexpr std::uint64_t byteSize = 8;
constexpr std::uint64_t size = 12;
} // namespace namesHeader
constexpr std::uint32_t namesSignature = 0xEFFEEFFE;
constexpr std::string_view namesStreamName = "/names";

// A module stream opens with the signature of its symbols: 4 for C13.
constexpr std::uint64_t moduleSignatureSize = 4;
constexpr std::uint32_t moduleSignatureC13 = 4;

template <std::size_t N>
std::string versionText(std::uint32_t value,
                        const std::pair<std::uint32_t, std::string_view> (&known)[N])
{
    std::string text = std::to_string(value);
    for (const auto& [stamp, name] : known) {
        if (stamp == value) {
            text += " (";
            text += name;
            text += ')';
        }
    }
    return text;
}

std::string streamText(std::uint16_t number)
{
    return number == noStream ? std::string("none") : std::to_string(number);
}

std::string sectionOffset(std::uint16_t section, std::uint32_t offset)
{
    std::string text = toHex(section, 4);
    text += ':';
    text += toHex(offset, 8);
    return text;
}

// Names read from a stream (never past maxNameLength), made printable.
std::string nameAt(View view, std::uint64_t offset)
{
    const auto text = view.string(offset, maxNameLength);
    return text ? printable(text->text) : std::string("(unreadable)");
}

// Where the tables -i and -x leave out are written while they are read
// (a DiscardSink).
constexpr std::size_t quietCapacity = 4096;

// A public symbol's name, demangled unless -m asks for it as stored.
std::string publicName(View record, const Options& options)
{
    const auto text = record.string(publicSymbol::name, maxNameLength);
    return text ? printable(displayName(text->text, options.demangle()))
                : std::string("(unreadable)");
}

struct Module {
    std::uint64_t recordAt = 0; // in the DBI stream
    std::uint16_t stream = noStream;
    std::uint32_t symbolBytes = 0;
    std::uint32_t c11Bytes = 0;
    std::uint32_t c13Bytes = 0;
};

class Lister {
public:
    // Tables -i or -x leave out are still read, into quiet: the others need
    // what they hold (the modules, the stream numbers).
    Lister(const pdb::Msf& msf, Output& out, Output& quiet, const Options& options)
        : msf_(msf), listing_(out), quiet_(quiet), out_(&out), options_(options)
    {
    }

    // What each stream holds, as the information and DBI streams say, for
    // the stream directory display; read quietly, before run() lists them.
    std::vector<std::string> streamContents();
    void run();

private:
    Output& out() const { return *out_; }
    bool selected(DebugTable table) const { return options_.debugTableSelected(table); }
    // Where what follows goes: the listing, or quiet for a table left out.
    void show(DebugTable table) { target(selected(table)); }
    void target(bool visible) { out_ = visible && !surveying_ ? &listing_ : &quiet_; }
    std::unique_ptr<Stream> openStream(std::uint32_t number, std::string_view what);
    void listInfo();
    void listDbi();
    void listDbiHeader(View header);
    void listModuleInfo(View substream);
    void listContribution(View entry, std::uint64_t entrySize, const Stream& stream);
    void listSectionContributions(View substream);
    void listSectionMap(View substream);
    void listSourceFiles(View substream);
    void listDebugHeaders(View substream);
    void readNames();
    void readTypeNames();
    bool subsectionsSelected() const;
    void listModuleStreams();
    void listModuleStream(std::uint32_t index, const Module& module);
    std::string moduleName(const Module& module) const;
    std::optional<View> gsiRecords(const Stream& stream, View hash, std::string_view what);
    void listGlobals();
    void listPublics();
    void listSymbolRecords();
    void listTypeStream(std::uint32_t number, std::string_view title, DebugTable records);

    const pdb::Msf& msf_;
    Output& listing_;
    Output& quiet_;
    Output* out_;
    const Options& options_;

    bool surveying_ = false;
    std::vector<std::pair<std::string, std::uint32_t>> namedStreams_;
    std::optional<View> debugHeader_; // in dbi_
    std::optional<std::uint32_t> namesStream_;
    std::unique_ptr<Stream> dbi_;
    std::vector<Module> modules_;
    std::uint16_t globalsStream_ = noStream;
    std::uint16_t publicsStream_ = noStream;
    std::uint16_t symbolsStream_ = noStream;

    std::unique_ptr<Stream> names_;
    std::optional<View> strings_;
    codeview::TypeNames types_;
    codeview::TypeNames ids_;
};

std::vector<std::string> Lister::streamContents()
{
    surveying_ = true;
    target(false);
    listInfo();
    listDbi();
    surveying_ = false;

    std::vector<std::string> names(msf_.streamCount());
    const auto name = [&](std::uint32_t number, std::string text) {
        if (number < names.size() && names[number].empty()) {
            names[number] = std::move(text);
        }
    };
    for (const auto& [streamName, number] : namedStreams_) {
        name(number, "named stream " + streamName);
    }
    name(globalsStream_, "global symbols");
    name(publicsStream_, "public symbols");
    name(symbolsStream_, "symbol records");
    for (std::uint32_t i = 0; i < modules_.size(); ++i) {
        std::string text = "module ";
        text += std::to_string(i);
        text += ": ";
        text += moduleName(modules_[i]);
        name(modules_[i].stream, std::move(text));
    }
    for (std::size_t i = 0; debugHeader_ && i < std::size(debugHeaderStreams); ++i) {
        name(debugHeader_->u16(i * u16Size).value_or(noStream), std::string(debugHeaderStreams[i]));
    }
    for (const auto& [number, what] :
         {std::pair{streamTpi, "TPI hash"}, std::pair{streamIpi, "IPI hash"}}) {
        if (const auto stream = msf_.open(number)) {
            name(stream->view().u16(tpiHeader::hashStreamIndex).value_or(noStream), what);
            name(stream->view().u16(tpiHeader::hashAuxStreamIndex).value_or(noStream),
                 std::string(what) + " (auxiliary)");
        }
    }
    // run() reads them again, for its listing.
    namedStreams_.clear();
    modules_.clear();
    dbi_.reset();
    debugHeader_.reset();
    namesStream_.reset();
    return names;
}

void Lister::run()
{
    show(DebugTable::PdbInformation);
    listInfo();
    show(DebugTable::Modules);
    listDbi();
    target(true);
    if (!options_.has(Switch::NoDebug)) {
        readNames();
        readTypeNames();
        listModuleStreams();
        if (selected(DebugTable::Globals)) {
            listGlobals();
            listSymbolRecords();
        }
        if (selected(DebugTable::Publics)) {
            listPublics();
        }
    }
    listTypeStream(streamTpi, "TPI stream (types)", DebugTable::Types);
    listTypeStream(streamIpi, "IPI stream (ids)", DebugTable::Ids);
}

std::unique_ptr<Stream> Lister::openStream(std::uint32_t number, std::string_view what)
{
    // Opening a stream reads at least a page of it: a forged DBI naming the
    // same module stream thousands of times must run out of budget.
    out().budget().charge(streamOpenCost);
    auto stream = msf_.open(number);
    if (!stream) {
        std::string text(what);
        text += ": stream ";
        text += std::to_string(number);
        text += " is not in the directory";
        report(out(), text);
    }
    return stream;
}

void Lister::listInfo()
{
    heading(out(), "PDB information stream");
    const auto stream = openStream(streamInfo, "the information stream");
    if (!stream) {
        return;
    }
    const View info = stream->view();
    std::array<std::uint8_t, infoHeader::size> raw{};
    if (!info.read(0, raw)) {
        report(out(), "the information stream is shorter than its header", stream->at(0));
        return;
    }
    label(out(), "Version") << versionText(le32(&raw[infoHeader::version]), infoVersions) << '\n';
    label(out(), "Signature") << "0x" << hex(le32(&raw[infoHeader::signature])) << '\n';
    label(out(), "Age") << dec(le32(&raw[infoHeader::age])) << '\n';
    label(out(), "GUID") << guidText(std::span<const std::uint8_t, guid::size>(
                                &raw[infoHeader::guid], guid::size))
                         << '\n';

    // The named stream map.
    const View map =
        info.sub(infoHeader::size, info.size() - std::min(info.size(), infoHeader::size));
    const auto bufferSize = map.u32(namedStreamMap::bufferSize);
    if (!bufferSize || !map.has(namedStreamMap::buffer, *bufferSize)) {
        report(out(), "the named stream map runs past the end of the stream",
               stream->at(infoHeader::size));
        return;
    }
    const View buffer = map.sub(namedStreamMap::buffer, *bufferSize);
    const std::uint64_t table = namedStreamMap::buffer + *bufferSize;
    const auto size = map.u32(table + hashTable::size);
    const auto capacity = map.u32(table + hashTable::capacity);
    std::uint64_t at = table + hashTable::present;
    std::uint32_t present = 0;
    bool whole = size && capacity;
    for (int pass = 0; pass < 2 && whole; ++pass) { // present, then deleted
        const auto words = map.u32(at);
        if (!words || *words > maxBitVectorWords) {
            whole = false;
            break;
        }
        at += wordSize;
        for (std::uint32_t w = 0; w < *words; ++w, at += wordSize) {
            const auto bits = map.u32(at);
            if (!bits) {
                whole = false;
                break;
            }
            if (pass == 0) {
                present += static_cast<std::uint32_t>(std::popcount(*bits));
            }
        }
    }
    if (!whole) {
        report(out(), "the named stream map's hash table is damaged",
               stream->at(map.base() + table));
        return;
    }
    if (present != *size) {
        report(out(),
               "the named stream map holds " + std::to_string(*size) + " names but marks " +
                   std::to_string(present) + " buckets present",
               stream->at(map.base() + table));
    }
    present = std::min(present, maxNamedStreams);
    label(out(), "Named streams") << dec(present) << " (hash capacity " << dec(*capacity) << ")\n";
    for (std::uint32_t i = 0; i < present && !out().budget().exhausted();
         ++i, at += hashTable::entrySize) {
        out().budget().charge(entryCost);
        const auto key = map.u32(at);
        const auto value = map.u32(at + wordSize);
        if (!key || !value) {
            report(out(), "the named stream map ends inside its entries",
                   stream->at(map.base() + at));
            return;
        }
        const std::string name = nameAt(buffer, *key);
        out() << "    " << column(name, 28) << " stream " << dec(*value) << '\n';
        namedStreams_.emplace_back(name, *value);
        if (name == namesStreamName) {
            namesStream_ = *value;
        }
    }
    // The limit of the obsolete name index table, then the feature codes to
    // the end of the stream.
    const auto nameIndexLimit = map.u32(at);
    if (!nameIndexLimit) {
        report(out(), "the named stream map ends before its name index limit",
               stream->at(map.base() + at));
        return;
    }
    if (options_.verbose()) {
        label(out(), "Name index limit") << dec(*nameIndexLimit) << '\n';
    }
    at += wordSize;
    std::uint32_t features = 0;
    for (; map.has(at, wordSize) && features < maxFeatureCodes; at += wordSize, ++features) {
        const std::uint32_t code = map.u32(at).value_or(0);
        label(out(), features == 0 ? "Features" : "");
        const auto known = std::find_if(std::begin(featureCodes), std::end(featureCodes),
                                        [code](const auto& f) { return f.first == code; });
        if (known != std::end(featureCodes)) {
            out() << known->second;
        } else {
            out() << "0x" << hex(code) << " (unknown)";
        }
        out() << '\n';
    }
}

void Lister::listDbi()
{
    heading(out(), "DBI stream");
    dbi_ = openStream(streamDbi, "the DBI stream");
    if (!dbi_) {
        return;
    }
    const View dbi = dbi_->view();
    if (!dbi.has(0, dbiHeader::size)) {
        report(out(), "the DBI stream is shorter than its header", dbi_->at(0));
        return;
    }
    if (dbi.u32(dbiHeader::versionSignature) != dbiNewSignature) {
        report(out(), "the DBI stream has the header of an old version, which is not read",
               dbi_->at(dbiHeader::versionSignature));
        return;
    }
    listDbiHeader(dbi.sub(0, dbiHeader::size));

    // The substreams, one after the other.
    static constexpr std::pair<std::uint64_t, std::string_view> substreams[] = {
        {dbiHeader::modInfoSize, "module information"},
        {dbiHeader::sectionContributionSize, "section contributions"},
        {dbiHeader::sectionMapSize, "section map"},
        {dbiHeader::sourceInfoSize, "source files"},
        {dbiHeader::typeServerMapSize, "type server map"},
        {dbiHeader::ecSubstreamSize, "edit and continue names"},
        {dbiHeader::optionalDbgHeaderSize, "optional debug header"}};
    std::array<View, std::size(substreams)> views{dbi, dbi, dbi, dbi, dbi, dbi, dbi};
    std::uint64_t at = dbiHeader::size;
    for (std::size_t i = 0; i < std::size(substreams); ++i) {
        const auto [field, what] = substreams[i];
        const std::uint32_t raw = dbi.u32(field).value_or(0);
        std::uint64_t size = raw;
        if (raw > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
            report(out(), "the " + std::string(what) + " size is negative", dbi_->at(field));
            size = 0;
        }
        if (!dbi.has(at, size)) {
            report(out(),
                   "the " + std::string(what) + " (" + std::to_string(size) +
                       " bytes) runs past the end of the DBI stream; read up to there",
                   dbi_->at(field));
        }
        views[i] = dbi.sub(at, size);
        at += views[i].size();
    }
    if (options_.verbose()) {
        for (std::size_t i = 0; i < std::size(substreams); ++i) {
            label(out(), std::string(substreams[i].second) + " bytes")
                << dec(views[i].size()) << '\n';
        }
    }
    listModuleInfo(views[0]);
    debugHeader_ = views[6];
    if (surveying_) {
        return;
    }
    target(true);
    if (selected(DebugTable::SectionContributions)) {
        listSectionContributions(views[1]);
    }
    if (selected(DebugTable::SectionMap)) {
        listSectionMap(views[2]);
    }
    if (selected(DebugTable::SourceFiles)) {
        listSourceFiles(views[3]);
    }
    if (selected(DebugTable::DebugHeaderStreams)) {
        listDebugHeaders(views[6]);
    }
}

void Lister::listDbiHeader(View header)
{
    const auto u16 = [&](std::uint64_t at) { return header.u16(at).value_or(0); };
    const auto u32 = [&](std::uint64_t at) { return header.u32(at).value_or(0); };
    label(out(), "Version") << versionText(u32(dbiHeader::versionHeader), dbiVersions) << '\n';
    label(out(), "Age") << dec(u32(dbiHeader::age)) << '\n';
    globalsStream_ = u16(dbiHeader::globalStreamIndex);
    publicsStream_ = u16(dbiHeader::publicStreamIndex);
    symbolsStream_ = u16(dbiHeader::symRecordStream);
    label(out(), "Global symbols stream") << streamText(globalsStream_) << '\n';
    label(out(), "Public symbols stream") << streamText(publicsStream_) << '\n';
    label(out(), "Symbol records stream") << streamText(symbolsStream_) << '\n';
    const std::uint16_t machine = u16(dbiHeader::machine);
    label(out(), "Machine") << "0x" << hex(machine, 4) << ' ' << machineName(machine) << '\n';
    const std::uint16_t flags = u16(dbiHeader::flags);
    label(out(), "Flags") << "0x" << hex(flags, 4);
    if (flags != 0) {
        out() << ' ' << flagNames(flags, dbiFlags);
    }
    out() << '\n';
    if (!options_.verbose()) {
        return;
    }
    const std::uint16_t build = u16(dbiHeader::buildNumber);
    label(out(), "Build number") << dec(static_cast<unsigned>(build >> buildMajorShift) &
                                        buildMajorMask)
                                 << '.' << dec(static_cast<unsigned>(build & buildMinorMask))
                                 << ((build & buildNewFormat) != 0 ? " (new format)" : "") << '\n';
    label(out(), "PDB DLL version") << dec(u16(dbiHeader::pdbDllVersion)) << ", rebuild "
                                    << dec(u16(dbiHeader::pdbDllRbld)) << '\n';
    label(out(), "MFC type server index") << dec(u32(dbiHeader::mfcTypeServerIndex)) << '\n';
}

void Lister::listContribution(View entry, std::uint64_t entrySize, const Stream& stream)
{
    const auto u16 = [&](std::uint64_t at) { return entry.u16(at).value_or(0); };
    const auto u32 = [&](std::uint64_t at) { return entry.u32(at).value_or(0); };
    if (!entry.has(0, entrySize)) {
        report(out(), "a section contribution is cut short", stream.at(entry.base()));
        return;
    }
    const std::uint32_t characteristics = u32(contribution::characteristics);
    out() << sectionOffset(u16(contribution::section), u32(contribution::offset)) << "  "
          << hex(u32(contribution::size)) << "  " << hex(characteristics) << "  module "
          << dec(u16(contribution::moduleIndex), 4);
    if (options_.verbose()) {
        out() << "  data CRC " << hex(u32(contribution::dataCrc)) << "  reloc CRC "
              << hex(u32(contribution::relocCrc));
        if (entrySize == contribution::entrySizeV2) {
            out() << "  COFF section " << dec(u32(contribution::isectCoff));
        }
        out() << "  " << sectionSummary(characteristics);
    }
    out() << '\n';
}

void Lister::listModuleInfo(View substream)
{
    heading(out(), "Modules");
    out() << "  Module  Stream   Symbols    Lines  Files  Name (object or library)\n";
    std::uint64_t at = 0;
    while (at < substream.size() && !out().budget().exhausted()) {
        out().budget().charge(entryCost);
        if (modules_.size() == maxModules) {
            report(out(), "more modules than the limit of " + std::to_string(maxModules),
                   dbi_->at(substream.base() + at));
            break;
        }
        const View record = substream.sub(at, substream.size() - at);
        if (!record.has(0, moduleInfo::moduleName)) {
            report(out(),
                   "module " + std::to_string(modules_.size()) +
                       ": its record runs past the end of the module information",
                   dbi_->at(record.base()));
            break;
        }
        Module module;
        module.recordAt = record.base();
        module.stream = record.u16(moduleInfo::moduleSymStream).value_or(noStream);
        module.symbolBytes = record.u32(moduleInfo::symByteSize).value_or(0);
        module.c11Bytes = record.u32(moduleInfo::c11ByteSize).value_or(0);
        module.c13Bytes = record.u32(moduleInfo::c13ByteSize).value_or(0);
        const auto name = record.string(moduleInfo::moduleName, maxNameLength);
        const auto object =
            name ? record.string(moduleInfo::moduleName + name->text.size() + 1, maxNameLength)
                 : std::nullopt;
        const std::uint32_t index = static_cast<std::uint32_t>(modules_.size());
        const std::uint16_t files = record.u16(moduleInfo::sourceFileCount).value_or(0);
        out() << "  " << dec(index, 6) << "  " << column(streamText(module.stream), 6) << ' '
              << hex(module.symbolBytes) << ' ' << hex(module.c13Bytes) << "  " << dec(files, 5)
              << "  " << (name ? printable(name->text) : std::string());
        if (object && !object->text.empty() && object->text != name->text) {
            out() << "  (" << printable(object->text) << ')';
        }
        out() << '\n';
        if (!name || !name->terminated || !object || !object->terminated) {
            report(out(),
                   "module " + std::to_string(index) +
                       ": its names run past the end of the module information",
                   dbi_->at(record.base() + moduleInfo::moduleName));
            break;
        }
        if (options_.verbose()) {
            const std::uint16_t flags = record.u16(moduleInfo::flags).value_or(0);
            out() << "          flags 0x" << hex(flags, 4)
                  << ((flags & moduleWritten) != 0 ? " written" : "")
                  << ((flags & moduleHasEcInfo) != 0 ? " has-EC-info" : "") << ", type server "
                  << dec(static_cast<unsigned>(flags >> moduleTsmShift)) << ", C11 lines "
                  << hex(module.c11Bytes) << ", source file name index "
                  << dec(record.u32(moduleInfo::sourceFileNameIndex).value_or(0))
                  << ", PDB path name index "
                  << dec(record.u32(moduleInfo::pdbFilePathNameIndex).value_or(0)) << '\n';
            out() << "          contribution ";
            listContribution(record.sub(moduleInfo::sectionContribution, contribution::entrySize),
                             contribution::entrySize, *dbi_);
            out() << "          object " << printable(object->text) << '\n';
        }
        modules_.push_back(module);
        const std::uint64_t end =
            moduleInfo::moduleName + name->text.size() + 1 + object->text.size() + 1;
        at += (end + moduleInfo::alignment - 1) / moduleInfo::alignment * moduleInfo::alignment;
    }
    label(out(), "Modules") << dec(modules_.size()) << '\n';
}

void Lister::listSectionContributions(View substream)
{
    heading(out(), "Section contributions");
    if (substream.size() == 0) {
        return;
    }
    const std::uint32_t version = substream.u32(0).value_or(0);
    std::uint64_t entrySize = contribution::entrySize;
    if (version == contributionVersion2) {
        entrySize = contribution::entrySizeV2;
    } else if (version != contributionVersion60) {
        report(out(), "unknown section contribution version 0x" + toHex(version, 8),
               dbi_->at(substream.base()));
        return;
    }
    label(out(), "Version") << (version == contributionVersion2 ? "2" : "6.0") << '\n';
    const std::uint64_t count = (substream.size() - contributionVersionSize) / entrySize;
    out() << "  Address        Size      Flags     Module\n";
    for (std::uint64_t i = 0; i < count && !out().budget().exhausted(); ++i) {
        out().budget().charge(entryCost);
        out() << "  ";
        listContribution(substream.sub(contributionVersionSize + i * entrySize, entrySize),
                         entrySize, *dbi_);
    }
    if ((substream.size() - contributionVersionSize) % entrySize != 0) {
        report(out(), "the section contributions end in a partial entry",
               dbi_->at(substream.base() + contributionVersionSize + count * entrySize));
    }
}

void Lister::listSectionMap(View substream)
{
    heading(out(), "Section map");
    if (substream.size() == 0) {
        return;
    }
    const std::uint16_t count = substream.u16(sectionMap::count).value_or(0);
    label(out(), "Entries") << dec(count) << " (logical "
                            << dec(substream.u16(sectionMap::logCount).value_or(0)) << ")\n";
    out() << "  Frame  Offset    Length    Flags\n";
    for (std::uint32_t i = 0; i < count && !out().budget().exhausted(); ++i) {
        out().budget().charge(entryCost);
        const std::uint64_t at = sectionMap::entries + std::uint64_t{i} * sectionMap::entrySize;
        const View entry = substream.sub(at, sectionMap::entrySize);
        if (entry.size() < sectionMap::entrySize) {
            report(out(), "the section map ends inside entry " + std::to_string(i),
                   dbi_->at(substream.base() + at));
            return;
        }
        const std::uint16_t flags = entry.u16(sectionMap::flags).value_or(0);
        out() << "  " << dec(entry.u16(sectionMap::frame).value_or(0), 5) << "  "
              << hex(entry.u32(sectionMap::offset).value_or(0)) << "  "
              << hex(entry.u32(sectionMap::sectionLength).value_or(0)) << "  "
              << flagNames(flags, sectionMapFlags);
        if (options_.verbose()) {
            out() << "  overlay " << dec(entry.u16(sectionMap::ovl).value_or(0)) << ", group "
                  << dec(entry.u16(sectionMap::group).value_or(0)) << ", name "
                  << dec(entry.u16(sectionMap::sectionName).value_or(0)) << ", class "
                  << dec(entry.u16(sectionMap::className).value_or(0));
        }
        out() << '\n';
    }
}

void Lister::listSourceFiles(View substream)
{
    heading(out(), "Source files");
    if (substream.size() == 0) {
        return;
    }
    const std::uint16_t moduleCount = substream.u16(fileInfo::numModules).value_or(0);
    const std::uint64_t countsAt = fileInfo::moduleIndices + std::uint64_t{moduleCount} * u16Size;
    const std::uint64_t offsetsAt = countsAt + std::uint64_t{moduleCount} * u16Size;
    std::uint64_t total = 0;
    for (std::uint32_t m = 0; m < moduleCount; ++m) {
        total += substream.u16(countsAt + std::uint64_t{m} * u16Size).value_or(0);
    }
    if (!substream.has(offsetsAt, total * wordSize)) {
        report(out(), "the source file table runs past the end of its substream",
               dbi_->at(substream.base()));
        return;
    }
    if (total > maxSourceFiles) {
        report(out(), "more source files than the limit of " + std::to_string(maxSourceFiles),
               dbi_->at(substream.base()));
        return;
    }
    label(out(), "Files") << dec(total) << " (the 16-bit count says "
                          << dec(substream.u16(fileInfo::numSourceFiles).value_or(0)) << ")\n";
    const View names = substream.sub(offsetsAt + total * wordSize, substream.size());
    std::uint64_t file = 0;
    for (std::uint32_t m = 0; m < moduleCount && !out().budget().exhausted(); ++m) {
        const std::uint16_t count =
            substream.u16(countsAt + std::uint64_t{m} * u16Size).value_or(0);
        out() << "  Module " << dec(m) << ": " << dec(count) << " files\n";
        for (std::uint32_t f = 0; f < count && !out().budget().exhausted(); ++f, ++file) {
            out().budget().charge(entryCost);
            const std::uint32_t offset = substream.u32(offsetsAt + file * wordSize).value_or(0);
            out() << "    " << nameAt(names, offset) << '\n';
        }
    }
}

void Lister::listDebugHeaders(View substream)
{
    heading(out(), "Optional debug header streams");
    for (std::size_t i = 0; i < std::size(debugHeaderStreams); ++i) {
        const auto number = substream.u16(i * u16Size);
        if (!number) {
            break;
        }
        if (*number != noStream || options_.verbose()) {
            label(out(), debugHeaderStreams[i]) << streamText(*number) << '\n';
        }
    }
}

// The /names stream's strings, where the modules' line tables find their
// file names.
void Lister::readNames()
{
    if (!namesStream_) {
        return;
    }
    names_ = openStream(*namesStream_, "the /names stream");
    if (!names_) {
        return;
    }
    const View names = names_->view();
    const auto byteSize = names.u32(namesHeader::byteSize);
    if (names.u32(namesHeader::signature) != namesSignature || !byteSize ||
        !names.has(namesHeader::size, *byteSize)) {
        report(out(), "the /names stream has no valid header", names_->at(0));
        return;
    }
    strings_ = names.sub(namesHeader::size, *byteSize);
}

void Lister::readTypeNames()
{
    for (const bool ids : {false, true}) {
        const auto stream = msf_.open(ids ? streamIpi : streamTpi);
        if (!stream) {
            continue;
        }
        const View view = stream->view();
        const std::uint32_t headerSize = view.u32(tpiHeader::headerSize).value_or(0);
        const std::uint32_t bytes = view.u32(tpiHeader::typeRecordBytes).value_or(0);
        const std::uint32_t first =
            view.u32(tpiHeader::typeIndexBegin).value_or(codeview::firstTypeIndex);
        (ids ? ids_ : types_) = codeview::TypeNames::read(view.sub(headerSize, bytes), first);
    }
}

std::string Lister::moduleName(const Module& module) const
{
    return nameAt(dbi_->view(), module.recordAt + moduleInfo::moduleName);
}

// Whether any of the tables a module's C13 subsections hold is listed.
bool Lister::subsectionsSelected() const
{
    return selected(DebugTable::Lines) || selected(DebugTable::FileChecksums) ||
           selected(DebugTable::StringTable) || selected(DebugTable::InlineeLines) ||
           selected(DebugTable::OtherSubsections);
}

void Lister::listModuleStreams()
{
    if (!selected(DebugTable::Symbols) && !subsectionsSelected()) {
        return;
    }
    for (std::uint32_t i = 0; i < modules_.size() && !out().budget().exhausted(); ++i) {
        if (modules_[i].stream != noStream) {
            listModuleStream(i, modules_[i]);
        }
    }
}

void Lister::listModuleStream(std::uint32_t index, const Module& module)
{
    std::string title = "Module ";
    title += std::to_string(index);
    title += " (stream ";
    title += std::to_string(module.stream);
    title += "): ";
    title += moduleName(module);
    heading(out(), title);
    const auto stream = openStream(module.stream, "module " + std::to_string(index));
    if (!stream) {
        return;
    }
    const View view = stream->view();
    const std::uint64_t wanted =
        std::uint64_t{module.symbolBytes} + module.c11Bytes + module.c13Bytes;
    if (wanted > view.size()) {
        report(out(),
               "its symbols and lines (" + std::to_string(wanted) +
                   " bytes) run past the end of its stream (" + std::to_string(view.size()) +
                   " bytes); read up to there",
               stream->at(0));
    }
    if (module.symbolBytes != 0 && module.symbolBytes < moduleSignatureSize) {
        report(out(),
               "the symbols' size " + std::to_string(module.symbolBytes) +
                   " leaves no room for their signature",
               dbi_->at(module.recordAt + moduleInfo::symByteSize));
    } else if (module.symbolBytes != 0 && selected(DebugTable::Symbols)) {
        const auto signature = view.u32(0);
        if (signature != moduleSignatureC13) {
            report(out(),
                   "the symbols' signature is " + std::to_string(signature.value_or(0)) +
                       ", not 4 (C13)",
                   stream->at(0));
        }
        out() << "Symbols (" << dec(module.symbolBytes - moduleSignatureSize) << " bytes)\n";
        const Output::OffsetScope inFile(out(), stream->offsets());
        codeview::listSymbols(
            view.sub(moduleSignatureSize, module.symbolBytes - moduleSignatureSize), out(),
            options_, types_, ids_);
    }
    if (module.c11Bytes != 0) {
        out() << "C11 lines (" << dec(module.c11Bytes) << " bytes), an old format, not decoded\n";
    }
    if (module.c13Bytes != 0 && subsectionsSelected()) {
        out() << "C13 lines and other subsections (" << dec(module.c13Bytes) << " bytes)\n";
        const View lines =
            view.sub(std::uint64_t{module.symbolBytes} + module.c11Bytes, module.c13Bytes);
        codeview::FileTables files;
        files.strings = strings_;
        codeview::findFileTables(lines, files);
        const Output::OffsetScope inFile(out(), stream->offsets());
        codeview::listSubsections(lines, out(), options_, types_, ids_, files);
    }
}

// The hash records of a global symbol hash, after its header; nullopt (with
// a report) when the header is damaged.
std::optional<View> Lister::gsiRecords(const Stream& stream, View hash, std::string_view what)
{
    const auto signature = hash.u32(gsiHeader::verSignature);
    const auto version = hash.u32(gsiHeader::verHeader);
    const auto size = hash.u32(gsiHeader::hashRecordsSize);
    if (!signature || !version || !size || !hash.has(gsiHeader::size, 0)) {
        report(out(), "the " + std::string(what) + " hash header is cut short",
               stream.at(hash.base()));
        return std::nullopt;
    }
    if (*signature != gsiSignature || *version != gsiVersion) {
        report(out(), "the " + std::string(what) + " hash header has an unknown version",
               stream.at(hash.base()));
        return std::nullopt;
    }
    if (!hash.has(gsiHeader::size, *size)) {
        report(out(), "the " + std::string(what) + " hash records run past the end of the stream",
               stream.at(hash.base() + gsiHeader::hashRecordsSize));
    }
    if (options_.verbose()) {
        label(out(), "Hash records bytes") << dec(*size) << '\n';
        label(out(), "Hash buckets bytes")
            << dec(hash.u32(gsiHeader::bucketsSize).value_or(0)) << '\n';
    }
    return hash.sub(gsiHeader::size, *size);
}

void Lister::listGlobals()
{
    heading(out(), "Global symbols");
    if (globalsStream_ == noStream) {
        return;
    }
    const auto stream = openStream(globalsStream_, "the global symbols");
    const auto symbols = openStream(symbolsStream_, "the symbol records");
    if (!stream || !symbols) {
        return;
    }
    const auto records = gsiRecords(*stream, stream->view(), "global symbol");
    if (!records) {
        return;
    }
    // The records themselves are listed with the symbol record stream;
    // here each hash record must point at one.
    const std::uint64_t count = records->size() / hashRecord::size;
    label(out(), "Symbols") << dec(count) << '\n';
    const View all = symbols->view();
    for (std::uint64_t i = 0; i < count && !out().budget().exhausted(); ++i) {
        out().budget().charge(entryCost);
        const std::uint32_t offset =
            records->u32(i * hashRecord::size + hashRecord::offset).value_or(0);
        if (offset == 0 || !all.u16(offset - 1)) {
            report(out(), "global symbol " + std::to_string(i) + " points past the symbol records",
                   stream->at(records->base() + i * hashRecord::size));
        }
    }
}

void Lister::listSymbolRecords()
{
    if (symbolsStream_ == noStream) {
        return;
    }
    std::string title = "Symbol records (stream ";
    title += std::to_string(symbolsStream_);
    title += ')';
    heading(out(), title);
    if (const auto symbols = openStream(symbolsStream_, "the symbol records")) {
        const Output::OffsetScope inFile(out(), symbols->offsets());
        codeview::listSymbols(symbols->view(), out(), options_, types_, ids_);
    }
}

void Lister::listPublics()
{
    heading(out(), "Public symbols");
    if (publicsStream_ == noStream) {
        return;
    }
    const auto stream = openStream(publicsStream_, "the public symbols");
    const auto symbols = openStream(symbolsStream_, "the symbol records");
    if (!stream || !symbols) {
        return;
    }
    const View view = stream->view();
    if (!view.has(0, publicsHeader::size)) {
        report(out(), "the publics stream is shorter than its header", stream->at(0));
        return;
    }
    const std::uint32_t hashBytes = view.u32(publicsHeader::symHash).value_or(0);
    const std::uint32_t mapBytes = view.u32(publicsHeader::addrMap).value_or(0);
    if (options_.verbose()) {
        label(out(), "Thunks") << dec(view.u32(publicsHeader::numThunks).value_or(0)) << " of "
                               << dec(view.u32(publicsHeader::sizeOfThunk).value_or(0))
                               << " bytes, table at "
                               << sectionOffset(
                                      view.u16(publicsHeader::isectThunkTable).value_or(0),
                                      view.u32(publicsHeader::offThunkTable).value_or(0))
                               << '\n';
        label(out(), "Sections") << dec(view.u32(publicsHeader::numSections).value_or(0)) << '\n';
        label(out(), "Address map entries") << dec(mapBytes / addressMapEntrySize) << '\n';
    }
    const auto records =
        gsiRecords(*stream, view.sub(publicsHeader::size, hashBytes), "public symbol");
    if (!records) {
        return;
    }
    const std::uint64_t count = records->size() / hashRecord::size;
    label(out(), "Symbols") << dec(count) << '\n';
    out() << "  Address        Flags     Name\n";
    const View all = symbols->view();
    for (std::uint64_t i = 0; i < count && !out().budget().exhausted(); ++i) {
        out().budget().charge(entryCost);
        const std::uint32_t offset =
            records->u32(i * hashRecord::size + hashRecord::offset).value_or(0);
        const std::uint64_t at = offset != 0 ? offset - 1 : all.size();
        const auto length = all.u16(at + codeview::recordHeader::length);
        const auto kind = all.u16(at + codeview::recordHeader::kind);
        if (!length || !kind) {
            report(out(), "public symbol " + std::to_string(i) + " points past the symbol records",
                   stream->at(records->base() + i * hashRecord::size));
            continue;
        }
        // The length counts what follows the length field, the kind on.
        const View record = all.sub(at, codeview::recordHeader::kind + *length);
        if (*kind != codeview::publicSymbolKind || !record.has(0, publicSymbol::name)) {
            report(out(),
                   "public symbol " + std::to_string(i) + " is not an S_PUB32 record (kind 0x" +
                       toHex(*kind, 4) + ")",
                   symbols->at(at));
            continue;
        }
        const std::uint32_t flags = record.u32(publicSymbol::flags).value_or(0);
        out() << "  "
              << sectionOffset(record.u16(publicSymbol::segment).value_or(0),
                               record.u32(publicSymbol::offset).value_or(0))
              << "  " << column(flagNames(flags, codeview::publicSymbolFlags()), 8) << "  "
              << publicName(record, options_) << '\n';
    }
}

void Lister::listTypeStream(std::uint32_t number, std::string_view title, DebugTable records)
{
    const bool listRecords = selected(records) && !options_.has(Switch::NoDebug);
    if (!selected(DebugTable::TypeStreamHeaders) && !listRecords) {
        return;
    }
    target(true);
    heading(out(), title);
    const auto stream = msf_.open(number);
    if (!stream) {
        out() << "  (no such stream)\n";
        return;
    }
    show(DebugTable::TypeStreamHeaders);
    const View view = stream->view();
    if (!view.has(0, tpiHeader::size)) {
        report(out(), "the stream is shorter than its header", stream->at(0));
        return;
    }
    const auto u16 = [&](std::uint64_t at) { return view.u16(at).value_or(0); };
    const auto u32 = [&](std::uint64_t at) { return view.u32(at).value_or(0); };
    const std::uint32_t headerSize = u32(tpiHeader::headerSize);
    const std::uint32_t begin = u32(tpiHeader::typeIndexBegin);
    const std::uint32_t end = u32(tpiHeader::typeIndexEnd);
    const std::uint32_t bytes = u32(tpiHeader::typeRecordBytes);
    label(out(), "Version") << versionText(u32(tpiHeader::version), tpiVersions) << '\n';
    label(out(), "Index range") << "0x" << hex(begin, 4) << "..0x" << hex(end, 4) << " ("
                                << dec(end >= begin ? end - begin : 0) << " records)\n";
    label(out(), "Record bytes") << dec(bytes) << '\n';
    label(out(), "Hash stream") << streamText(u16(tpiHeader::hashStreamIndex)) << ", auxiliary "
                                << streamText(u16(tpiHeader::hashAuxStreamIndex)) << '\n';
    if (options_.verbose()) {
        label(out(), "Header size") << dec(headerSize) << '\n';
        label(out(), "Hash key size") << dec(u32(tpiHeader::hashKeySize)) << ", buckets "
                                      << dec(u32(tpiHeader::numHashBuckets)) << '\n';
        label(out(), "Hash values") << "offset " << dec(u32(tpiHeader::hashValueOffset))
                                    << ", length " << dec(u32(tpiHeader::hashValueLength)) << '\n';
        label(out(), "Index offsets")
            << "offset " << dec(u32(tpiHeader::indexOffsetOffset)) << ", length "
            << dec(u32(tpiHeader::indexOffsetLength)) << '\n';
        label(out(), "Hash adjusters") << "offset " << dec(u32(tpiHeader::hashAdjOffset))
                                       << ", length " << dec(u32(tpiHeader::hashAdjLength)) << '\n';
    }
    if (end < begin) {
        report(out(), "the index range ends before it begins", stream->at(tpiHeader::typeIndexEnd));
    }
    if (!view.has(headerSize, bytes)) {
        report(out(), "the records run past the end of the stream; read up to there",
               stream->at(tpiHeader::typeRecordBytes));
    }
    if (!listRecords) {
        return;
    }
    // Id records refer to types; the type table names them both ways.
    target(true);
    const Output::OffsetScope inFile(out(), stream->offsets());
    codeview::listTypes(view.sub(headerSize, bytes), begin, out(), options_, types_);
}

} // namespace

std::optional<PdbFile> PdbFile::open(View file)
{
    if (!pdb::isMsf(file)) {
        return std::nullopt;
    }
    const auto super = pdb::readSuperBlock(file);
    if (!super) {
        return std::nullopt;
    }
    return PdbFile(file, *super);
}

std::string PdbFile::description() const
{
    std::string text = "program database (MSF 7.00), ";
    text += std::to_string(super_.blockSize);
    text += "-byte blocks";
    return text;
}

void PdbFile::listSuperBlock(Output& out) const
{
    heading(out, "MSF superblock");
    label(out, "Block size") << dec(super_.blockSize) << '\n';
    label(out, "Free block map block") << dec(super_.freeBlockMapBlock) << '\n';
    label(out, "Blocks") << dec(super_.numBlocks) << '\n';
    label(out, "Directory bytes") << dec(super_.numDirectoryBytes) << '\n';
    label(out, "Block map block") << dec(super_.blockMapAddr) << " (file offset 0x"
                                  << hex(std::uint64_t{super_.blockMapAddr} * super_.blockSize, 1)
                                  << ")\n";
    if (super_.freeBlockMapBlock != 1 && super_.freeBlockMapBlock != 2) {
        report(out, "the free block map block should be 1 or 2",
               file_.base() + pdb::superBlock::freeBlockMapBlock);
    }
}

void PdbFile::list(Output& out, const Options& options) const
{
    DiscardSink discard;
    Output quiet(discard, out.budget(), quietCapacity);
    const bool directory = options.debugTableSelected(DebugTable::StreamDirectory);
    if (directory) {
        listSuperBlock(out);
        heading(out, "Stream directory");
    }
    const pdb::Msf msf(file_, super_, directory ? out : quiet);
    if (!msf.usable()) {
        return;
    }
    Lister lister(msf, out, quiet, options);
    if (directory) {
        msf.list(out, options.verbose(), lister.streamContents());
    }
    lister.run();
}

} // namespace tdump
