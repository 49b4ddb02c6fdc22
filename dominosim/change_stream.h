// The change information of a backup: a self-describing, checksummed stream
// of final page images.
//
//   header (kStreamHeaderSize): magic, version, page size, database instance,
//          final page count, entry count, total length, header CRC
//   entry  (kEntrySize): page number, CRC of the image, the page image
//          (entries in ascending page order; page 0 is the header page)
//   trailer (kTrailerSize): magic, entry count, chain CRC (over the header
//          and every entry's page number and CRC, so a dropped, repeated or
//          reordered entry shows), total length, trailer CRC
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dominosim/page_format.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::UniqueFd;

constexpr std::size_t kStreamHeaderSize = 64;
constexpr std::size_t kEntrySize = 8 + kPageSize;
constexpr std::size_t kTrailerSize = 32;

std::uint64_t ChangeStreamSize(std::uint32_t entries);

// Writes a stream to a file descriptor through a buffer, or with fd -1
// into memory (TakeBytes after Finish).
class ChangeStreamWriter {
 public:
  ChangeStreamWriter(int fd, const Id16& instanceId, std::uint32_t pageCount, std::uint32_t entries);
  STATUS Add(std::uint32_t pageNo, const std::uint8_t page[kPageSize]);
  STATUS Finish();
  std::vector<std::uint8_t> TakeBytes() { return std::move(buffer_); }

 private:
  STATUS Put(const void* data, std::size_t size);
  STATUS Flush();
  void Chain(const void* data, std::size_t size);
  int fd_;
  std::uint32_t entries_;
  std::uint32_t added_ = 0;
  std::uint64_t total_;
  std::uint32_t crc_ = 0;
  bool crcStarted_ = false;
  std::vector<std::uint8_t> buffer_;
};

struct ChangeStreamHeader {
  Id16 instanceId{};
  std::uint32_t pageCount = 0;
  std::uint32_t entries = 0;
  std::uint64_t total = 0;
};

// Checks a stream as its bytes arrive, in pieces of any size. The first
// fault makes every later call return ERR_CHANGE_CORRUPT.
class ChangeStreamParser {
 public:
  using EntryFn = std::function<STATUS(std::uint32_t pageNo, const std::uint8_t* page)>;
  explicit ChangeStreamParser(EntryFn onEntry = nullptr) : onEntry_(std::move(onEntry)) {}
  STATUS Feed(const std::uint8_t* data, std::size_t size);
  bool headerKnown() const { return stage_ > Stage::Header; }
  bool complete() const { return stage_ == Stage::Done; }
  const ChangeStreamHeader& header() const { return header_; }

 private:
  enum class Stage { Header, Entries, Trailer, Done, Failed };
  STATUS Element(const std::uint8_t* p);
  void Chain(const void* data, std::size_t size);
  EntryFn onEntry_;
  Stage stage_ = Stage::Header;
  ChangeStreamHeader header_;
  std::vector<std::uint8_t> pending_;
  std::size_t need_ = kStreamHeaderSize;
  std::uint32_t seen_ = 0;
  std::int64_t lastPage_ = -1;
  std::uint32_t crc_ = 0;
  bool crcStarted_ = false;
  std::uint64_t consumed_ = 0;
};

// Applies a stream to a database file: the bytes are checked and staged (in
// memory when short, else in a temporary file beside the target), and
// nothing is written to the target until Finish has seen the whole stream
// sound. A damaged, truncated or foreign stream leaves the target as it was.
class ChangeApplier {
 public:
  // declaredSize: the length the stream was announced with (0: no change
  // information). ERR_FILE_NOT_FOUND, ERR_NOT_DATABASE, ERR_DB_CORRUPT for
  // the target, ERR_IO / ERR_DISK_FULL for the staging file.
  static STATUS Start(const std::string& targetPath, char volumeDrive, std::uint64_t declaredSize,
                      std::unique_ptr<ChangeApplier>& out);
  ChangeApplier() = default;  // use Start
  ~ChangeApplier();
  ChangeApplier(const ChangeApplier&) = delete;
  ChangeApplier& operator=(const ChangeApplier&) = delete;

  STATUS Feed(const void* data, std::size_t size);
  STATUS Finish();

 private:
  STATUS Fail(STATUS status);
  void DropStaging();
  STATUS WritePages();
  std::string target_;
  std::string stagingPath_;
  char drive_ = 0;
  UniqueFd targetFd_;
  UniqueFd staging_;
  bool inMemory_ = false;
  std::vector<std::uint8_t> staged_;  // the stream, when staged in memory
  Id16 targetInstance_{};
  std::uint64_t declared_ = 0;
  std::uint64_t received_ = 0;
  STATUS failed_ = 0;
  bool finished_ = false;
  ChangeStreamParser parser_;
};

}  // namespace dominosim
