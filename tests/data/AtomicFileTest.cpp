#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "data/AtomicFile.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool Save(const std::string& path, const std::string& text) {
  AtomicFileWriter writer(path);
  return writer.Open() && std::fputs(text.c_str(), writer.Stream()) >= 0 && writer.Commit();
}

struct stat Stat(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info;
}

// The names in a folder, sorted: shows any temporary left behind.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

class AtomicFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  const size_t descriptorsBefore = OpenDescriptors();
  void TearDown() override { EXPECT_EQ(OpenDescriptors(), descriptorsBefore); }
};

TEST_F(AtomicFileTest, ReplaceKeepsTheModeAndANewFileTakesTheUmask) {
  const std::string path = dir.Path("tcon.ini");
  Write(path, "old content that is longer than the new one");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  const ino_t oldInode = Stat(path).st_ino;

  ASSERT_TRUE(Save(path, "new"));
  EXPECT_EQ(Read(path), "new");
  EXPECT_EQ(Stat(path).st_mode & 07777, 0640u);
  EXPECT_NE(Stat(path).st_ino, oldInode);  // renamed over, not rewritten
  EXPECT_EQ(Entries(dir.Path("")), std::vector<std::string>{"tcon.ini"});

  const mode_t oldMask = umask(027);
  const bool saved = Save(dir.Path("new.csv"), "a,b\r\n");
  umask(oldMask);
  ASSERT_TRUE(saved);
  EXPECT_EQ(Stat(dir.Path("new.csv")).st_mode & 07777, 0640u);
}

TEST_F(AtomicFileTest, SavingThroughALinkRewritesTheFileItNames) {
  fs::create_directory(dir.Path("real"));
  Write(dir.Path("real/log.eld"), "old");
  ASSERT_EQ(chmod(dir.Path("real/log.eld").c_str(), 0600), 0);
  // Two links in a row, both relative to their own folder.
  fs::create_symlink("real/log.eld", dir.Path("inner"));
  fs::create_directory(dir.Path("links"));
  fs::create_symlink("../inner", dir.Path("links/outer"));

  ASSERT_TRUE(Save(dir.Path("links/outer"), "new"));
  EXPECT_TRUE(fs::is_symlink(dir.Path("links/outer")));
  EXPECT_TRUE(fs::is_symlink(dir.Path("inner")));
  EXPECT_EQ(Read(dir.Path("real/log.eld")), "new");
  EXPECT_EQ(Stat(dir.Path("real/log.eld")).st_mode & 07777, 0600u);
  EXPECT_EQ(Entries(dir.Path("real")), std::vector<std::string>{"log.eld"});

  // A dangling link: the file it names is created, the link stays.
  fs::create_symlink("real/later.csv", dir.Path("dangling"));
  ASSERT_TRUE(Save(dir.Path("dangling"), "made"));
  EXPECT_TRUE(fs::is_symlink(dir.Path("dangling")));
  EXPECT_EQ(Read(dir.Path("real/later.csv")), "made");

  // Links that loop lead nowhere.
  fs::create_symlink("loop-b", dir.Path("loop-a"));
  fs::create_symlink("loop-a", dir.Path("loop-b"));
  EXPECT_FALSE(AtomicFileWriter(dir.Path("loop-a")).Open());
}

TEST_F(AtomicFileTest, FailuresLeaveTheOldContentAndNoTemporary) {
  const std::string path = dir.Path("log.eld");
  Write(path, "old");
  {
    AtomicFileWriter dropped(path);
    ASSERT_TRUE(dropped.Open());
    std::fputs("half", dropped.Stream());
  }
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Entries(dir.Path("")), std::vector<std::string>{"log.eld"});

  // A write the file system refuses, as a full disk would: here the
  // process's file size limit, which holds for root too.
  {
    AtomicFileWriter writer(path);
    ASSERT_TRUE(writer.Open());
    rlimit oldLimit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    rlimit small = oldLimit;
    small.rlim_cur = 4096;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string big(65536, 'x');
    std::fwrite(big.data(), 1, big.size(), writer.Stream());
    const bool committed = writer.Commit();
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(committed);
  }
  EXPECT_EQ(Read(path), "old");
  EXPECT_EQ(Entries(dir.Path("")), std::vector<std::string>{"log.eld"});

  // The folder vanishes between Open and Commit.
  fs::create_directory(dir.Path("gone"));
  {
    AtomicFileWriter writer(dir.Path("gone/x.csv"));
    ASSERT_TRUE(writer.Open());
    std::fputs("text", writer.Stream());
    fs::remove_all(dir.Path("gone"));
    EXPECT_FALSE(writer.Commit());
    EXPECT_FALSE(writer.Commit());
  }
  EXPECT_FALSE(fs::exists(dir.Path("gone")));

  // Nothing that is not a regular file is replaced; no folder is made.
  EXPECT_FALSE(AtomicFileWriter(dir.Path("")).Open());
  fs::create_directory(dir.Path("folder"));
  EXPECT_FALSE(AtomicFileWriter(dir.Path("folder")).Open());
  EXPECT_FALSE(AtomicFileWriter("/dev/null").Open());
  EXPECT_FALSE(AtomicFileWriter(dir.Path("missing/x.ini")).Open());
  EXPECT_FALSE(fs::exists(dir.Path("missing")));
}

// Makes a folder take no new file, in a way that stops root too where the
// file system allows it: the immutable flag. Undone on destruction so that
// the folder can be removed.
class FolderTakingNoNewFile {
 public:
  explicit FolderTakingNoNewFile(const std::string& path) : path_(path) {
    if (geteuid() != 0) {
      locked_ = chmod(path.c_str(), 0555) == 0;
      return;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      immutable_ = locked_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0) close(fd);
  }
  ~FolderTakingNoNewFile() {
    if (!locked_) return;
    if (!immutable_) {
      chmod(path_.c_str(), 0755);
      return;
    }
    const int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    close(fd);
  }
  bool Locked() const { return locked_; }

 private:
  std::string path_;
  bool locked_ = false;
  bool immutable_ = false;
};

TEST_F(AtomicFileTest, FolderTakingNoNewFileIsWrittenInPlaceOrNotAtAll) {
  fs::create_directory(dir.Path("locked"));
  const std::string path = dir.Path("locked/tcon.ini");
  Write(path, "old content, longer than the new");
  const ino_t oldInode = Stat(path).st_ino;
  FolderTakingNoNewFile locked(dir.Path("locked"));
  if (!locked.Locked())
    GTEST_SKIP() << "running as root on a file system without the immutable flag: no folder "
                    "here stops root from creating files, so the in-place rule goes untested";

  ASSERT_TRUE(Save(path, "new"));
  EXPECT_EQ(Read(path), "new");
  EXPECT_EQ(Stat(path).st_ino, oldInode);
  EXPECT_EQ(Entries(dir.Path("locked")), std::vector<std::string>{"tcon.ini"});

  EXPECT_FALSE(AtomicFileWriter(dir.Path("locked/new.csv")).Open());
  EXPECT_EQ(Entries(dir.Path("locked")), std::vector<std::string>{"tcon.ini"});
}

}  // namespace
