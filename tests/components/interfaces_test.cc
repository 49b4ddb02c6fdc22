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

struct Row { const char* name; int ordinal, bound; };  // bound: the binding header's ordinal
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const Row kDominoApi[] = {
    {"InitRuntime", 15, ark::nnotes::InitRuntime::kOrdinal},
    {"TermRuntime", 13, ark::nnotes::TermRuntime::kOrdinal},
    {"OpenDatabase", 2005, ark::nnotes::OpenDatabase::kOrdinal},
    {"CloseDatabase", 2001, ark::nnotes::CloseDatabase::kOrdinal},
    {"GetErrorText", 707, ark::nnotes::GetErrorText::kOrdinal},
    {"GetDatabaseLogInfo", 5875, ark::nnotes::GetDatabaseLogInfo::kOrdinal},
    {"BackupStart", 5734, ark::nnotes::BackupStart::kOrdinal},
    {"BackupStop", 5735, ark::nnotes::BackupStop::kOrdinal},
    {"BackupEnd", 5736, ark::nnotes::BackupEnd::kOrdinal},
    {"GetChangeInfoSize", 5878, ark::nnotes::GetChangeInfoSize::kOrdinal},
    {"GetChangeInfo", 5879, ark::nnotes::GetChangeInfo::kOrdinal},
    {"ApplyChangeInfoStart", 5876, ark::nnotes::ApplyChangeInfoStart::kOrdinal},
    {"ApplyChangeInfo", 5880, ark::nnotes::ApplyChangeInfo::kOrdinal},
    {"ApplyChangeInfoEnd", 5877, ark::nnotes::ApplyChangeInfoEnd::kOrdinal},
    {"ArchiveBegin", 5925, ark::nnotes::ArchiveBegin::kOrdinal},
    {"ArchiveEnd", 5926, ark::nnotes::ArchiveEnd::kOrdinal},
    {"GetFirstArchiveLog", 5823, ark::nnotes::GetFirstArchiveLog::kOrdinal},
    {"GetNextArchiveLog", 5803, ark::nnotes::GetNextArchiveLog::kOrdinal},
    {"MarkLogArchived", 5804, ark::nnotes::MarkLogArchived::kOrdinal},
    {"GetLoggingStyle", 5927, ark::nnotes::GetLoggingStyle::kOrdinal},
    {"GetServerName", 1562, ark::nnotes::GetServerName::kOrdinal},
    {"AbbreviateName", 628, ark::nnotes::AbbreviateName::kOrdinal},
    {"TranslatePath", 391, ark::nnotes::TranslatePath::kOrdinal},
    {"TextToTimeDate", 223, ark::nnotes::TextToTimeDate::kOrdinal},
    {"RecoverDatabaseList", 5794, ark::nnotes::RecoverDatabaseList::kOrdinal},
    {"ReadDatabaseRecord", 2086, ark::nnotes::ReadDatabaseRecord::kOrdinal},
    {"WriteDatabaseRecord", 2087, ark::nnotes::WriteDatabaseRecord::kOrdinal},
};

// The operations outside the ordinal table: exported by their names.
struct Named { const char* name, *exported, *bound; };
const Named kNamed[] = {
    {"TakeDatabaseOffline", "NSFTakeDatabaseOffline", ark::nnotes::TakeDatabaseOffline::kName},
    {"BringDatabaseOnline", "NSFBringDatabaseOnline", ark::nnotes::BringDatabaseOnline::kName},
    {"GetModifiedNoteTable", "NSFDbGetModifiedNoteTable", ark::nnotes::GetModifiedNoteTable::kName},
    {"ScanIdTable", "IDScan", ark::nnotes::ScanIdTable::kName},
    {"DestroyIdTable", "IDDestroyTable", ark::nnotes::DestroyIdTable::kName},
    {"OpenNote", "NSFNoteOpen", ark::nnotes::OpenNote::kName},
    {"CloseNote", "NSFNoteClose", ark::nnotes::CloseNote::kName},
};

// The export lines after EXPORTS in the stand-in's .def file: "nnotes_Name
// @N NONAME" (name -> N) and "Exported = nnotes_Name" (*named: Exported ->
// Name); any other line there goes to *problems.
std::map<std::string, int> DefExports(std::string* problems, std::map<std::string, std::string>* named = nullptr) {
  std::ifstream in(NNOTES_DEF_PATH);
  const std::regex exportLine(R"(\s*nnotes_(\w+)\s+@(\d+)\s+NONAME\s*)"), blank(R"(\s*(;.*)?)");
  const std::regex namedLine(R"(\s*(\w+)\s*=\s*nnotes_(\w+)\s*)");
  std::map<std::string, int> out;
  std::map<std::string, std::string> byName;
  bool inExports = false;
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (std::regex_match(line, blank)) continue;
    if (!inExports) {
      inExports = line.rfind("EXPORTS", 0) == 0;
    } else if (std::regex_match(line, m, namedLine)) {
      if (!byName.emplace(m[1], m[2]).second) *problems += "twice: " + line + "\n";
    } else if (!std::regex_match(line, m, exportLine)) {
      *problems += "unexpected export line: " + line + "\n";
    } else if (!out.emplace(m[1], std::stoi(m[2])).second) {
      *problems += "twice: " + line + "\n";
    }
  }
  if (named != nullptr) *named = byName;
  return out;
}

struct BinaryInterfaces : ::testing::TestWithParam<Row> {};

