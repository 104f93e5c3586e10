#pragma once

#include <windows.h>

#include <string>

namespace quellan {

// The open-file dialog. Remembers the last confirmed file name and file
// type, which the next showing starts from.
class OpenDialog {
public:
    std::string title;
    std::string filter;    // description|pattern pairs separated by "|"
    std::string fileName;  // the last confirmed choice
    DWORD filterIndex = 1; // 1-based, as the dialog counts

    // Shows the dialog owned by owner, placed on the monitor nearest to
    // placeNear. True when the user confirmed a file; a cancelled dialog
    // changes nothing.
    bool execute(HWND owner, HWND placeNear);

    // Where the dialog goes on a monitor: centred across, a third down.
    static POINT placement(const RECT& monitor, SIZE dialog);
};

} // namespace quellan
