// Many dumps in a row through the real window: nothing the program holds
// may grow with them. Runs QUELLAN_SOAK_RUNS dumps (50 by default; the
// long soak, scripts/soak.sh, runs 500).

#include "control_ids.h"
#include "quellan_driver.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstdlib>

namespace quellan::e2e {
namespace {

using namespace controls;

struct Resources {
    DWORD handles;
    int gdiObjects;
    int windows;
    SIZE_T privateBytes;
};

Resources resourcesOf(const RunningQuellan& quellan)
{
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(quellan.process(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                         sizeof memory);
    // Wine reports the commit charge, not PrivateUsage; on Windows they agree.
    const SIZE_T privateBytes =
        memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    return {test::processHandleCount(quellan.pid()), test::gdiObjectCount(quellan.process()),
            test::windowCount(quellan.pid()), privateBytes};
}

std::size_t soakRuns()
{
    char value[32];
    const DWORD length = GetEnvironmentVariableA("QUELLAN_SOAK_RUNS", value, sizeof value);
    const unsigned long runs =
        length > 0 && length < sizeof value ? std::strtoul(value, nullptr, 10) : 0;
    return runs >= 20 ? runs : 50;
}

TEST(Soak, DumpsInARowLeaveHandlesObjectsAndMemoryFlat)
{
    const std::size_t runs = soakRuns();
    Sandbox sandbox;
    RunningQuellan quellan(sandbox, recordingLaunch(sandbox));
    test::writeFile(sandbox.work() + "\\input.bin", "MZ");
    quellan.chooseFile(sandbox.work() + "\\input.bin");
    // The open-file dialog leaves work behind in the process (about 1.5 MiB
    // committed a second or two after it closes, under Wine), dumps or no
    // dumps. Let that settle so it is not counted against the dumps.
    SIZE_T settled = resourcesOf(quellan).privateBytes;
    for (int wait = 0; wait < 10; ++wait) {
        Sleep(2000);
        const SIZE_T now = resourcesOf(quellan).privateBytes;
        if (now == settled) {
            break;
        }
        settled = now;
    }

    Resources baseline{};
    for (std::size_t run = 1; run <= runs; ++run) {
        quellan.runAndWait(sandbox, run);
        ASSERT_EQ(sandbox.waitForEvents("end", "notepad", run).size(), run)
            << "every run starts its viewer";
        if (run == 10) {
            baseline = resourcesOf(quellan);
            ASSERT_GT(baseline.handles, 0u) << "the handle list could not be read";
            ASSERT_GT(baseline.gdiObjects, 0) << "the GDI handle table could not be read";
        }
    }
    const Resources last = resourcesOf(quellan);
    EXPECT_EQ(last.handles, baseline.handles);
    EXPECT_EQ(last.gdiObjects, baseline.gdiObjects);
    EXPECT_EQ(last.windows, baseline.windows);
    EXPECT_LT(last.privateBytes, baseline.privateBytes + SIZE_T{1024} * 1024)
        << "private bytes grew from " << baseline.privateBytes << " to " << last.privateBytes;
    EXPECT_TRUE(quellan.responds(5000));
    EXPECT_TRUE(quellan.isEnabled(Button4));
    RecordProperty("handles", static_cast<int>(last.handles));
    RecordProperty("gdiObjects", last.gdiObjects);
    RecordProperty("windows", last.windows);
    RecordProperty("privateKiB", static_cast<int>(last.privateBytes / 1024));
}

} // namespace
} // namespace quellan::e2e
