#pragma once

// Program databases (PDB): the MSF container as MSVC and lld write it, and
// the streams in it: the information stream, DBI with its modules, the
// modules' symbols and lines, the global and public symbols, TPI and IPI.

#include <optional>
#include <string>

#include "bytes.h"
#include "options.h"
#include "output.h"
#include "pdb/msf.h"

namespace tdump {

class PdbFile {
public:
    // nullopt when the file lacks the MSF 7.00 magic or the superblock.
    static std::optional<PdbFile> open(View file);

    // "program database (MSF 7.00), 4096-byte blocks"
    std::string description() const;

    // The whole listing: superblock, stream directory, information stream,
    // DBI, modules, global and public symbols, types and ids. -ed leaves out
    // the symbol and type records; -i and -x choose tables by their letters.
    void list(Output& out, const Options& options) const;

private:
    PdbFile(View file, const pdb::SuperBlock& super) : file_(file), super_(super) {}

    void listSuperBlock(Output& out) const;

    View file_;
    pdb::SuperBlock super_;
};

} // namespace tdump
