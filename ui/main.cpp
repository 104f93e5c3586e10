// Quellan: a front-end for the tdump dump tool.

#include "application.h"
#include "dump_tool_folder.h"
#include "main_window.h"

#include <windows.h>

#include <exception>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    try {
        // The open-file dialog moves the current folder to the chosen file's
        // folder, where the interpreter would look for tdump in vain.
        quellan::addDumpToolFolderToPath();
        quellan::Application application(instance);
        application.setTitle("Quellan");
        quellan::TForm1 form1(application);
        return application.run(form1);
    } catch (const std::exception& failure) {
        // Only start-up can get here: once the loop runs, every failure is
        // shown where it is raised and the program carries on.
        MessageBoxA(nullptr, failure.what(), "Quellan", MB_OK | MB_ICONERROR);
        return 1;
    }
}
