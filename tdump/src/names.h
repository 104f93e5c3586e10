#pragma once

// Names of the numbered things in PE and COFF files: machines, flags,
// storage classes, relocation types. Unknown numbers get a name that says so.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tdump {

struct Flag {
    std::uint32_t bit;
    std::string_view name;
};

// The names of the set bits, separated by blanks (or by separator);
// unnamed bits as hex.
std::string flagNames(std::uint32_t value, std::span<const Flag> flags,
                      std::string_view separator = " ");

std::string_view machineName(std::uint16_t machine);
bool isKnownMachine(std::uint16_t machine);

std::span<const Flag> fileCharacteristicFlags();
std::span<const Flag> sectionFlags();
std::span<const Flag> dllCharacteristicFlags();

// "align 16" for the alignment bits of a section's characteristics, or empty.
std::string sectionAlignment(std::uint32_t characteristics);
// A short summary of a section's characteristics, e.g. "code exec read".
std::string sectionSummary(std::uint32_t characteristics);

std::string_view subsystemName(std::uint16_t subsystem);
std::string_view dataDirectoryName(std::size_t index);
std::string_view storageClassName(std::uint8_t storageClass);
std::string_view relocationTypeName(std::uint16_t machine, std::uint16_t type);
std::string_view baseRelocationTypeName(std::uint16_t machine, unsigned type);
std::string_view debugTypeName(std::uint32_t type);
std::string_view comdatSelectionName(std::uint8_t selection);
// A numbered resource type's name without "RT_" ("ICON" for 3), or empty.
std::string_view resourceTypeName(std::uint32_t type);

// A GUID: Data1, Data2, Data3, then the eight bytes of Data4.
namespace guid {
constexpr std::size_t data1 = 0;
constexpr std::size_t data2 = 4;
constexpr std::size_t data3 = 6;
constexpr std::size_t data4 = 8;
constexpr std::size_t size = 16;
} // namespace guid

// "{01234567-89AB-CDEF-0123-456789ABCDEF}", as a PE image's debug directory
// and a PDB's information stream show the GUID that ties them together.
std::string guidText(std::span<const std::uint8_t, guid::size> bytes);

} // namespace tdump
