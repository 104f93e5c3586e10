#pragma once

// The record layer of OMF files, which objects and libraries share: the
// records one after the other, and the listings that take them one by one
// whether they come from an object or from the modules of a library.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"
#include "omf/record_types.h"
#include "options.h"
#include "output.h"

namespace tdump::omf {

// Every record: its type, the length of what follows, the contents, and a
// checksum byte that makes all the record's bytes add up to 0 (or is 0).
constexpr std::uint64_t recordHeaderSize = 3;

struct Record {
    std::uint64_t offset = 0; // of its type byte, in the view
    std::uint8_t type = 0;
    std::uint16_t length = 0;             // as stored: the contents and the checksum byte
    std::vector<std::uint8_t> contents;   // without the checksum byte
    std::optional<std::uint8_t> checksum; // nullopt when the record is cut short
    bool truncated = false;               // its length runs past the end of the data

    std::uint64_t contentsOffset() const { return offset + recordHeaderSize; }
    std::uint64_t end() const { return offset + recordHeaderSize + length; }
};

// Reads the records from offset from on, up to to, handing each to visit,
// until visit returns false, a record runs past to or the budget is spent;
// what is wrong with the record headers is reported. Returns where the next
// record would start.
std::uint64_t walkRecords(View view, std::uint64_t from, std::uint64_t to, Output& out,
                          const std::function<bool(const Record&)>& visit);

// Whether this record ends a module (MODEND).
bool isModuleEnd(const Record& record);

// The module name of the translator header (THEADR or LHEADR) at offset,
// as its length byte gives it; empty when the file ends first. For the
// headings that name a module before its records are read.
std::string translatorName(View view, std::uint64_t offset);

// Whether -oi and -ox let records of this type be listed.
bool recordSelected(const Options& options, std::uint8_t type);

// "  00000000  80  THEADR     14", the line that heads a record, when -oi
// and -ox let the record be listed; returns whether they do.
bool listSelectedRecordLine(Output& out, View view, const Record& record, const Options& options);

struct ModuleSummary;

// How a listing takes the records a walk hands it: an object's walk hands
// it the file's records, a library's those of each module in turn. Each
// record goes to record first, then to the reader of its module, which
// lists its fields when record returns true.
struct RecordVisitor {
    // Whether a library heads each module with its line.
    bool headModules = false;
    // Whether an object says how many zeros follow its end record.
    bool notePadding = false;
    std::function<bool(const Record&)> record;
    // What each module defines, once its records are read.
    std::function<void(const ModuleSummary&)> moduleRead;
};
using RecordWalk = std::function<void(const RecordVisitor&)>;

// The listings of an object or of a library's modules, over the records
// walk hands them. -o: the fields of every record.
void listRecords(Output& out, View view, const Options& options, const RecordWalk& walk);
// -oc: the checksum byte of every record, the bad ones reported.
void listChecksums(Output& out, View view, const Options& options, const RecordWalk& walk);
// -r: the bytes of every record.
void listRawRecords(Output& out, View view, const Options& options, const RecordWalk& walk);
// -li: the import definitions, as lines "name  module  ordinal or name".
void listImpdef(Output& out, const Options& options, const RecordWalk& walk);

} // namespace tdump::omf
