#include "dominosim/change_stream.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "dominosim/checksum.h"
#include "dominosim/le_bytes.h"
#include "dominosim/status.h"
#include "dominosim/volume_hold.h"
#include "platform/kit/file_io.h"

namespace dominosim {

using platform::kit::OpenFile;
using platform::kit::PReadAll;
using platform::kit::PWritePieces;
using platform::kit::RemoveFile;
using platform::kit::WritePiece;
using platform::kit::WriteAll;

namespace {

constexpr char kHeaderMagic[8] = {'D', 'S', 'I', 'M', 'C', 'H', 'G', '1'};
constexpr char kTrailerMagic[8] = {'D', 'S', 'I', 'M', 'C', 'E', 'N', 'D'};
constexpr std::size_t kWriteBuffer = 1 << 20;
// A stream up to this size is staged in memory by ChangeApplier.
constexpr std::uint64_t kStagedInMemory = 64 * 1024;

std::uint32_t CrcOn(bool& started, std::uint32_t crc, const void* data, std::size_t size) {
  if (!started) {
    started = true;
    return Crc32(data, size);
  }
  return Crc32(crc, data, size);
}

}  // namespace

std::uint64_t ChangeStreamSize(std::uint32_t entries) {
  return kStreamHeaderSize + std::uint64_t(entries) * kEntrySize + kTrailerSize;
}

ChangeStreamWriter::ChangeStreamWriter(int fd, const Id16& instanceId, std::uint32_t pageCount,
                                       std::uint32_t entries)
    : fd_(fd), entries_(entries), total_(ChangeStreamSize(entries)) {
  buffer_.reserve(fd_ < 0 ? std::size_t(total_) : std::size_t(std::min<std::uint64_t>(kWriteBuffer, total_)));
  std::uint8_t header[kStreamHeaderSize] = {};
  std::memcpy(header, kHeaderMagic, 8);
  PutU32(header + 8, 1);
  PutU32(header + 12, kPageSize);
  std::memcpy(header + 16, instanceId.data(), 16);
  PutU32(header + 32, pageCount);
  PutU32(header + 36, entries);
  PutU64(header + 40, total_);
  PutU32(header + 52, Crc32(header, 52));
  Chain(header, sizeof header);
  Put(header, sizeof header);
}

void ChangeStreamWriter::Chain(const void* data, std::size_t size) {
  crc_ = CrcOn(crcStarted_, crc_, data, size);
}

STATUS ChangeStreamWriter::Put(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  buffer_.insert(buffer_.end(), p, p + size);
  return buffer_.size() >= kWriteBuffer ? Flush() : NOERROR;
}

STATUS ChangeStreamWriter::Flush() {
  if (fd_ < 0) return NOERROR;  // in memory: the whole stream stays in the buffer
  if (int e = WriteAll(fd_, buffer_.data(), buffer_.size())) return StatusFromErrno(e);
  buffer_.clear();
  return NOERROR;
}

STATUS ChangeStreamWriter::Add(std::uint32_t pageNo, const std::uint8_t page[kPageSize]) {
  if (added_ >= entries_) return ERR_BAD_ARGUMENT;
  ++added_;
  std::uint8_t head[8];
  PutU32(head, pageNo);
  PutU32(head + 4, Crc32(page, kPageSize));
  Chain(head, sizeof head);
  if (STATUS s = Put(head, sizeof head)) return s;
  return Put(page, kPageSize);
}

STATUS ChangeStreamWriter::Finish() {
  if (added_ != entries_) return ERR_BAD_ARGUMENT;
  std::uint8_t trailer[kTrailerSize] = {};
  std::memcpy(trailer, kTrailerMagic, 8);
  PutU32(trailer + 8, entries_);
  PutU32(trailer + 12, crc_);
  PutU64(trailer + 16, total_);
  PutU32(trailer + 24, Crc32(trailer, 24));
  buffer_.insert(buffer_.end(), trailer, trailer + sizeof trailer);
  return Flush();
}

STATUS ChangeStreamParser::Feed(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (stage_ == Stage::Failed) return ERR_CHANGE_CORRUPT;
    if (stage_ == Stage::Done) {
      stage_ = Stage::Failed;  // bytes after the trailer
      return ERR_CHANGE_CORRUPT;
    }
    const std::uint8_t* element = nullptr;
    if (pending_.empty() && size >= need_) {
      element = data;  // whole in the caller's buffer: no copy
      data += need_;
      size -= need_;
    } else {
      std::size_t take = std::min(size, need_ - pending_.size());
      pending_.insert(pending_.end(), data, data + take);
      data += take;
      size -= take;
      if (pending_.size() == need_) element = pending_.data();
    }
    if (element != nullptr) {
      STATUS s = Element(element);
      pending_.clear();
      if (s != NOERROR) {
        stage_ = Stage::Failed;
        return s;
      }
    }
  }
  return stage_ == Stage::Failed ? ERR_CHANGE_CORRUPT : NOERROR;
}

