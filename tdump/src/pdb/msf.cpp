#include "pdb/msf.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "budget.h"

namespace tdump::pdb {

const std::uint8_t msfMagic[msfMagicSize] = {
    'M', 'i', 'c', 'r', 'o', 's', 'o', 'f', 't',  ' ',  'C',  '/', 'C', '+', '+', ' ',
    'M', 'S', 'F', ' ', '7', '.', '0', '0', '\r', '\n', 0x1A, 'D', 'S', 0,   0,   0};

namespace {

// The streams every database has at fixed numbers.
constexpr std::uint32_t streamOldDirectory = 0;
constexpr std::uint32_t streamInfo = 1;
constexpr std::uint32_t streamTpi = 2;
constexpr std::uint32_t streamDbi = 3;
constexpr std::uint32_t streamIpi = 4;

// The directory: the stream count, the sizes, then every stream's block
// numbers in stream order.
constexpr std::uint64_t directoryStreamCount = 0;
constexpr std::uint64_t directorySizes = 4;
constexpr std::uint64_t blockNumberSize = 4;

// What the directory's own Stream is numbered: it is no stream of the list.
constexpr std::uint32_t directoryStream = ~std::uint32_t{0};
// The superblock occupies block 0.
constexpr std::uint32_t superBlockBlock = 0;
// Reports of bad block numbers are cut after this many.
constexpr std::uint32_t maxBlockReports = 16;
// Block numbers shown per line in the verbose directory display.
constexpr std::uint32_t blocksPerLine = 8;

std::uint64_t blocksFor(std::uint64_t bytes, std::uint32_t blockSize)
{
    return (bytes + blockSize - 1) / blockSize;
}

std::string_view fixedStreamName(std::uint32_t number)
{
    switch (number) {
    case streamOldDirectory:
        return "old directory";
    case streamInfo:
        return "PDB information";
    case streamTpi:
        return "TPI (types)";
    case streamDbi:
        return "DBI (modules)";
    case streamIpi:
        return "IPI (ids)";
    default:
        return ""; // not empty-constructed: the listing copies from its data
    }
}

} // namespace

bool isMsf(View file)
{
    std::array<std::uint8_t, msfMagicSize> head{};
    return file.read(superBlock::magic, head) &&
           std::memcmp(head.data(), msfMagic, msfMagicSize) == 0;
}

std::optional<SuperBlock> readSuperBlock(View file)
{
    std::array<std::uint8_t, superBlock::size> raw{};
    if (!file.read(0, raw)) {
        return std::nullopt;
    }
    SuperBlock super;
    super.blockSize = le32(&raw[superBlock::blockSize]);
    super.freeBlockMapBlock = le32(&raw[superBlock::freeBlockMapBlock]);
    super.numBlocks = le32(&raw[superBlock::numBlocks]);
    super.numDirectoryBytes = le32(&raw[superBlock::numDirectoryBytes]);
    super.unknown = le32(&raw[superBlock::unknown]);
    super.blockMapAddr = le32(&raw[superBlock::blockMapAddr]);
    return super;
}

std::optional<std::uint64_t> StreamSource::fileOffset(std::uint64_t offset) const
{
    const auto block = blockList_.u32(offset / blockSize_ * blockNumberSize);
    if (!block || *block >= numBlocks_) {
        return std::nullopt;
    }
    const std::uint64_t at = std::uint64_t{*block} * blockSize_ + offset % blockSize_;
    if (!file_.has(at, 1)) {
        return std::nullopt;
    }
    return file_.base() + at;
}

std::size_t StreamSource::readAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    std::size_t done = 0;
    while (done < out.size() && offset + done < size_) {
        const std::uint64_t at = offset + done;
        const auto where = fileOffset(at);
        if (!where) {
            break; // a missing block ends what can be read
        }
        const std::uint64_t inBlock = blockSize_ - at % blockSize_;
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>({inBlock, size_ - at, out.size() - done}));
        if (!file_.read(*where - file_.base(), out.subspan(done, count))) {
            break;
        }
        done += count;
    }
    return done;
}

