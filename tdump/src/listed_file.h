#pragma once

// What the listing asks of a file, whatever its format: one implementation
// per format folder, created by that folder's recogniser. The listing writes
// the heading from kindName, typeText and the switches, then has the file
// show the displays the switches ask for; the displays every file has (hex,
// text, demangled lines) it shows itself.

#include <memory>
#include <string>
#include <string_view>

#include "bytes.h"
#include "options.h"
#include "output.h"

namespace tdump {

class ListedFile {
public:
    ListedFile() = default;
    ListedFile(const ListedFile&) = delete;
    ListedFile& operator=(const ListedFile&) = delete;
    virtual ~ListedFile() = default;

    // "a PE image", as the heading names the file in "no effect on a PE
    // image: ..." and "the default for a PE image".
    virtual std::string_view kindName() const = 0;
    // The heading's "Type:" line, e.g. "PE32+ image (DLL), x86-64 (AMD64)".
    virtual std::string typeText() const = 0;
    // What the file shows when no switch asks for anything.
    virtual Display defaultDisplay() const = 0;
    // The displays and modifiers that do something for this file, besides
    // everyFileDisplays.
    virtual DisplaySet displays() const = 0;
    // Why a display or modifier not in displays() does nothing for this
    // file; by default the reason that holds for any file without it.
    virtual std::string_view whyNot(Display display) const;
    // Which reading of the switches that read differently on record files
    // the file takes.
    virtual Reading reading() const { return Reading::Sections; }
    // Shows the displays of wanted that are its own (wanted holds only
    // displays() and everyFileDisplays), in the order the format lists them.
    virtual void show(DisplaySet wanted, Output& out, const Options& options) const = 0;
};

// A format's recogniser: the file as that format lists it, or nullptr when
// the file is not one. Options may widen what is taken (-o).
using Recogniser = std::unique_ptr<ListedFile> (*)(View file, const Options& options);

} // namespace tdump
