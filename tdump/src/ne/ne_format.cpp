#include "ne/ne_format.h"

#include <utility>

#include "ne/ne.h"

namespace tdump {
namespace {

class NeImageFile final : public ListedFile {
public:
    NeImageFile(View file, NeImage image) : file_(file), image_(std::move(image)) {}

    std::string_view kindName() const override { return "an NE image"; }
    std::string typeText() const override { return image_.description(); }
    Display defaultDisplay() const override { return Display::Executable; }
    DisplaySet displays() const override { return newExecutableDisplays; }
    std::string_view whyNot(Display display) const override
    {
        switch (display) {
        case Display::Relocations:
            return "its relocation records are listed per segment by -e (-eiFIX)";
        case Display::Coff:
        case Display::Object:
        case Display::Raw:
        case Display::NameChoice:
            return "it has segments, not COFF sections";
        case Display::Impdef:
            return "IMPDEF lines are written for PE DLLs and import libraries";
        case Display::Checksum:
            return "its CRC is shown with the NE header (-eiHDR)";
        case Display::StoredNames:
            return "its names are not decorated";
        default:
            return ListedFile::whyNot(display);
        }
    }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        showNewExecutable(file_, image_, wanted, out, options);
    }

private:
    View file_;
    NeImage image_;
};

} // namespace

std::unique_ptr<ListedFile> recogniseNeImage(View file, const Options&)
{
    auto image = NeImage::open(file);
    if (!image) {
        return nullptr;
    }
    return std::make_unique<NeImageFile>(file, std::move(*image));
}

} // namespace tdump
