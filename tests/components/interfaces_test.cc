// The numbers the binary interfaces are bound by, written here once more
// apart from the code: the stand-in's .def file and the binding's header
// against the ordinals, the component's tables and the engine's calls
// against the slots.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "domino/nnotes_api.h"
#include "snapshot/native_interfaces.h"
#include "snapshot/native_records.h"
#include "snapshotsvc/com_slots.h"

namespace {

struct Row {
  const char* name;
  int ordinal;
  int bound;  // the binding header's ordinal
};

const Row kDominoApi[] = {
    {"InitRuntime", 15, nnotes::InitRuntime::kOrdinal},
    {"TermRuntime", 13, nnotes::TermRuntime::kOrdinal},
    {"OpenDatabase", 2005, nnotes::OpenDatabase::kOrdinal},
    {"CloseDatabase", 2001, nnotes::CloseDatabase::kOrdinal},
    {"GetErrorText", 707, nnotes::GetErrorText::kOrdinal},
    {"GetDatabaseLogInfo", 5875, nnotes::GetDatabaseLogInfo::kOrdinal},
    {"BackupStart", 5734, nnotes::BackupStart::kOrdinal},
    {"BackupStop", 5735, nnotes::BackupStop::kOrdinal},
    {"BackupEnd", 5736, nnotes::BackupEnd::kOrdinal},
    {"GetChangeInfoSize", 5878, nnotes::GetChangeInfoSize::kOrdinal},
    {"GetChangeInfo", 5879, nnotes::GetChangeInfo::kOrdinal},
    {"ApplyChangeInfoStart", 5876, nnotes::ApplyChangeInfoStart::kOrdinal},
    {"ApplyChangeInfo", 5880, nnotes::ApplyChangeInfo::kOrdinal},
    {"ApplyChangeInfoEnd", 5877, nnotes::ApplyChangeInfoEnd::kOrdinal},
    {"ArchiveBegin", 5925, nnotes::ArchiveBegin::kOrdinal},
    {"ArchiveEnd", 5926, nnotes::ArchiveEnd::kOrdinal},
    {"GetFirstArchiveLog", 5823, nnotes::GetFirstArchiveLog::kOrdinal},
    {"GetNextArchiveLog", 5803, nnotes::GetNextArchiveLog::kOrdinal},
    {"MarkLogArchived", 5804, nnotes::MarkLogArchived::kOrdinal},
    {"GetLoggingStyle", 5927, nnotes::GetLoggingStyle::kOrdinal},
    {"GetServerName", 1562, nnotes::GetServerName::kOrdinal},
    {"AbbreviateName", 628, nnotes::AbbreviateName::kOrdinal},
    {"TranslatePath", 391, nnotes::TranslatePath::kOrdinal},
    {"TextToTimeDate", 223, nnotes::TextToTimeDate::kOrdinal},
    {"RecoverDatabaseList", 5794, nnotes::RecoverDatabaseList::kOrdinal},
    {"ReadDatabaseRecord", 2086, nnotes::ReadDatabaseRecord::kOrdinal},
    {"WriteDatabaseRecord", 2087, nnotes::WriteDatabaseRecord::kOrdinal},
};

// "nnotes_Name @N NONAME" lines after EXPORTS in the stand-in's .def file:
// name -> N; any other line there goes to *problems.
std::map<std::string, int> DefExports(std::string* problems) {
  std::ifstream in(NNOTES_DEF_PATH);
  const std::regex exportLine(R"(\s*nnotes_(\w+)\s+@(\d+)\s+NONAME\s*)"), blank(R"(\s*(;.*)?)");
  std::map<std::string, int> out;
  bool inExports = false;
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (std::regex_match(line, blank)) continue;
    if (!inExports) {
      inExports = line.rfind("EXPORTS", 0) == 0;
    } else if (!std::regex_match(line, m, exportLine)) {
      *problems += "unexpected export line: " + line + "\n";
    } else if (!out.emplace(m[1], std::stoi(m[2])).second) {
      *problems += "twice: " + line + "\n";
    }
  }
  return out;
}