Msf::Msf(View file, const SuperBlock& super, Output& out) : file_(file), super_(super)
{
    const std::uint32_t blockSize = super.blockSize;
    if (blockSize < minBlockSize || blockSize > maxBlockSize) {
        report(out,
               "the block size " + std::to_string(blockSize) + " lies outside " +
                   std::to_string(minBlockSize) + ".." + std::to_string(maxBlockSize) +
                   ": no stream can be read",
               file.base() + superBlock::blockSize);
        return;
    }
    if ((blockSize & (blockSize - 1)) != 0) {
        report(out,
               "the block size " + std::to_string(blockSize) +
                   " is not a power of two; the blocks are read with it all the same",
               file.base() + superBlock::blockSize);
    }
    const std::uint64_t fileBlocks = blocksFor(file.size(), blockSize);
    if (fileBlocks != super.numBlocks) {
        report(out,
               "the superblock counts " + std::to_string(super.numBlocks) +
                   " blocks, the file holds " + std::to_string(fileBlocks),
               file.base() + superBlock::numBlocks);
    }
    std::uint64_t directoryBlocks = blocksFor(super.numDirectoryBytes, blockSize);
    std::uint64_t directoryBytes = super.numDirectoryBytes;
    const std::uint64_t mapCapacity = blockSize / blockNumberSize;
    if (directoryBlocks > mapCapacity) {
        report(out,
               "the stream directory of " + std::to_string(directoryBytes) + " bytes needs " +
                   std::to_string(directoryBlocks) +
                   " blocks, more than the block map block holds (" + std::to_string(mapCapacity) +
                   "); read up to there",
               file.base() + superBlock::numDirectoryBytes);
        directoryBlocks = mapCapacity;
        directoryBytes = mapCapacity * blockSize;
    }
    const std::uint64_t mapAt = std::uint64_t{super.blockMapAddr} * blockSize;
    if (super.blockMapAddr >= super.numBlocks ||
        !file.has(mapAt, directoryBlocks * blockNumberSize)) {
        report(out,
               "the block map block " + std::to_string(super.blockMapAddr) +
                   " lies past the end of the file: there is no stream directory",
               file.base() + superBlock::blockMapAddr);
        return;
    }
    const View blockMap = file.sub(mapAt, directoryBlocks * blockNumberSize);
    directory_ = std::make_unique<Stream>(
        directoryStream,
        std::make_unique<StreamSource>(file, blockSize, super.numBlocks, blockMap, directoryBytes));
    readDirectory(out);
    checkBlocks(out);
}

void Msf::readDirectory(Output& out)
{
    const View dir = directory_->view();
    const auto declared = dir.u32(directoryStreamCount);
    if (!declared) {
        report(out, "the stream directory cannot be read: its first block is missing",
               file_.base() + superBlock::blockMapAddr);
        return;
    }
    std::uint32_t count = *declared;
    if (count > maxStreams) {
        report(out,
               "the directory claims " + std::to_string(count) +
                   " streams, more than the limit of " + std::to_string(maxStreams),
               directory_->at(directoryStreamCount));
        count = maxStreams;
    }
    const std::uint64_t sizesRoom = (dir.size() - directorySizes) / blockNumberSize;
    if (count > sizesRoom) {
        report(out,
               "the directory claims " + std::to_string(count) + " streams but has room for " +
                   std::to_string(sizesRoom) + " sizes; read up to there",
               directory_->at(directoryStreamCount));
        count = static_cast<std::uint32_t>(sizesRoom);
    }
    std::uint64_t cursor = directorySizes + std::uint64_t{count} * blockNumberSize;
    for (std::uint32_t i = 0; i < count && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const std::uint64_t sizeAt = directorySizes + std::uint64_t{i} * blockNumberSize;
        StreamEntry entry;
        const auto size = dir.u32(sizeAt);
        if (!size) {
            report(out, "stream " + std::to_string(i) + ": its size cannot be read",
                   directory_->at(sizeAt));
            break;
        }
        entry.declaredSize = *size;
        entry.size = *size == nilStreamSize ? 0 : *size;
        const std::uint64_t wanted = blocksFor(entry.size, super_.blockSize);
        const std::uint64_t room = (dir.size() - std::min(cursor, dir.size())) / blockNumberSize;
        entry.blockListAt = cursor;
        entry.blockCount = static_cast<std::uint32_t>(std::min(wanted, room));
        if (wanted > room) {
            report(out,
                   "stream " + std::to_string(i) + " of " + std::to_string(entry.size) +
                       " bytes needs " + std::to_string(wanted) +
                       " blocks but the directory ends after " + std::to_string(room) +
                       " of them; read as " + std::to_string(room * super_.blockSize) + " bytes",
                   directory_->at(sizeAt));
            entry.size = room * super_.blockSize;
        }
        cursor += std::uint64_t{entry.blockCount} * blockNumberSize;
        streams_.push_back(entry);
    }
}

