#include "data/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <utility>

namespace {

// Beyond this many links in a row the name is taken to loop, as the kernel
// does.
constexpr int kMaxLinkHops = 40;

// Follows symbolic links from path to the name of the file they end at. A
// dangling link ends at the name it holds, so the save creates that file.
// False when the links loop or a link cannot be read.
bool FollowLinks(std::string& path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    char link[4096];
    const ssize_t length = readlink(path.c_str(), link, sizeof link);
    if (length <= 0 || static_cast<size_t>(length) == sizeof link) return false;
    const std::filesystem::path next(std::string(link, static_cast<size_t>(length)));
    // A relative link is relative to the folder that holds it.
    path = next.is_absolute() ? next.string()
                              : (std::filesystem::path(path).parent_path() / next).string();
  }
  return false;
}

// The temporary is hidden, names the file it stands for and is unique to
// this process and this save. The target's name is shortened so that the
// temporary's name stays within the file system's limit.
std::string TemporaryName(const std::string& baseName) {
  static std::atomic<unsigned> serial{0};
  return "." + baseName.substr(0, 200) + "." + std::to_string(getpid()) + "-" +
         std::to_string(serial++) + ".tmp";
}

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string target) : target_(std::move(target)) {}

AtomicFileWriter::~AtomicFileWriter() { Discard(); }

bool AtomicFileWriter::Open() {
  if (folder_ >= 0 || stream_ != nullptr) return false;
  replacing_ = false;
  std::string path = target_;
  if (path.empty() || !FollowLinks(path)) return false;
  const std::filesystem::path finalPath(path);
  baseName_ = finalPath.filename().string();
  if (baseName_.empty() || baseName_ == "." || baseName_ == "..") return false;
  std::string folderName = finalPath.parent_path().string();
  if (folderName.empty()) folderName = ".";

  // Every later step names files relative to this folder, so the temporary
  // and the rename stay in one place even if the folder is moved meanwhile.
  folder_ = open(folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) return false;

  struct stat old {};
  if (fstatat(folder_, baseName_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
    // A folder, a device or a pipe is not replaced by a regular file; a
    // link here was swapped in after FollowLinks looked.
    if (!S_ISREG(old.st_mode)) {
      Discard();
      return false;
    }
    replacing_ = true;
    oldMode_ = old.st_mode & 07777;
    oldOwner_ = old.st_uid;
    oldGroup_ = old.st_gid;
  } else if (errno != ENOENT) {
    Discard();
    return false;
  }

  // O_EXCL: the temporary is always a new file, never something that
  // already had its name (a link planted there is not followed). A new file
  // gets 0666 less the umask, as any file the user creates; a replacement
  // stays private until Commit gives it the old file's mode.
  const mode_t createMode = replacing_ ? 0600 : 0666;
  int fd = -1;
  int createError = EEXIST;
  for (int attempt = 0; attempt < 100 && fd < 0 && createError == EEXIST; ++attempt) {
    tempName_ = TemporaryName(baseName_);
    fd = openat(folder_, tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
    createError = fd < 0 ? errno : 0;
  }
  if (fd < 0) {
    tempName_.clear();
    const bool folderTakesNoNewFile =
        createError == EACCES || createError == EPERM || createError == EROFS;
    if (!replacing_ || !folderTakesNoNewFile) {
      Discard();
      return false;
    }
    // The folder takes no new file, but the file itself may be writable:
    // it is truncated and rewritten where it is. This cannot be atomic: a
    // failure from here on leaves the file short or partly written. It is
    // still better than being unable to save at all.
    fd = openat(folder_, baseName_.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      Discard();
      return false;
    }
  }

  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    close(fd);
    Discard();
    return false;
  }
  return true;
}

bool AtomicFileWriter::Commit() {
  if (stream_ == nullptr) return false;
  // A write that failed earlier may have had its buffer dropped, so a
  // clean flush alone proves nothing.
  bool ok = std::ferror(stream_) == 0;
  ok = std::fflush(stream_) == 0 && ok;
  ok = fsync(fileno(stream_)) == 0 && ok;
  if (ok && replacing_ && !tempName_.empty()) {
    // The owner first: changing it clears set-id bits that the mode then
    // restores. Only root or the owner may give the file away; anyone else
    // keeps the save as their own, with the old mode.
    if (fchown(fileno(stream_), oldOwner_, oldGroup_) != 0) {
      // Not an error: the content is what matters.
    }
    ok = fchmod(fileno(stream_), oldMode_) == 0;
  }
  ok = std::fclose(stream_) == 0 && ok;
  stream_ = nullptr;

  if (!tempName_.empty()) {
    ok = ok && renameat(folder_, tempName_.c_str(), folder_, baseName_.c_str()) == 0;
    if (ok) {
      tempName_.clear();
      // The rename is durable only once the folder is on disk too. The new
      // file is in place either way, so a folder that cannot be synced
      // does not make the save fail.
      const int folderForSync = openat(folder_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (folderForSync >= 0) {
        fsync(folderForSync);
        close(folderForSync);
      }
    }
  }
  Discard();
  return ok;
}

// Closes whatever is still open and removes a temporary that was not put in
// place. Safe to call at any point, and more than once.
void AtomicFileWriter::Discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (folder_ >= 0) {
    if (!tempName_.empty()) unlinkat(folder_, tempName_.c_str(), 0);
    close(folder_);
    folder_ = -1;
  }
  tempName_.clear();
}
