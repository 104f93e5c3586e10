// Writes the fuzzer's seeds: the test images, which between them reach
// every kind of table tdump reads.

#include <fstream>
#include <string>
#include <vector>

#include "image_builder.h"
#include "linear_builder.h"
#include "ne_builder.h"

namespace {

void write(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        return 2;
    }
    using namespace tdump::test;
    const std::string folder = argv[1];
    write(folder + "/image.dll", makeSampleImage().bytes.data);
    write(folder + "/tables.dll", makeTablesImage());
    write(folder + "/object.o", makeSampleObject().bytes.data);
    write(folder + "/codeview.obj", makeCodeViewObject().build());
    write(folder + "/database.pdb", makePdb().bytes.data);
    write(folder + "/library.a",
          makeArchive({{"object.o", makeSampleObject().bytes.data},
                       {"import.o", makeShortImport("ExitProcess", "KERNEL32.dll", 0x120, false)}},
                      {{"_ZN6sample4workEi", 0}, {"__imp_ExitProcess", 1}}));
    write(folder + "/linear.vxd", linearExecutable(false).data);
    write(folder + "/linear.dll", linearExecutable(true).data);
    write(folder + "/ne.dll", makeSampleNe().bytes.data);
    write(folder + "/dos.exe", makeDosProgram());
    write(folder + "/omf_object.obj", makeOmfObject().bytes);
    write(folder + "/omf_library.lib",
          makeOmfLibrary(
              {{makeOmfModule("alpha", {"_alpha", "?work@@YAHH@Z"}), {"_alpha", "?work@@YAHH@Z"}},
               {makeOmfImportModule("ImpRenamed", "USER32.dll", "MessageBoxA", 0), {"ImpRenamed"}},
               {makeOmfImportModule("ImpOrdinal", "USER32.dll", "", 42), {"ImpOrdinal"}}},
              32, 5)
              .bytes.data);
    const std::string names =
        "_ZN5outer5inner6WidgetC2Ev\n_Z8variadicIJiRPKcEEvDpOT_\n_ZNSolsEPFRSoS_E\n"
        "??$h@H@ns@@YAHH@Z\n?fp@@3P6AHH@ZEA\n_ZZ4mainENKUlvE_clEv\n";
    write(folder + "/names.txt", std::vector<std::uint8_t>(names.begin(), names.end()));
    return 0;
}
