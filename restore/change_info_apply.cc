#include "restore/change_info_apply.h"

#include <cstring>

#include "domino/domino_api.h"
#include "domino/settings.h"
#include "ledger/change_info_file.h"
#include "output/output.h"
#include "platform/files.h"
#include "platform/host_seam.h"

namespace ark {

namespace {

constexpr const char* kStartFailed =
    "ERROR: Could not activate 'apply change info mode' to restored database: ";
constexpr const char* kReadFailed =
    "ERROR: Read error occured during reading of change information file into buffer: ";
constexpr const char* kApplyFailed = "ERROR: Cannot apply change information to restore database: ";
constexpr const char* kEndFailed =
    "ERROR: Cannot end the application of change information to restore database: ";

void PrintFailure(RestoreRequest& request, const char* prefix, const std::string& target,
                  const std::string& filePath, const std::string& errorText) {
  Output(request.output, std::string(prefix) + " " + target +
                             " from the change information file:\r\n" + filePath + "\r\n" +
                             errorText);
}

// The database path with its drive replaced by driveText.
std::string TargetPath(const std::string& databasePath, const std::string& driveText) {
  SplitPathResult parts;
  if (SplitPath(databasePath, parts) != 0) return driveText;
  return driveText + parts.directory + parts.fileName + parts.extension;
}

// Applies one database's file; 0 or -1 after its failure message.
int ApplyOne(RestoreRequest& request, DatabaseEntry& entry, platform::File& file,
             const std::string& filePath, const std::string& target) {
  ChangeInfoHeader header{};
  std::size_t got = 0;
  DWORD error = ReadFully(file, header.data(), header.size(), got);
  if (error != ERROR_SUCCESS) {
    PrintFailure(request, kReadFailed, target, filePath, "");
    return -1;
  }
  if (got < header.size()) {
    Output(request.output,
           "ERROR: Change information file is damaged (shorter than its 8-byte header): " +
               filePath + "\r\n");
    return -1;
  }
  DecodeChangeInfoHeader(header, entry.changeInfoSizeLow, entry.changeInfoSizeHigh);

  DWORD applyContext = 0;
  STATUS status = Domino().ApplyChangeInfoStart(&applyContext, target.c_str(), 0,
                                                entry.changeInfoSizeLow, entry.changeInfoSizeHigh);
  entry.lastStatus = status;
  if (status != NOERROR) {
    PrintFailure(request, kStartFailed, target, filePath, DominoErrorText(status, 200));
    return -1;
  }

  std::vector<unsigned char> buffer(kChangeInfoBlockSize);
  unsigned long long byteCount = 0;
  for (;;) {
    std::memset(buffer.data(), 0, buffer.size());
    error = ReadFully(file, buffer.data(), buffer.size(), got);
    if (error != ERROR_SUCCESS) {
      PrintFailure(request, kReadFailed, target, filePath, "");
      return -1;
    }
    if (got == 0) break;
    status = Domino().ApplyChangeInfo(applyContext, 0, buffer.data(), DWORD(got));
    entry.lastStatus = status;
    if (status != NOERROR) {
      PrintFailure(request, kApplyFailed, target, filePath, DominoErrorText(status, 200));
      return -1;
    }
    byteCount += got;
  }
  file.Close();

  if (byteCount != 0) {
    Output(request.output,
           "Applied " + std::to_string(byteCount) + " bytes to " + target + "\r\n");
  }
  status = Domino().ApplyChangeInfoEnd(applyContext, 0);
  entry.lastStatus = status;
  if (status != NOERROR) {
    PrintFailure(request, kEndFailed, target, filePath, DominoErrorText(status, 200));
    return -1;
  }
  platform::StepReached("applying-change-information");
  return 0;
}

}  // namespace

int ApplyChangeInformation(RestoreRequest& request, std::vector<DatabaseEntry>& databases,
                           const std::string& changeInfoDirectory, const std::string& driveText) {
  for (DatabaseEntry& entry : databases) {
    const std::string filePath = MakeChangeInfoPath(changeInfoDirectory, entry.path);
    if (ApplyChangeInformationFile(request, entry, filePath, TargetPath(entry.path, driveText)) != 0) return -1;
  }
  return 0;
}

int ApplyChangeInformationFile(RestoreRequest& request, DatabaseEntry& entry, const std::string& filePath,
                               const std::string& target) {
  platform::File file;
  DWORD error = file.Open(filePath, platform::File::Mode::Read);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return 0;  // the backup recorded no change information for this database
  }
  if (error != ERROR_SUCCESS) {
    // A file that is there but cannot be read is not "no change
    // information": skipping it would leave the database inconsistent.
    PrintFailure(request, kReadFailed, target, filePath, platform::FormatMessage(error));
    return -1;
  }
  return ApplyOne(request, entry, file, filePath, target);
}

}  // namespace ark
