#pragma once

namespace quellan {

// Makes the dump tool that comes with the program findable wherever the
// user's file lies: when tdump.exe is in the program's own folder, that
// folder is added at the end of the program's PATH, which every command
// interpreter it starts inherits. A tdump already on PATH, or in the folder
// a dump runs in, is still found first. PATH stays as it was when there is
// no tdump.exe beside the program, when the program's path cannot be read,
// or when the longer PATH would not fit. Returns whether PATH changed.
bool addDumpToolFolderToPath();

} // namespace quellan