// Every block number must name a block of the file, and no block may
// belong to two places: a repeated block makes two streams (or one stream
// and the directory) read the same bytes.
void Msf::checkBlocks(Output& out)
{
    const std::uint32_t tracked = std::min(super_.numBlocks, maxTrackedBlocks);
    std::vector<bool> used(tracked);
    std::uint32_t reports = 0;
    const auto claim = [&](std::uint32_t block, const std::string& owner, std::uint64_t at) {
        if (block >= super_.numBlocks) {
            if (reports++ < maxBlockReports) {
                report(out,
                       owner + ": block " + std::to_string(block) + " is past the last block (" +
                           std::to_string(super_.numBlocks) + " blocks)",
                       at);
            }
        } else if (block < tracked) {
            if (used[block] && reports++ < maxBlockReports) {
                report(out,
                       owner + ": block " + std::to_string(block) +
                           " is used a second time (the block map repeats or loops)",
                       at);
            }
            used[block] = true;
        }
    };
    if (superBlockBlock < tracked) {
        used[superBlockBlock] = true;
    }
    claim(super_.blockMapAddr, "the block map", file_.base() + superBlock::blockMapAddr);
    const std::uint64_t mapAt = std::uint64_t{super_.blockMapAddr} * super_.blockSize;
    const std::uint64_t directoryBlocks = blocksFor(directory_->size(), super_.blockSize);
    for (std::uint64_t k = 0; k < directoryBlocks; ++k) {
        const std::uint64_t at = mapAt + k * blockNumberSize;
        if (const auto block = file_.u32(at)) {
            claim(*block, "the stream directory", file_.base() + at);
        }
    }
    const View dir = directory_->view();
    for (std::uint32_t i = 0; i < streams_.size() && !out.budget().exhausted(); ++i) {
        const StreamEntry& entry = streams_[i];
        for (std::uint32_t k = 0; k < entry.blockCount && !out.budget().exhausted(); ++k) {
            out.budget().charge(entryCost);
            const std::uint64_t at = entry.blockListAt + std::uint64_t{k} * blockNumberSize;
            if (const auto block = dir.u32(at)) {
                claim(*block, "stream " + std::to_string(i), directory_->at(at));
            }
        }
    }
    if (reports > maxBlockReports) {
        report(out, std::to_string(reports - maxBlockReports) + " more bad block numbers");
    }
}

std::uint64_t Msf::streamSize(std::uint32_t number) const
{
    return number < streams_.size() ? streams_[number].size : 0;
}

bool Msf::exists(std::uint32_t number) const
{
    return number < streams_.size() && streams_[number].declaredSize != nilStreamSize;
}

std::unique_ptr<Stream> Msf::open(std::uint32_t number) const
{
    if (!exists(number)) {
        return nullptr;
    }
    const StreamEntry& entry = streams_[number];
    const View blockList = directory_->view().sub(
        entry.blockListAt, std::uint64_t{entry.blockCount} * blockNumberSize);
    return std::make_unique<Stream>(number, std::make_unique<StreamSource>(file_, super_.blockSize,
                                                                           super_.numBlocks,
                                                                           blockList, entry.size));
}

void Msf::list(Output& out, bool verbose, const std::vector<std::string>& contents) const
{
    if (!usable()) {
        return;
    }
    label(out, "Streams") << dec(streams_.size()) << '\n';
    out << "  Stream        Size  Blocks  First block  Contents\n";
    const View dir = directory_->view();
    for (std::uint32_t i = 0; i < streams_.size() && !out.budget().exhausted(); ++i) {
        out.budget().charge(entryCost);
        const StreamEntry& entry = streams_[i];
        out << "  " << dec(i, 6) << "  ";
        if (entry.declaredSize == nilStreamSize) {
            out << column("(nil)", 10) << "  " << dec(0, 6) << "  " << column("", 11);
        } else {
            out << dec(entry.size, 10) << "  " << dec(entry.blockCount, 6) << "  ";
            if (const auto first =
                    entry.blockCount != 0 ? dir.u32(entry.blockListAt) : std::nullopt) {
                out << dec(*first, 11);
            } else {
                out << column("", 11);
            }
        }
        const std::string_view fixed = fixedStreamName(i);
        out << "  " << (!fixed.empty() || i >= contents.size() ? fixed : contents[i]) << '\n';
        if (!verbose || entry.blockCount == 0) {
            continue;
        }
        for (std::uint32_t k = 0; k < entry.blockCount && !out.budget().exhausted(); ++k) {
            out << (k % blocksPerLine == 0 ? "          blocks" : "") << ' '
                << dec(dir.u32(entry.blockListAt + std::uint64_t{k} * blockNumberSize).value_or(0));
            if (k % blocksPerLine == blocksPerLine - 1 || k + 1 == entry.blockCount) {
                out << '\n';
            }
        }
    }
}

} // namespace tdump::pdb
