#pragma once

// Archive libraries ("!<arch>"): static libraries and import libraries, in
// the GNU and the Microsoft flavours, including short import members.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "bytes.h"
#include "options.h"
#include "output.h"

namespace tdump {

bool isArchive(View view);

struct Member {
    std::uint64_t headerOffset = 0; // in the archive
    std::uint64_t dataOffset = 0;
    std::uint64_t size = 0; // clamped to the file
    std::string name;       // long and BSD names resolved
    std::string date;
    std::string mode;
    bool special = false; // a symbol index or the long name table
};

class Archive {
public:
    explicit Archive(View view);

    // -l: every member with its size and kind, then the symbol index.
    void listLibrary(Output& out, const Options& options) const;
    // Heads each ordinary member and hands its contents to show.
    void listMembers(Output& out, const std::function<void(const Member&, View)>& show) const;
    // -li: the import members as module definition lines.
    void listImpdef(Output& out, const Options& options) const;

private:
    // Walks the member headers, reporting what is malformed; visit returns
    // false to stop early.
    void walk(Output* out, const std::function<bool(const Member&)>& visit) const;
    std::optional<Member> memberAt(std::uint64_t headerOffset, std::string* problem) const;
    std::string resolveName(std::string_view raw) const;
    void listSymbolIndex(Output& out, const Options& options) const;

    View view_;
    std::optional<Member> longNames_;
    std::optional<Member> firstIndex_;  // GNU or Microsoft first linker member
    std::optional<Member> secondIndex_; // Microsoft second linker member
    std::optional<Member> index64_;     // GNU /SYM64/
};

} // namespace tdump
