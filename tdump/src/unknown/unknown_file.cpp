#include "unknown/unknown_file.h"

#include "coff/coff_format.h"

namespace tdump {
namespace {

class UnknownFile final : public ListedFile {
public:
    explicit UnknownFile(View file) : file_(file) {}

    std::string_view kindName() const override { return "a file of unknown type"; }
    std::string typeText() const override
    {
        return "unknown (not a PE image, COFF or OMF object, library or program database)";
    }
    Display defaultDisplay() const override { return Display::Hex; }
    DisplaySet displays() const override { return {Display::Object}; }

    void show(DisplaySet wanted, Output& out, const Options& options) const override
    {
        if (wanted.has(Display::Object)) {
            listForcedCoffDisplay(file_, out, options);
        }
    }

private:
    View file_;
};

} // namespace

std::unique_ptr<ListedFile> unknownFile(View file)
{
    return std::make_unique<UnknownFile>(file);
}

} // namespace tdump
