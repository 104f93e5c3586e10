#include <algorithm>
#include <array>
#include <set>

#include "demangle/demangle.h"
#include "omf/module_reader.h"
#include "omf/omf.h"
#include "omf/records.h"
#include "text.h"

namespace tdump {
namespace {

// The library header record: page size minus 3, the dictionary's offset
// and number of blocks, flags.
namespace libraryHeader {
constexpr std::uint64_t length = 1;
constexpr std::uint64_t dictionaryOffset = 3;
constexpr std::uint64_t dictionaryBlocks = 7;
constexpr std::uint64_t flags = 9;
} // namespace libraryHeader
constexpr std::uint32_t minPageSize = 16;
constexpr std::uint32_t maxPageSize = 32768;
constexpr std::uint8_t flagCaseSensitive = 0x01;

// The dictionary: blocks of 512 bytes, each with 37 buckets and the free
// space byte (the next free word, or FF when the block is full) before its
// entries. A bucket holds the word offset of an entry in its block: the
// name (its length, then its characters) and the page of the module.
constexpr std::uint64_t blockSize = 512;
constexpr unsigned bucketCount = 37;
constexpr std::size_t freeSpace = bucketCount;
constexpr std::uint8_t blockFull = 0xFF;
constexpr std::size_t firstEntry = bucketCount + 1;
constexpr std::size_t entryPageSize = 2;
// Microsoft's librarian enters each module's name too, ending in '!'.
constexpr char moduleNameMark = '!';
constexpr std::uint8_t extendedDictionary = 0xF2;

// Module page numbers have 16 bits.
constexpr std::size_t maxModules = 0x10000;

struct Module {
    std::uint64_t offset = 0;
    std::uint64_t end = 0;
    omf::ModuleSummary summary;
};

struct ModuleWalk {
    std::vector<Module> modules;
    std::optional<std::uint64_t> endRecord; // the library end record's offset
};

void moduleLine(Output& out, View view, const OmfLibraryHeader& header, std::size_t number,
                std::uint64_t offset)
{
    out << "  Module " << dec(number) << "  offset " << hex(view.base() + offset) << "  page "
        << dec(offset / header.pageSize) << "  " << printable(omf::translatorName(view, offset))
        << '\n';
}

// Reads the modules from the second page on, each from its translator
// header to its end record with a reader of its own: heads each with its
// line when the visitor asks for it, and hands the visitor each record and
// what the module defines.
ModuleWalk walkModules(View view, const OmfLibraryHeader& header, Output& out,
                       const Options& options, const omf::RecordVisitor& visitor)
{
    ModuleWalk walk;
    const std::uint64_t page = header.pageSize;
    const std::uint64_t limit =
        header.dictionaryOffset > page && header.dictionaryOffset < view.size()
            ? header.dictionaryOffset
            : view.size();
    std::uint64_t at = page;
    while (at < limit && walk.modules.size() < maxModules && !out.budget().exhausted()) {
        const std::uint8_t type = view.u8(at).value_or(0);
        if (type == omf::recordType::libraryEnd) {
            walk.endRecord = at;
            break;
        }
        if (type != omf::recordType::theadr && type != omf::recordType::lheadr) {
            report(out,
                   "page " + std::to_string(at / page) + " starts with " + toHex(type, 2) +
                       ", neither a module header (THEADR) nor the library end record (F1): "
                       "no more modules are read",
                   view.base() + at);
            break;
        }
        if (visitor.headModules) {
            moduleLine(out, view, header, walk.modules.size() + 1, at);
        }
        Module m;
        m.offset = at;
        omf::ModuleReader reader(view, out, options);
        bool ended = false;
        std::optional<std::uint64_t> endRecord;
        std::optional<std::uint64_t> padding;
        const std::uint64_t next =
            omf::walkRecords(view, at, limit, out, [&](const omf::Record& r) {
                if (r.type == omf::recordType::libraryEnd) {
                    endRecord = r.offset;
                    return false;
                }
                // No record has type 0: the zeros that pad a module to its
                // page's end, after a module that lacks its end record.
                if (r.type == 0) {
                    padding = r.offset;
                    return false;
                }
                reader.take(r, visitor.record(r));
                ended = omf::isModuleEnd(r);
                return !ended;
            });
        m.end = endRecord.value_or(padding.value_or(next));
        if (!ended) {
            report(out, "the module ends without its end record (MODEND)", view.base() + m.end);
        }
        m.summary = reader.summary();
        if (visitor.moduleRead) {
            visitor.moduleRead(m.summary);
        }
        at = (m.end + page - 1) / page * page;
        walk.modules.push_back(std::move(m));
        if (endRecord) {
            walk.endRecord = endRecord;
            break;
        }
    }
    return walk;
}

// The walk the listings of records take through the library's modules.
omf::RecordWalk libraryWalk(View view, const OmfLibraryHeader& header, Output& out,
                            const Options& options)
{
    return [view, header, &out, &options](const omf::RecordVisitor& visitor) {
        walkModules(view, header, out, options, visitor);
    };
}

bool isPrime(unsigned n)
{
    if (n < 2) {
        return false;
    }
    for (unsigned d = 2; d * d <= n; ++d) {
        if (n % d == 0) {
            return false;
        }
    }
    return true;
}

std::uint16_t rotateLeft2(std::uint16_t v)
{
    return static_cast<std::uint16_t>((v << 2) | (v >> 14));
}

std::uint16_t rotateRight2(std::uint16_t v)
{
    return static_cast<std::uint16_t>((v >> 2) | (v << 14));
}

// Where the dictionary puts a name: a block and a bucket to look in first,
// and the steps to the next block and bucket. The name is hashed as it is
// stored, its length byte first, from both ends at once; case does not count.
struct DictionaryHash {
    unsigned block = 0;
    unsigned blockDelta = 0;
    unsigned bucket = 0;
    unsigned bucketDelta = 0;
};

DictionaryHash dictionaryHash(std::string_view name, unsigned blocks)
{
    constexpr std::uint16_t blank = 0x20;
    const std::size_t length = name.size();
    const auto at = [&](std::size_t i) {
        return static_cast<std::uint16_t>(static_cast<unsigned char>(name[i]) | blank);
    };
    // From the front: the length byte, then every character but the last;
    // from the back: every character down to the first.
    auto blockIndex = static_cast<std::uint16_t>(length | blank);
    auto bucketDelta = blockIndex;
    std::uint16_t blockDelta = 0;
    std::uint16_t bucketIndex = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint16_t back = at(length - 1 - i);
        bucketIndex = static_cast<std::uint16_t>(rotateRight2(bucketIndex) ^ back);
        blockDelta = static_cast<std::uint16_t>(rotateLeft2(blockDelta) ^ back);
        if (i + 1 < length) {
            const std::uint16_t front = at(i);
            blockIndex = static_cast<std::uint16_t>(rotateLeft2(blockIndex) ^ front);
            bucketDelta = static_cast<std::uint16_t>(rotateRight2(bucketDelta) ^ front);
        }
    }
    DictionaryHash h;
    h.block = blockIndex % blocks;
    h.blockDelta = std::max(blockDelta % blocks, 1u);
    h.bucket = bucketIndex % bucketCount;
    h.bucketDelta = std::max(bucketDelta % bucketCount, 1u);
    return h;
}

// The dictionary of a library, read and checked against its modules.
class Dictionary {
public:
    Dictionary(View view, const OmfLibraryHeader& header, const std::vector<Module>& modules,
               Output& out, const Options& options)
        : view_(view), header_(header), modules_(modules), out_(out), options_(options)
    {
    }