void ChangeStreamParser::Chain(const void* data, std::size_t size) {
  crc_ = CrcOn(crcStarted_, crc_, data, size);
}

STATUS ChangeStreamParser::Element(const std::uint8_t* p) {
  switch (stage_) {
    case Stage::Header:
      if (std::memcmp(p, kHeaderMagic, 8) != 0 || GetU32(p + 52) != Crc32(p, 52) ||
          GetU32(p + 8) != 1 || GetU32(p + 12) != kPageSize)
        return ERR_CHANGE_CORRUPT;
      std::memcpy(header_.instanceId.data(), p + 16, 16);
      header_.pageCount = GetU32(p + 32);
      header_.entries = GetU32(p + 36);
      header_.total = GetU64(p + 40);
      if (header_.pageCount == 0 || header_.entries > header_.pageCount ||
          header_.total != ChangeStreamSize(header_.entries))
        return ERR_CHANGE_CORRUPT;
      Chain(p, kStreamHeaderSize);
      stage_ = header_.entries > 0 ? Stage::Entries : Stage::Trailer;
      need_ = header_.entries > 0 ? kEntrySize : kTrailerSize;
      break;
    case Stage::Entries: {
      std::uint32_t pageNo = GetU32(p);
      const std::uint8_t* page = p + 8;
      if (std::int64_t(pageNo) <= lastPage_ || pageNo >= header_.pageCount ||
          GetU32(p + 4) != Crc32(page, kPageSize))
        return ERR_CHANGE_CORRUPT;
      // A data page must carry its own number; the header page its header.
      if (pageNo > 0 && GetU32(page + kPagePayload) != pageNo) return ERR_CHANGE_CORRUPT;
      if (pageNo == 0) {
        DbHeader h;
        if (DecodeHeader(page, kPageSize, h) != NOERROR || h.instanceId != header_.instanceId ||
            h.pageCount != header_.pageCount)
          return ERR_CHANGE_CORRUPT;
      }
      Chain(p, 8);
      lastPage_ = pageNo;
      if (onEntry_) {
        if (STATUS s = onEntry_(pageNo, page)) return s;
      }
      if (++seen_ == header_.entries) {
        stage_ = Stage::Trailer;
        need_ = kTrailerSize;
      }
      break;
    }
    case Stage::Trailer:
      if (std::memcmp(p, kTrailerMagic, 8) != 0 || GetU32(p + 24) != Crc32(p, 24) ||
          GetU32(p + 8) != header_.entries || GetU32(p + 12) != crc_ || GetU64(p + 16) != header_.total)
        return ERR_CHANGE_CORRUPT;
      stage_ = Stage::Done;
      break;
    default:
      return ERR_CHANGE_CORRUPT;
  }
  return NOERROR;
}

STATUS ChangeApplier::Start(const std::string& targetPath, char volumeDrive,
                            std::uint64_t declaredSize, std::unique_ptr<ChangeApplier>& out) {
  auto applier = std::make_unique<ChangeApplier>();
  applier->target_ = targetPath;
  applier->drive_ = volumeDrive;
  applier->declared_ = declaredSize;
  applier->targetFd_ = OpenFile(targetPath, O_RDWR);
  if (!applier->targetFd_.valid()) return StatusFromErrno(errno);
  std::uint8_t bytes[kHeaderBytes];
  std::size_t got = 0;
  if (int e = PReadAll(applier->targetFd_.get(), bytes, sizeof bytes, 0, &got)) return StatusFromErrno(e);
  DbHeader header;
  if (STATUS s = DecodeHeader(bytes, got, header)) return s;
  applier->targetInstance_ = header.instanceId;
  if (declaredSize <= kStagedInMemory) {
    applier->inMemory_ = true;  // a short stream is staged in memory: no file to make and remove
    applier->staged_.reserve(std::size_t(declaredSize));
    out = std::move(applier);
    return NOERROR;
  }
  applier->stagingPath_ = targetPath + ".dsim-apply";
  RemoveFile(applier->stagingPath_);  // left by an earlier run that died
  applier->staging_ = OpenFile(applier->stagingPath_, O_RDWR | O_CREAT | O_EXCL, 0600);
  if (!applier->staging_.valid()) return StatusFromErrno(errno);
  out = std::move(applier);
  return NOERROR;
}

