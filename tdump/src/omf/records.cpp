#include "omf/records.h"

#include <algorithm>
#include <array>
#include <numeric>

#include "display/file_display.h"
#include "omf/module_reader.h"

namespace tdump::omf {
namespace {

// "  00000000  80  THEADR     14": the line that heads a record.
void listRecordLine(Output& out, View view, const Record& record, const Options& options)
{
    const std::string_view name = omfRecordName(record.type);
    out << "  " << hex(view.base() + record.offset) << "  " << hex(record.type, 2) << "  "
        << column(name.empty() ? std::string_view("(unknown)") : name, 9) << ' '
        << dec(record.length, 5);
    if (options.verbose() && record.checksum) {
        out << "  checksum " << hex(*record.checksum, 2);
    }
    out << '\n';
}

// The checksum of each record taken, the bad ones reported, and a total
// at the end.
class ChecksumTally {
public:
    void take(Output& out, View view, const Record& record);
    void total(Output& out) const;

private:
    std::uint64_t records_ = 0;
    std::uint64_t verified_ = 0;
    std::uint64_t without_ = 0;
    std::uint64_t bad_ = 0;
};

void ChecksumTally::take(Output& out, View view, const Record& record)
{
    ++records_;
    if (!record.checksum) {
        return; // cut short: reported where it is read
    }
    if (*record.checksum == 0) {
        ++without_;
        return;
    }
    const unsigned sum = std::accumulate(record.contents.begin(), record.contents.end(),
                                         record.type + (record.length & 0xFFu) +
                                             (record.length >> 8u) + *record.checksum) &
                         0xFFu;
    if (sum == 0) {
        ++verified_;
        return;
    }
    ++bad_;
    const std::string_view name = omfRecordName(record.type);
    report(out,
           std::string(name.empty() ? std::string_view("unknown") : name) + " record at " +
               toHex(view.base() + record.offset, 8) + ": checksum " + toHex(*record.checksum, 2) +
               " is wrong, the record's bytes add up to " + toHex(sum, 2) + " instead of 00 (" +
               toHex((*record.checksum - sum) & 0xFFu, 2) + " would be right)",
           view.base() + record.end() - 1);
}

void ChecksumTally::total(Output& out) const
{
    out << "  " << dec(records_) << " records: " << dec(verified_) << " checksums right, "
        << dec(bad_) << " wrong, " << dec(without_) << " without a checksum (0)\n";
}

void listImports(Output& out, const std::vector<Import>& imports, const Options& options)
{
    std::size_t shown = 0;
    for (const Import& i : imports) {
        if (!matchesFilter(i.internalName, options.impdefFilter)) {
            continue;
        }
        ++shown;
        out << "  " << shownName(i.internalName) << "  " << shownName(i.module) << "  ";
        if (i.ordinal) {
            out << '@' << dec(*i.ordinal);
        } else {
            out << shownName(i.entryName.empty() ? i.internalName : i.entryName);
        }
        out << '\n';
    }
    if (shown == 0) {
        out << (options.impdefFilter.empty()
                    ? std::string("  (no IMPDEF records)\n")
                    : "  (no import matches \"" + printable(options.impdefFilter) + "\")\n");
    }
}

} // namespace

std::uint64_t walkRecords(View view, std::uint64_t from, std::uint64_t to, Output& out,
                          const std::function<bool(const Record&)>& visit)
{
    to = std::min(to, view.size());
    std::uint64_t at = from;
    while (at < to && !out.budget().exhausted()) {
        std::array<std::uint8_t, recordHeaderSize> header{};
        if (to - at < recordHeaderSize || !view.read(at, header)) {
            report(out,
                   std::to_string(to - at) + " bytes at the end are too few for a record header",
                   view.base() + at);
            return to;
        }
        Record r;
        r.offset = at;
        r.type = header[0];
        r.length = le16(&header[1]);
        const std::uint64_t room = to - at - recordHeaderSize;
        const std::uint64_t size = std::min<std::uint64_t>(r.length, room);
        r.truncated = r.length > room;
        r.contents.resize(static_cast<std::size_t>(size));
        if (!view.read(r.contentsOffset(), r.contents)) {
            r.contents.clear();
            r.truncated = true;
        }
        if (!r.truncated && !r.contents.empty()) {
            r.checksum = r.contents.back();
            r.contents.pop_back();
        }
        out.budget().charge(entryCost + r.contents.size());
        const bool more = visit(r);
        if (r.truncated) {
            report(out,
                   "the record length " + std::to_string(r.length) + " runs past the end of the " +
                       (to == view.size() ? "file" : "modules") + ": " + std::to_string(room) +
                       " bytes follow the length",
                   view.base() + at + 1);
            return to;
        }
        if (r.length == 0) {
            report(out, "the record length 0 leaves no room for the checksum byte",
                   view.base() + at + 1);
        }
        if (!more) {
            return r.end();
        }
        at = r.end();
    }
    return at;
}

bool isModuleEnd(const Record& record)
{
    return record.type == recordType::modend || record.type == recordType::modend32;
}

std::string translatorName(View view, std::uint64_t offset)
{
    const std::uint64_t nameOffset = offset + recordHeaderSize;
    const std::uint8_t length = view.u8(nameOffset).value_or(0);
    std::string name(length, '\0');
    if (!view.read(nameOffset + 1,
                   std::span(reinterpret_cast<std::uint8_t*>(name.data()), name.size()))) {
        return {};
    }
    return name;
}

bool recordSelected(const Options& options, std::uint8_t type)
{
    const std::string_view name = omfRecordName(type);
    const std::string_view family = omfRecordFamily(type);
    const auto names = [&](const std::string& wanted) {
        return !name.empty() && (wanted == name || wanted == family);
    };
    return options.records.chooses(names);
}

bool listSelectedRecordLine(Output& out, View view, const Record& record, const Options& options)
{
    const bool selected = recordSelected(options, record.type);
    if (selected) {
        listRecordLine(out, view, record, options);
    }
    return selected;
}

void listRecords(Output& out, View view, const Options& options, const RecordWalk& walk)
{
    heading(out, "OMF records");
    walk({.headModules = true,
          .notePadding = true,
          .record = [&](const Record& r) { return listSelectedRecordLine(out, view, r, options); },
          .moduleRead = {}});
}

void listChecksums(Output& out, View view, const Options& options, const RecordWalk& walk)
{
    heading(out, "Record checksums");
    ChecksumTally tally;
    walk({.headModules = false,
          .notePadding = false,
          .record =
              [&](const Record& r) {
                  if (recordSelected(options, r.type)) {
                      tally.take(out, view, r);
                  }
                  return false;
              },
          .moduleRead = {}});
    tally.total(out);
}

void listRawRecords(Output& out, View view, const Options& options, const RecordWalk& walk)
{
    heading(out, "Record bytes");
    walk({.headModules = true,
          .notePadding = false,
          .record =
              [&](const Record& r) {
                  if (listSelectedRecordLine(out, view, r, options)) {
                      const std::uint64_t size =
                          recordHeaderSize + r.contents.size() + (r.checksum ? 1 : 0);
                      hexDisplay(view, r.offset, r.offset + size, out);
                  }
                  return false;
              },
          .moduleRead = {}});
}

void listImpdef(Output& out, const Options& options, const RecordWalk& walk)
{
    heading(out, "Import definitions (IMPDEF)");
    std::vector<Import> imports;
    walk({.headModules = false,
          .notePadding = false,
          .record = [](const Record&) { return false; },
          .moduleRead =
              [&](const ModuleSummary& summary) {
                  imports.insert(imports.end(), summary.imports.begin(), summary.imports.end());
              }});
    listImports(out, imports, options);
}

} // namespace tdump::omf