    void list();

private:
    struct Block {
        std::array<std::uint8_t, blockSize> bytes{};
        // A lookup goes on to the next block: it is full, or every bucket is taken.
        bool passable = false;
    };

    std::string key(std::string_view name) const
    {
        return (header_.flags & flagCaseSensitive) != 0 ? std::string(name) : upperCase(name);
    }
    std::optional<std::size_t> moduleAtPage(std::uint16_t page) const;
    void entry(std::size_t blockNumber, unsigned bucket);
    std::optional<std::string> lookupProblem(std::string_view name, std::size_t blockNumber,
                                             unsigned bucket) const;

    View view_;
    const OmfLibraryHeader& header_;
    const std::vector<Module>& modules_;
    Output& out_;
    const Options& options_;
    std::vector<Block> blocks_;
    std::set<std::pair<std::string, std::size_t>> entered_; // name key, module
    std::size_t entries_ = 0;
};

std::optional<std::size_t> Dictionary::moduleAtPage(std::uint16_t page) const
{
    const std::uint64_t offset = std::uint64_t{page} * header_.pageSize;
    const auto found =
        std::lower_bound(modules_.begin(), modules_.end(), offset,
                         [](const Module& m, std::uint64_t o) { return m.offset < o; });
    if (found == modules_.end() || found->offset != offset) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - modules_.begin());
}