TEST_P(BinaryInterfaces, DominoApiOrdinalsOfTheStandInAndTheBinding) {
  const Row& row = GetParam();
  std::string problems;
  const std::map<std::string, int> exported = DefExports(&problems);
  EXPECT_EQ(problems, "");
  EXPECT_EQ(exported.size(), std::size(kDominoApi)) << "the .def exports exactly the library's operations";
  const auto it = exported.find(row.name);
  ASSERT_NE(it, exported.end()) << "not exported";
  EXPECT_EQ(it->second, row.ordinal) << "in the .def";
  EXPECT_EQ(row.bound, row.ordinal) << "in the binding";
}
INSTANTIATE_TEST_SUITE_P(Rows, BinaryInterfaces, ::testing::ValuesIn(kDominoApi));

TEST(NamedExports, OfTheStandInAndTheBinding) {
  std::string problems;
  std::map<std::string, std::string> named;
  DefExports(&problems, &named);
  EXPECT_EQ(problems, "");
  EXPECT_EQ(named.size(), std::size(kNamed));
  for (const Named& n : kNamed) {
    EXPECT_EQ(named[n.exported], n.name) << "in the .def";
    EXPECT_STREQ(n.bound, n.exported) << "in the binding";
  }
}

// Each slot as the engine calls it and in the component's tables; the size of each table.
namespace engine = ark::snapshot::native;
namespace component = snapshotsvc::slots;
struct Slot { const char* method; int slot, engineSlot, componentSlot; };
void PrintTo(const Slot& s, std::ostream* os) { *os << s.method; }
const Slot kSlots[] = {
    {"IUnknown::QueryInterface", 0, engine::kSlotQueryInterface, component::kQueryInterface},
    {"IUnknown::Release", 2, engine::kSlotRelease, component::kRelease},
    {"IClassFactory::CreateInstance", 3, engine::kSlotCreateInstance, component::kCreateInstance},
    {"CreateSnapShot", 3, engine::kSlotCreateSnapShot, component::kCreateSnapShot},
    {"RestoreSnapShot", 4, engine::kSlotRestoreSnapShot, component::kRestoreSnapShot},
    {"DeleteSnapShot", 5, engine::kSlotDeleteSnapShot, component::kDeleteSnapShot},
    {"RenameSnapShot", 6, engine::kSlotRenameSnapShot, component::kRenameSnapShot},
    {"EnumerateSnapShots", 9, engine::kSlotEnumerateSnapShots, component::kEnumerateSnapShots},
    {"ListDisks", 12, engine::kSlotListDisks, component::kListDisks},
    {"GetSnapshotRoot", 3, engine::kSlotGetSnapshotRoot, component::kGetSnapshotRoot},
    {"SnapshotFilesSlots", 4, component::kSnapshotFilesCount, component::kSnapshotFilesCount},
    {"SnapshotServiceSlots", 10, component::kSnapshotServiceCount, component::kSnapshotServiceCount},
    {"DiskServiceSlots", 13, component::kDiskServiceCount, component::kDiskServiceCount},
};
struct SnapshotComponentSlots : ::testing::TestWithParam<Slot> {};

TEST_P(SnapshotComponentSlots, OfTheComponentAndTheEngine) {
  EXPECT_EQ(GetParam().engineSlot, GetParam().slot);
  EXPECT_EQ(GetParam().componentSlot, GetParam().slot);
}
INSTANTIATE_TEST_SUITE_P(Rows, SnapshotComponentSlots, ::testing::ValuesIn(kSlots));

// The documented offsets are a 32-bit build's; a 64-bit build has the same
// fields with 8-byte pointers, each at its natural alignment.
using namespace ark::snapshot::native;
struct Field { const char* field; std::size_t actual, narrow, wide; };
void PrintTo(const Field& f, std::ostream* os) { *os << f.field; }
const Field kFields[] = {
    {"sizeof(DriveInfo)", sizeof(DriveInfo), 8, 16},
    {"DriveSet.count", offsetof(DriveSet, count), 4, 4},
    {"DriveSet.drives", offsetof(DriveSet, drives), 8, 8},
    {"sizeof(List)", sizeof(List), 8, 16},
    {"List.items", offsetof(List, items), 4, 8},
    {"SnapshotInfo.creationTime", offsetof(SnapshotInfo, creationTimeLow), 4, 8},
    {"SnapshotInfo.extra", offsetof(SnapshotInfo, extra), 12, 16},
    {"sizeof(SnapshotInfo)", sizeof(SnapshotInfo), 40, 48},
    {"DiskInfo.devicePath", offsetof(DiskInfo, devicePath), 4, 8},
    {"DiskInfo.diskPath", offsetof(DiskInfo, diskPath), 8, 16},
    {"DiskInfo.letterCount", offsetof(DiskInfo, letterCount), 48, 60},
    {"DiskInfo.letters", offsetof(DiskInfo, letters), 52, 64},
    {"sizeof(DiskInfo)", sizeof(DiskInfo), 56, 72},
};
struct RecordLayouts : ::testing::TestWithParam<Field> {};

TEST_P(RecordLayouts, FollowTheDocumentedOffsets) {
  EXPECT_EQ(GetParam().actual, sizeof(void*) == 8 ? GetParam().wide : GetParam().narrow);
}
INSTANTIATE_TEST_SUITE_P(Rows, RecordLayouts, ::testing::ValuesIn(kFields));

}  // namespace
