#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "platform/posix_file_system.h"
#include "support/fault_file_system.h"
#include "support/scratch_dir.h"

namespace vok {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

TEST(Wildcards, MatchByteByByte) {
  const std::vector<std::tuple<const char*, const char*, bool>> cases = {
      {"*.asp", "page.asp", true}, {"*.asp", "page.aspx", false}, {"p?ge.*", "page.htm", true},
      {"*", "", true}, {"?", "", false}, {"a*b*c", "aXbYbZc", true}, {"a*b*c", "aXbYbZ", false},
      {"PAGE.ASP", "page.asp", false}};
  for (const auto& [pattern, name, match] : cases) {
    EXPECT_EQ(WildcardMatch(pattern, name), match) << pattern << " " << name;
  }
}

// A scratch file has no name until it is published (nothing to see, nothing
// left after a crash), is private until then, and replaces a planted link
// instead of writing through it.
TEST(PosixFileSystem, ScratchFilesAreUnseenUntilPublishedAndReplaceLinks) {
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed" : "private name");
    ScratchDir dir;
    PosixFileSystem fs(SystemRandom(), unnamed);
    WriteFile(dir / "victim", "precious");
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "planted").c_str()), 0);
    std::unique_ptr<ScratchFile> f;
    ASSERT_TRUE(fs.CreateScratch(dir.path(), &f).ok() && f->Append("fresh").ok() && f->Sync().ok());
    const std::vector<std::string> seen = dir.Entries();
    EXPECT_EQ(seen.size(), unnamed ? 2u : 3u);
    for (const std::string& name : seen) {
      struct stat st {};
      ASSERT_EQ(::lstat((dir / name).c_str(), &st), 0);
      if (name != "planted" && name != "victim") EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    ASSERT_TRUE(f->SetMode(0640).ok() && f->Publish(dir / "planted").ok());
    EXPECT_EQ(ReadFile(dir / "planted"), "fresh");
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "planted"));
    EXPECT_EQ(ReadFile(dir / "victim"), "precious");
    f.reset();
    // Dropped unpublished, it leaves nothing.
    ASSERT_TRUE(fs.CreateScratch(dir.path(), &f).ok() && f->Append("lost").ok());
    f.reset();
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"planted", "victim"}));
  }
}

// Scratch files left by dead processes of this machine are swept; those of
// live processes and of other machines stay.
TEST(PosixFileSystem, StaleScratchFilesOfDeadProcessesAreRemoved) {
  ScratchDir dir;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const std::string dead = ScratchName(dir.path(), 0x1A2B, child, host);
  const std::string live = ScratchName(dir.path(), 0x1A2C, ::getppid(), host);
  const std::string elsewhere = ScratchName(dir.path(), 0x1A2D, child, "another-host");
  for (const std::string& f : {dead, live, elsewhere}) WriteFile(f, "left over");
  long pid = 0;
  std::string owner;
  EXPECT_TRUE(ParseScratchName(dead.substr(dir.path().size()), &pid, &owner) && pid == child &&
              owner == host);
  EXPECT_FALSE(ParseScratchName("VOK1A2B.TMP", &pid, &owner));
  PosixFileSystem fs;
  std::unique_ptr<ScratchFile> f;
  ASSERT_TRUE(fs.CreateScratch(dir.path(), &f).ok());
  EXPECT_EQ(dir.Entries().size(), 2u);
  EXPECT_FALSE(test::Exists(dead));
}

// Private scratch names come from the random source: a name in use is drawn
// again.
TEST(PosixFileSystem, APrivateScratchNameInUseIsDrawnAgain) {
  ScratchDir dir;
  test::SequenceRandom random({0x10007, 0x7, 0x9});
  PosixFileSystem fs(random, /*unnamed_scratch=*/false);
  std::unique_ptr<ScratchFile> first, second;
  ASSERT_TRUE(fs.CreateScratch(dir.path(), &first).ok());
  ASSERT_TRUE(fs.CreateScratch(dir.path(), &second).ok());
  std::vector<std::string> codes;
  for (const std::string& name : dir.Entries()) codes.push_back(name.substr(0, 8));
  EXPECT_EQ(codes, (std::vector<std::string>{".VOK0007", ".VOK0009"}));
}

// Only regular files are read; a FIFO without a writer does not hold the
// open.
TEST(PosixFileSystem, OnlyRegularFilesAreOpenedForReading) {
  ScratchDir dir;
  PosixFileSystem fs;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder");
  std::unique_ptr<ReadableFile> f;
  EXPECT_EQ(fs.OpenForRead(dir / "fifo", &f).message(), "Not a regular file");
  EXPECT_EQ(fs.OpenForRead("/dev/null", &f).message(), "Not a regular file");
  EXPECT_EQ(fs.OpenForRead(dir / "folder", &f).code(), EISDIR);
}

TEST(PosixFileSystem, TemporaryFolderComesFromTMPDIRAndEndsInASeparator) {
  PosixFileSystem fs;
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/var/tmp", 1);
  EXPECT_EQ(fs.TempPath(), "/var/tmp/");
  ::unsetenv("TMPDIR");
  EXPECT_EQ(fs.TempPath(), "/tmp/");
  if (old) ::setenv("TMPDIR", saved.c_str(), 1);
}

// A name that exists as written is that file; otherwise a backslash
// separates folders.
TEST(Paths, BackslashesSeparateFoldersUnlessTheNameExistsAsWritten) {
  ScratchDir dir;
  EXPECT_EQ(NativePath(R"(C:\dir\file.txt)"), "C:/dir/file.txt");
  EXPECT_EQ(FolderOf(R"(a\b/c.txt)"), "a/b/");
  EXPECT_EQ(FolderOf("c.txt"), "./");
  const std::string literal = dir / R"(back\slash.html)";
  EXPECT_EQ(NativePath(literal), dir / "back/slash.html");
  WriteFile(literal, "x");
  EXPECT_EQ(NativePath(literal), literal);
  EXPECT_EQ(FolderOf(literal), dir.path());
}

TEST(PosixFileSystem, ReadsOfAnySizeAndSeeksGiveTheFileBytes) {
  test::ScratchDir dir;
  std::string bytes(1 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 % 251);
  test::WriteFile(dir / "big", bytes);
  PosixFileSystem fs;
  std::unique_ptr<ReadableFile> f;
  ASSERT_TRUE(fs.OpenForRead(dir / "big", &f).ok());
  std::string got;
  // Small reads come from the read-ahead, large ones bypass it, seeks drop it.
  for (size_t n : {3u, 300000u, 5u, 4096u, 600000u, 1u, 1u << 20}) {
    std::string chunk(n, '\0');
    size_t k = 0;
    ASSERT_TRUE(f->Read(n, chunk.data(), &k).ok());
    got.append(chunk, 0, k);
    EXPECT_EQ(f->Tell(), static_cast<int64_t>(got.size()));
  }
  EXPECT_EQ(got, bytes);
  ASSERT_TRUE(f->Seek(7).ok());
  std::string chunk(10, '\0');
  size_t k = 0;
  ASSERT_TRUE(f->Read(10, chunk.data(), &k).ok());
  EXPECT_EQ(chunk, bytes.substr(7, 10));
}

}  // namespace
}  // namespace vok