// Whether a lookup of the name finds the entry in this block and bucket:
// it starts where the hash says, steps through the buckets of a block
// until it meets an empty one, and goes on to the next block only when the
// block is full or all its buckets are taken.
std::optional<std::string> Dictionary::lookupProblem(std::string_view name, std::size_t blockNumber,
                                                     unsigned bucket) const
{
    const DictionaryHash h = dictionaryHash(name, header_.dictionaryBlocks);
    const std::string start = "the hash puts it at block " + std::to_string(h.block) + " bucket " +
                              std::to_string(h.bucket) + " (steps " + std::to_string(h.blockDelta) +
                              " and " + std::to_string(h.bucketDelta) + ")";
    unsigned block = h.block;
    for (unsigned i = 0; i < header_.dictionaryBlocks; ++i) {
        out_.budget().charge(1);
        if (block >= blocks_.size()) {
            return start + ", and a lookup reaches block " + std::to_string(block) +
                   ", past the end of the file, first";
        }
        if (block == blockNumber) {
            unsigned b = h.bucket;
            for (unsigned j = 0; j < bucketCount; ++j) {
                if (b == bucket) {
                    return std::nullopt;
                }
                if (blocks_[block].bytes[b] == 0) {
                    return start + ", and a lookup finds bucket " + std::to_string(b) +
                           " of block " + std::to_string(block) + " empty first";
                }
                b = (b + h.bucketDelta) % bucketCount;
            }
        }
        if (!blocks_[block].passable) {
            return start + ", and a lookup stops in block " + std::to_string(block) +
                   ", which has room and empty buckets";
        }
        block = (block + h.blockDelta) % header_.dictionaryBlocks;
    }
    return start + ", and a lookup never reaches block " + std::to_string(blockNumber);
}

void Dictionary::entry(std::size_t blockNumber, unsigned bucket)
{
    const Block& block = blocks_[blockNumber];
    const std::uint64_t blockOffset = header_.dictionaryOffset + blockNumber * blockSize;
    const std::size_t at = std::size_t{block.bytes[bucket]} * 2;
    if (at < firstEntry) {
        report(out_,
               "bucket " + std::to_string(bucket) + " of block " + std::to_string(blockNumber) +
                   " points at " + toHex(at, 3) + ", inside the buckets",
               view_.base() + blockOffset + bucket);
        return;
    }
    const std::size_t length = block.bytes[at];
    if (at + 1 + length + entryPageSize > blockSize) {
        report(out_,
               "the entry at " + toHex(at, 3) + " of block " + std::to_string(blockNumber) +
                   " runs past the end of the block",
               view_.base() + blockOffset + at);
        return;
    }
    ++entries_;
    const std::string name(reinterpret_cast<const char*>(&block.bytes[at + 1]), length);
    const std::uint16_t page = le16(&block.bytes[at + 1 + length]);
    const bool moduleName = name.ends_with(moduleNameMark);
    out_ << "  block " << dec(blockNumber, 4) << "  bucket " << dec(bucket, 2) << "  page "
         << dec(page, 5) << "  "
         << (moduleName ? printable(name) + "  (module name)"
                        : displayName(name, options_.demangle()));
    if (options_.verbose() && length != 0) {
        const DictionaryHash h = dictionaryHash(name, header_.dictionaryBlocks);
        out_ << "  hash block " << dec(h.block) << "+" << dec(h.blockDelta) << " bucket "
             << dec(h.bucket) << "+" << dec(h.bucketDelta);
    }
    out_ << '\n';
    const std::uint64_t where = view_.base() + blockOffset + at;
    const auto module = moduleAtPage(page);
    if (!module) {
        const bool past = std::uint64_t{page} * header_.pageSize >= view_.size();
        report(out_,
               "page " + std::to_string(page) + " does not start a module" +
                   (past ? ": it lies past the end of the file" : ""),
               where);
    } else if (!moduleName) {
        const omf::ModuleSummary& summary = modules_[*module].summary;
        const std::string wanted = key(name);
        const auto same = [&](std::string_view defined) { return key(defined) == wanted; };
        const bool defined =
            std::any_of(summary.publics.begin(), summary.publics.end(),
                        [&](const omf::PublicName& p) { return same(p.name); }) ||
            std::any_of(summary.otherNames.begin(), summary.otherNames.end(), same);
        if (!defined) {
            report(out_,
                   "module " + printable(summary.name) + " (page " + std::to_string(page) +
                       ") defines no public " + printable(name),
                   where);
        }
        entered_.insert({wanted, *module});
    }
    if (length == 0) {
        report(out_, "the entry's name is empty", where);
    } else if (const auto problem = lookupProblem(name, blockNumber, bucket)) {
        report(out_, "not where the hash puts it: " + *problem, where);
    }
}