TEST(BinaryInterfaces, DominoApiOrdinalsOfTheStandInAndTheBinding) {
  std::string problems;
  const std::map<std::string, int> exported = DefExports(&problems);
  EXPECT_EQ(problems, "");
  EXPECT_EQ(exported.size(), std::size(kDominoApi)) << "the .def exports exactly the library's operations";
  for (const Row& row : kDominoApi) {
    const auto it = exported.find(row.name);
    ASSERT_NE(it, exported.end()) << row.name << " is not exported";
    EXPECT_EQ(it->second, row.ordinal) << row.name << " in the .def";
    EXPECT_EQ(row.bound, row.ordinal) << row.name << " in the binding";
  }
}

TEST(BinaryInterfaces, SnapshotComponentSlotsOfTheComponentAndTheEngine) {
  namespace engine = snapshot::native;
  namespace component = snapshotsvc::slots;
  const struct {
    const char* method;
    int slot, engineSlot, componentSlot;
  } kSlots[] = {
      {"IUnknown::Release", 2, engine::kSlotRelease, component::kRelease},
      {"IClassFactory::CreateInstance", 3, engine::kSlotCreateInstance, component::kCreateInstance},
      {"CreateSnapShot", 3, engine::kSlotCreateSnapShot, component::kCreateSnapShot},
      {"RestoreSnapShot", 4, engine::kSlotRestoreSnapShot, component::kRestoreSnapShot},
      {"DeleteSnapShot", 5, engine::kSlotDeleteSnapShot, component::kDeleteSnapShot},
      {"RenameSnapShot", 6, engine::kSlotRenameSnapShot, component::kRenameSnapShot},
      {"EnumerateSnapShots", 9, engine::kSlotEnumerateSnapShots, component::kEnumerateSnapShots},
      {"ListDisks", 12, engine::kSlotListDisks, component::kListDisks},
  };
  for (const auto& s : kSlots) {
    EXPECT_EQ(s.engineSlot, s.slot) << s.method << " as the engine calls it";
    EXPECT_EQ(s.componentSlot, s.slot) << s.method << " in the component's table";
  }
  EXPECT_EQ(component::kSnapshotServiceCount, 10);
  EXPECT_EQ(component::kDiskServiceCount, 13);
}

// The documented offsets are a 32-bit build's; a 64-bit build has the same
// fields with 8-byte pointers, each at its natural alignment.
TEST(BinaryInterfaces, RecordLayoutsFollowTheDocumentedOffsets) {
  using namespace snapshot::native;
  const bool wide = sizeof(void*) == 8;
  const struct {
    const char* field;
    std::size_t actual, narrow, wideOffset;
  } kFields[] = {
      {"sizeof DriveInfo", sizeof(DriveInfo), 8, 16},
      {"DriveSet.count", offsetof(DriveSet, count), 4, 4},
      {"DriveSet.drives", offsetof(DriveSet, drives), 8, 8},
      {"sizeof List", sizeof(List), 8, 16},
      {"List.items", offsetof(List, items), 4, 8},
      {"SnapshotInfo.creationTime", offsetof(SnapshotInfo, creationTimeLow), 4, 8},
      {"SnapshotInfo.extra", offsetof(SnapshotInfo, extra), 12, 16},
      {"sizeof SnapshotInfo", sizeof(SnapshotInfo), 40, 48},
      {"DiskInfo.devicePath", offsetof(DiskInfo, devicePath), 4, 8},
      {"DiskInfo.diskPath", offsetof(DiskInfo, diskPath), 8, 16},
      {"DiskInfo.letterCount", offsetof(DiskInfo, letterCount), 48, 60},
      {"DiskInfo.letters", offsetof(DiskInfo, letters), 52, 64},
      {"sizeof DiskInfo", sizeof(DiskInfo), 56, 72},
  };
  for (const auto& f : kFields) EXPECT_EQ(f.actual, wide ? f.wideOffset : f.narrow) << f.field;
}

}  // namespace