ChangeApplier::~ChangeApplier() { DropStaging(); }

void ChangeApplier::DropStaging() {
  staged_ = {};
  if (staging_.valid()) {
    staging_.reset();
    RemoveFile(stagingPath_);
  }
}

STATUS ChangeApplier::Fail(STATUS status) {
  failed_ = status;
  DropStaging();
  return status;
}

STATUS ChangeApplier::Feed(const void* data, std::size_t size) {
  if (failed_ != 0) return failed_;
  if (finished_) return ERR_BAD_APPLY_CONTEXT;
  if (size > declared_ - received_) return Fail(ERR_CHANGE_TOO_LONG);
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (STATUS s = parser_.Feed(p, size)) return Fail(s);
  if (parser_.headerKnown() && parser_.header().instanceId != targetInstance_)
    return Fail(ERR_CHANGE_OTHER_DB);
  if (parser_.headerKnown() && parser_.header().total != declared_) return Fail(ERR_CHANGE_CORRUPT);
  if (inMemory_) {
    staged_.insert(staged_.end(), p, p + size);
  } else if (int e = WriteAll(staging_.get(), p, size)) {
    return Fail(StatusFromErrno(e));
  }
  received_ += size;
  return NOERROR;
}

STATUS ChangeApplier::Finish() {
  if (failed_ != 0) return failed_;
  if (finished_) return ERR_BAD_APPLY_CONTEXT;
  finished_ = true;
  if (received_ != declared_) return Fail(ERR_CHANGE_TRUNCATED);
  if (declared_ == 0) {
    DropStaging();
    return NOERROR;
  }
  if (!parser_.complete()) return Fail(ERR_CHANGE_TRUNCATED);
  // The whole stream is sound: write its pages into the target.
  VolumeWriteGuard volume;
  if (!volume.Lock(drive_)) return Fail(ERR_IO);
  if (STATUS s = WritePages()) return Fail(s);
  DropStaging();
  return NOERROR;
}

STATUS ChangeApplier::WritePages() {
  // The staged stream was checked whole as it arrived: its entries go to
  // their pages in runs read from the staging file (or memory).
  constexpr std::size_t kRun = 256;
  std::uint32_t entries = parser_.header().entries;
  std::vector<std::uint8_t> buffer(inMemory_ ? 0 : std::min<std::size_t>(kRun, entries) * kEntrySize);
  for (std::uint32_t first = 0; first < entries; first += kRun) {
    std::size_t n = std::min<std::size_t>(kRun, entries - first);
    std::uint64_t offset = kStreamHeaderSize + std::uint64_t(first) * kEntrySize;
    const std::uint8_t* run = staged_.data() + offset;
    if (!inMemory_) {
      if (int e = PReadAll(staging_.get(), buffer.data(), n * kEntrySize, offset)) return StatusFromErrno(e);
      run = buffer.data();
    }
    // Entries of consecutive pages go out in one gathered write.
    for (std::size_t i = 0; i < n;) {
      std::uint32_t firstPage = GetU32(run + i * kEntrySize);
      std::size_t k = 1;
      while (i + k < n && k < kRun && GetU32(run + (i + k) * kEntrySize) == firstPage + k) ++k;
      WritePiece pieces[kRun];
      for (std::size_t j = 0; j < k; ++j) {
        pieces[j].data = run + (i + j) * kEntrySize + 8;
        pieces[j].size = kPageSize;
      }
      if (int e = PWritePieces(targetFd_.get(), pieces, int(k), std::uint64_t(firstPage) * kPageSize))
        return StatusFromErrno(e);
      i += k;
    }
  }
  if (int e = platform::kit::TruncateFile(targetFd_.get(),
                                            std::uint64_t(parser_.header().pageCount) * kPageSize))
    return StatusFromErrno(e);
  return NOERROR;
}

}  // namespace dominosim