void Dictionary::list()
{
    heading(out_, "Dictionary");
    const std::uint64_t offset = header_.dictionaryOffset;
    if (header_.dictionaryBlocks == 0) {
        out_ << "  (no dictionary blocks)\n";
    } else if (offset >= view_.size()) {
        report(out_,
               "the dictionary offset " + toHex(offset, 8) + " lies past the end of the file (" +
                   std::to_string(view_.size()) + " bytes)",
               view_.base() + libraryHeader::dictionaryOffset);
    } else {
        const std::uint64_t present =
            std::min<std::uint64_t>(header_.dictionaryBlocks, (view_.size() - offset) / blockSize);
        if (present < header_.dictionaryBlocks) {
            report(out_,
                   "the dictionary's " + std::to_string(header_.dictionaryBlocks) +
                       " blocks run past the end of the file: " + std::to_string(present) +
                       " are there",
                   view_.base() + offset);
        }
        blocks_.resize(static_cast<std::size_t>(present));
        for (std::size_t b = 0; b < blocks_.size(); ++b) {
            Block& block = blocks_[b];
            if (!view_.read(offset + b * blockSize, block.bytes)) {
                blocks_.resize(b);
                break;
            }
            out_.budget().charge(blockSize);
            const bool allTaken =
                std::all_of(block.bytes.begin(), block.bytes.begin() + bucketCount,
                            [](std::uint8_t v) { return v != 0; });
            block.passable = block.bytes[freeSpace] == blockFull || allTaken;
        }
        for (std::size_t b = 0; b < blocks_.size() && !out_.budget().exhausted(); ++b) {
            if (options_.verbose()) {
                const std::uint8_t free = blocks_[b].bytes[freeSpace];
                out_ << "  block " << dec(b, 4) << ": "
                     << (free == blockFull ? std::string("full")
                                           : "free space from " + toHex(std::size_t{free} * 2, 3))
                     << '\n';
            }
            for (unsigned bucket = 0; bucket < bucketCount; ++bucket) {
                if (blocks_[b].bytes[bucket] != 0) {
                    entry(b, bucket);
                }
            }
        }
        out_ << "  " << dec(entries_) << " entries in " << dec(blocks_.size()) << " blocks\n";
        const std::uint64_t after = offset + std::uint64_t{header_.dictionaryBlocks} * blockSize;
        if (after < view_.size()) {
            out_ << "  " << dec(view_.size() - after) << " bytes follow the dictionary"
                 << (view_.u8(after) == extendedDictionary ? " (an extended dictionary)" : "")
                 << '\n';
        }
    }
    // Every public name should have its entry.
    for (std::size_t m = 0; m < modules_.size() && !out_.budget().exhausted(); ++m) {
        for (const omf::PublicName& p : modules_[m].summary.publics) {
            out_.budget().charge(entryCost);
            if (entered_.count({key(p.name), m}) == 0) {
                report(out_,
                       "public " + printable(p.name) + " of module " +
                           printable(modules_[m].summary.name) + " has no dictionary entry",
                       view_.base() + modules_[m].offset);
            }
        }
    }
}

} // namespace

