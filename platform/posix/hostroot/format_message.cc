// The texts Windows gives for the Win32 codes and HRESULTs that this system
// reports (FormatMessage, platform/shared/format_message.cc).
#include <cstdint>
#include <iterator>
#include <string>

#include "platform/shared/machine.h"

namespace platform {
namespace {

struct Text {
  std::uint32_t code;
  const char* text;
};

constexpr Text kWin32Texts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {145, "The directory is not empty."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {231, "All pipe instances are busy."},
    {234, "More data is available."},
    {267, "The directory name is invalid."},
    {1168, "Element not found."},
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10013, "An attempt was made to access a socket in a way forbidden by its access permissions."},
    {10048, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {10053, "An established connection was aborted by the software in your host machine."},
    {10054, "An existing connection was forcibly closed by the remote host."},
    {10060, "A connection attempt failed because the connected party did not properly respond after a period of time, or established connection failed because connected host has failed to respond."},
    {10061, "No connection could be made because the target machine actively refused it."},
};

constexpr Text kHresultTexts[] = {
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80040110u, "Class does not support aggregation (or class object is remote)"},
    {0x80040154u, "Class not registered"},
};

std::string Lookup(const Text* begin, const Text* end, std::uint32_t code) {
  for (const Text* t = begin; t != end; ++t) {
    if (t->code == code) return t->text;
  }
  return {};
}

}  // namespace

std::string machine::MessageText(std::uint32_t code) {
  return code & 0x80000000u ? Lookup(std::begin(kHresultTexts), std::end(kHresultTexts), code)
                            : Lookup(std::begin(kWin32Texts), std::end(kWin32Texts), code);
}

}  // namespace platform