std::optional<OmfLibraryHeader> readOmfLibraryHeader(View view)
{
    const auto type = view.u8(0);
    const auto length = view.u16(libraryHeader::length);
    const auto offset = view.u32(libraryHeader::dictionaryOffset);
    const auto blocks = view.u16(libraryHeader::dictionaryBlocks);
    const auto flags = view.u8(libraryHeader::flags);
    if (!type || *type != omf::recordType::libraryHeader || !length || !offset || !blocks ||
        !flags) {
        return std::nullopt;
    }
    const std::uint32_t pageSize = std::uint32_t{*length} + 3;
    if (pageSize < minPageSize || pageSize > maxPageSize || (pageSize & (pageSize - 1)) != 0) {
        return std::nullopt;
    }
    return OmfLibraryHeader{pageSize, *offset, *blocks, *flags};
}

std::string OmfLibrary::description() const
{
    return "OMF library, page size " + std::to_string(header_.pageSize) + ", " +
           std::to_string(header_.dictionaryBlocks) + " dictionary blocks";
}

void OmfLibrary::listLibrary(Output& out, const Options& options) const
{
    heading(out, "OMF library");
    label(out, "Page size") << dec(header_.pageSize) << '\n';
    label(out, "Dictionary offset") << "0x" << hex(header_.dictionaryOffset) << '\n';
    label(out, "Dictionary blocks") << dec(header_.dictionaryBlocks) << '\n';
    label(out, "Flags") << hex(header_.flags, 2)
                        << ((header_.flags & flagCaseSensitive) != 0 ? " (case-sensitive)"
                                                                     : " (case-insensitive)")
                        << '\n';
    if (header_.dictionaryOffset % blockSize != 0) {
        report(out, "the dictionary does not start on a 512-byte boundary",
               view_.base() + libraryHeader::dictionaryOffset);
    }
    if (header_.dictionaryBlocks != 0 && !isPrime(header_.dictionaryBlocks)) {
        report(out,
               "the dictionary's block count " + std::to_string(header_.dictionaryBlocks) +
                   " is not a prime number, as the hash wants it",
               view_.base() + libraryHeader::dictionaryBlocks);
    }

    heading(out, "Modules");
    const bool records = options.verbose();
    const ModuleWalk walk =
        walkModules(view_, header_, out, options,
                    {.headModules = true,
                     .notePadding = false,
                     .record =
                         [&](const omf::Record& r) {
                             return records && omf::listSelectedRecordLine(out, view_, r, options);
                         },
                     .moduleRead =
                         [&](const omf::ModuleSummary& summary) {
                             if (records) {
                                 return;
                             }
                             for (const omf::PublicName& p : summary.publics) {
                                 out << "      " << column(p.where, 16) << "  "
                                     << displayName(p.name, options.demangle()) << '\n';
                             }
                         }});
    if (walk.endRecord) {
        out << "  Library end record (F1) at " << hex(view_.base() + *walk.endRecord) << '\n';
    } else {
        report(out, "no library end record (F1) follows the modules");
    }
    Dictionary(view_, header_, walk.modules, out, options).list();
}

void OmfLibrary::listRecords(Output& out, const Options& options) const
{
    omf::listRecords(out, view_, options, libraryWalk(view_, header_, out, options));
}

void OmfLibrary::listChecksums(Output& out, const Options& options) const
{
    omf::listChecksums(out, view_, options, libraryWalk(view_, header_, out, options));
}

void OmfLibrary::listRawRecords(Output& out, const Options& options) const
{
    omf::listRawRecords(out, view_, options, libraryWalk(view_, header_, out, options));
}

void OmfLibrary::listImpdef(Output& out, const Options& options) const
{
    omf::listImpdef(out, options, libraryWalk(view_, header_, out, options));
}

} // namespace tdump
