// The settings file: the INI layer's reading and writing rules and the six
// settings of the main window.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/atomic_file.h"
#include "app/private_profile.h"
#include "app/settings.h"

namespace brontel {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
  TempDir()
  {
    std::string tmpl = (fs::temp_directory_path() / "brontel-settings-XXXXXX").string();
    Path = mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(Path); }
  std::string File(const char* name) const { return (fs::path(Path) / name).string(); }
  std::string Path;
};

std::string Read(const std::string& path)
{
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void Write(const std::string& path, const std::string& text)
{
  std::ofstream f(path, std::ios::binary);
  f << text;
}

// One key read or written through a profile loaded from the file.
int32_t ReadInt(const std::string& path, std::string_view section, std::string_view key, int32_t def)
{
  TPrivateProfile p;
  p.Load(path);
  return p.GetInt(section, key, def);
}

bool WriteKey(const std::string& path, std::string_view section, std::string_view key, std::string_view value,
              std::string& error)
{
  TPrivateProfile p;
  if (p.Load(path, &error) == TPrivateProfile::TLoad::Failed || !p.Set(section, key, value)) return false;
  return p.Save(path, error);
}

std::string Reason(int err) { return std::error_code(err, std::generic_category()).message(); }

int EntriesIn(const std::string& folder)
{
  int n = 0;
  for (const auto& e : fs::directory_iterator(folder)) ++n, (void)e;
  return n;
}

// Writes as a disk that fills up after a few bytes, and one whose flush fails.
ssize_t WriteUntilFull(int fd, const void* data, std::size_t size)
{
  static constexpr std::size_t Room = 5;
  static_cast<void>(fd), static_cast<void>(data);
  if (size > Room) return static_cast<ssize_t>(Room);  // a short write first ...
  errno = ENOSPC;                                      // ... then no room at all
  return -1;
}
ssize_t WriteNothing(int, const void*, std::size_t) { return 0; }
int FailSync(int)
{
  errno = EIO;
  return -1;
}

TEST(ProfileInt, DecimalHexadecimalAndDefaults)
{
  EXPECT_EQ(ProfileInt("80", 5), 80);
  EXPECT_EQ(ProfileInt("-12", 5), -12);
  EXPECT_EQ(ProfileInt("+7", 5), 7);
  EXPECT_EQ(ProfileInt("0x2", 5), 2);
  EXPECT_EQ(ProfileInt("0X1f", 5), 31);
  EXPECT_EQ(ProfileInt("$A", 5), 10);
  EXPECT_EQ(ProfileInt("$ff", 5), 255);
  EXPECT_EQ(ProfileInt("-$10", 5), -16);
  EXPECT_EQ(ProfileInt("$FFFFFFFF", 5), -1);  // 32 bits
  EXPECT_EQ(ProfileInt("2147483647", 5), 2147483647);
  EXPECT_EQ(ProfileInt("-2147483648", 5), -2147483647 - 1);
  EXPECT_EQ(ProfileInt("007", 5), 7);

  for (const char* bad : {"", "abc", "0x", "$", "-", "12a", "1 2", "0x1g", "$100000000", "2147483648",
                          "-2147483649", "99999999999999999999", "1.5", "x10"})
    EXPECT_EQ(ProfileInt(bad, 5), 5) << '"' << bad << '"';
}

TEST(ProfileInt, BooleansAreNonZeroIntegersWithTheirDefault)
{
  EXPECT_TRUE(ProfileBool("1", false));
  EXPECT_TRUE(ProfileBool("2", false));
  EXPECT_TRUE(ProfileBool("-1", false));
  EXPECT_FALSE(ProfileBool("0", true));
  EXPECT_FALSE(ProfileBool("$0", true));
  EXPECT_TRUE(ProfileBool("yes", true));  // not a number: the default
  EXPECT_FALSE(ProfileBool("", false));
}

TEST(PrivateProfile, ReadsNamesCaseInsensitivelyAndTrimsValues)
{
  TempDir dir;
  const std::string path = dir.File("a.ini");
  Write(path,
        "; comment\r\n[form]\r\n  mainTOP =  12  \r\nQuoted=\"-3\"\r\n[Other]\r\nMainTop=99\r\n"
        "[FORM]\r\nMainLeft=1\r\n");
  TPrivateProfile p;
  ASSERT_EQ(p.Load(path), TPrivateProfile::TLoad::Ok);
  EXPECT_EQ(p.GetInt("Form", "MainTop", 0), 12);
  EXPECT_EQ(p.GetInt("FORM", "quoted", 0), -3);
  EXPECT_EQ(p.GetInt("other", "maintop", 0), 99);
  // Only the first section of a name is read.
  EXPECT_EQ(p.GetInt("Form", "MainLeft", 7), 7);
  EXPECT_EQ(p.GetString("Form", "Missing", "def"), "def");
  EXPECT_EQ(p.GetString("Nowhere", "MainTop", "def"), "def");
  EXPECT_EQ(ReadInt(path, "form", "maintop", 0), 12);
  EXPECT_EQ(ReadInt(dir.File("missing.ini"), "form", "maintop", 4), 4);
}

TEST(PrivateProfile, WritingOneKeyLeavesEverythingElseWhereItWas)
{
  TempDir dir;
  const std::string path = dir.File("a.ini");
  const std::string before =
      "; Brontel\r\n[Form]\r\nMainTop=5\r\nExtra=keep me\r\n\r\n[Mine]\r\nX=1\r\n";
  Write(path, before);
  std::string error;

  // An existing key is updated in place (its name compared without case).
  ASSERT_TRUE(WriteKey(path, "form", "maintop", "-12", error)) << error;
  EXPECT_EQ(Read(path), "; Brontel\r\n[Form]\r\nmaintop=-12\r\nExtra=keep me\r\n\r\n[Mine]\r\nX=1\r\n");

  // A missing key joins the end of its section, before the blank line.
  ASSERT_TRUE(WriteKey(path, "Form", "MainLeft", "3", error));
  EXPECT_EQ(Read(path),
            "; Brontel\r\n[Form]\r\nmaintop=-12\r\nExtra=keep me\r\nMainLeft=3\r\n\r\n[Mine]\r\nX=1\r\n");

  // A missing section goes to the end of the file; the file keeps its CR LF.
  ASSERT_TRUE(WriteKey(path, "Wave", "CentF", "95", error));
  EXPECT_EQ(Read(path), "; Brontel\r\n[Form]\r\nmaintop=-12\r\nExtra=keep me\r\nMainLeft=3\r\n\r\n"
                        "[Mine]\r\nX=1\r\n\r\n[Wave]\r\nCentF=95\r\n");
  {
    TPrivateProfile p;
    p.Load(path);
    EXPECT_EQ(p.GetString("WAVE", "centf", ""), "95");
  }

  // Names or values that would break a line are refused and change nothing.
  const std::string now = Read(path);
  EXPECT_FALSE(WriteKey(path, "Wave", "CentF", "1\n[Evil]", error));
  EXPECT_FALSE(WriteKey(path, "Wa]ve", "CentF", "1", error));
  EXPECT_FALSE(WriteKey(path, "Wave", "Cent=F", "1", error));
  EXPECT_FALSE(WriteKey(path, "", "CentF", "1", error));
  EXPECT_EQ(Read(path), now);
}

TEST(PrivateProfile, AFileWithoutFinalLineEndOrWithAByteOrderMarkReadsAndWritesBack)
{
  TempDir dir;
  const std::string path = dir.File("a.ini");
  Write(path, "\xEF\xBB\xBF[Wave]\nInput=4");
  EXPECT_EQ(ReadInt(path, "Wave", "Input", 0), 4);
  std::string error;
  ASSERT_TRUE(WriteKey(path, "Wave", "Input", "5", error));
  EXPECT_EQ(Read(path), "\xEF\xBB\xBF[Wave]\nInput=5\n");
}

TEST(PrivateProfile, SavingReplacesTheFileAtomicallyAndKeepsItsPermissions)
{
  TempDir dir;
  const std::string path = dir.File("a.ini");
  Write(path, "[A]\nB=1\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  std::string error;
  ASSERT_TRUE(WriteKey(path, "A", "B", "2", error));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Nothing but the file itself is left in the folder.
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir.Path)) ++entries, (void)e;
  EXPECT_EQ(entries, 1);

  // Through a symbolic link the target is written and the link stays a link.
  const std::string link = dir.File("link.ini");
  fs::create_symlink(path, link);
  ASSERT_TRUE(WriteKey(link, "A", "B", "3", error));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(path), "[A]\nB=3\n");
}

TEST(PrivateProfile, LineEndsAreKeptLineByLineAndAnUnclosedBracketIsNoSection)
{
  TempDir dir;
  const std::string path = dir.File("a.ini");
  Write(path, "; mixed\n[A]\r\nB=1\nC=2\r\r\n\r\n[D\nE=3\r\n");
  TPrivateProfile p;
  ASSERT_EQ(p.Load(path), TPrivateProfile::TLoad::Ok);
  EXPECT_EQ(p.Text(), Read(path)) << "read and written back unchanged";
  // "[D" names no section: E belongs to A.
  EXPECT_FALSE(p.Get("D", "E"));
  EXPECT_EQ(p.GetString("A", "E", ""), "3");
  ASSERT_TRUE(p.Set("A", "B", "7"));
  ASSERT_TRUE(p.Set("A", "F", "8"));
  ASSERT_TRUE(p.Set("G", "H", "9"));
  EXPECT_EQ(p.Text(), "; mixed\n[A]\r\nB=7\nC=2\r\r\n\r\n[D\nE=3\r\nF=8\n\n[G]\nH=9\n");

  // A file whose first line ends in CR LF gives new lines CR LF, the others keep theirs.
  Write(path, "[A]\r\nB=1\n");
  ASSERT_EQ(p.Load(path), TPrivateProfile::TLoad::Ok);
  ASSERT_TRUE(p.Set("A", "C", "2"));
  EXPECT_EQ(p.Text(), "[A]\r\nB=1\nC=2\r\n");
}

TEST(AtomicFile, AFullDiskOrAFailedFlushSaysWhyAndLeavesTheOldFileWhole)
{
  TempDir dir;
  const std::string path = dir.File("received.txt");
  Write(path, "old text\r\n");
  const std::string text(1000, 'x');
  struct TCase {
    TFileWriteCalls Calls;
    int Err;
  };
  for (const TCase& c : {TCase{{&WriteUntilFull, SystemFileWriteCalls().Sync}, ENOSPC},
                         TCase{{&WriteNothing, SystemFileWriteCalls().Sync}, ENOSPC},
                         TCase{{SystemFileWriteCalls().Write, &FailSync}, EIO}}) {
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(path, text, error, c.Calls));
    EXPECT_EQ(error, Reason(c.Err));
    EXPECT_EQ(Read(path), "old text\r\n");
    EXPECT_EQ(EntriesIn(dir.Path), 1) << "no temporary file left behind";
  }
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(path, text, error)) << error;
  EXPECT_EQ(Read(path), text);
}

TEST(AtomicFile, OnlyRegularFilesAreWrittenAndALinkToOneWritesItsTarget)
{
  TempDir dir;
  const std::string file = dir.File("file.txt");
  Write(file, "old");
  const std::string link = dir.File("link.txt");
  fs::create_symlink(file, link);
  const std::string chain = dir.File("chain.txt");
  fs::create_symlink(link, chain);
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(chain, "new", error)) << error;
  EXPECT_EQ(Read(file), "new");
  EXPECT_TRUE(fs::is_symlink(link) && fs::is_symlink(chain));

  const std::string toDevice = dir.File("device.ini");
  fs::create_symlink("/dev/null", toDevice);
  const std::string dangling = dir.File("dangling.ini");
  fs::create_symlink(dir.File("gone.ini"), dangling);
  const std::string fifo = dir.File("fifo.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {toDevice, dangling, fifo, std::string("/dev/null")}) {
    error.clear();
    EXPECT_FALSE(WriteFileAtomically(path, "x", error)) << path;
    EXPECT_EQ(error, NotRegularFileReason) << path;
  }
  EXPECT_TRUE(fs::is_symlink(toDevice));
  EXPECT_EQ(fs::read_symlink(toDevice), "/dev/null");
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_FALSE(fs::exists(dir.File("gone.ini")));
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(Settings, APipeOrADeviceInPlaceOfTheFileGivesTheDefaultsAndIsNeverReplaced)
{
  TempDir dir;
  const std::string fifo = dir.File("brontel.ini");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string toDevice = dir.File("device.ini");
  fs::create_symlink("/dev/zero", toDevice);
  for (const std::string& path : {fifo, toDevice}) {
    // Reading a pipe with no writer would wait for ever.
    const TSettings s = LoadSettings(path);
    EXPECT_EQ(s.CentFPosition, 80) << path;
    EXPECT_EQ(s.InputIndex, 0) << path;
    std::string reason;
    EXPECT_FALSE(SaveSettings(path, TSettings{}, reason)) << path;
    EXPECT_EQ(reason, NotRegularFileReason);
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_symlink(toDevice));
}

TEST(Settings, TheFileIsBesideTheExecutableWithTheExtensionIni)
{
  EXPECT_EQ(SettingsFileName("/opt/brontel/bin/brontel"), "/opt/brontel/bin/brontel.ini");
  EXPECT_EQ(SettingsFileName("/opt/brontel/bin/brontel.exe"), "/opt/brontel/bin/brontel.ini");
  EXPECT_EQ(SettingsFileName("/opt/v1.2/brontel"), "/opt/v1.2/brontel.ini");
  EXPECT_EQ(SettingsFileName("/home/u/.brontel"), "/home/u/.brontel.ini");
  EXPECT_EQ(SettingsFileName("brontel.app.bin"), "brontel.app.ini");
}

TEST(Settings, NoFileGivesTheDefaultsAndAFirstSaveWritesTheSixKeys)
{
  TempDir dir;
  const std::string path = dir.File("brontel.ini");
  const TSettings s = LoadSettings(path);
  EXPECT_EQ(s.MainTop, 0);
  EXPECT_EQ(s.MainLeft, 0);
  EXPECT_TRUE(s.DispSpectrum);
  EXPECT_TRUE(s.DispEyepattern);
  EXPECT_EQ(s.InputIndex, 0);
  EXPECT_EQ(s.CentFPosition, 80);

  std::string reason;
  ASSERT_TRUE(SaveSettings(path, s, reason)) << reason;
  EXPECT_EQ(Read(path),
            "[Form]\nMainTop=0\nMainLeft=0\n\n[Disp]\nSpectrum=1\nEyepattern=1\n\n[Wave]\nInput=0\nCentF=80\n");
}

TEST(Settings, RoundTripAndTheReadingEdgeCases)
{
  TempDir dir;
  const std::string path = dir.File("brontel.ini");
  TSettings s;
  s.MainTop = -40;
  s.MainLeft = 1700;
  s.DispSpectrum = false;
  s.DispEyepattern = true;
  s.InputIndex = 3;
  s.CentFPosition = 95;
  std::string reason;
  ASSERT_TRUE(SaveSettings(path, s, reason));
  const TSettings r = LoadSettings(path);
  EXPECT_EQ(r.MainTop, -40);
  EXPECT_EQ(r.MainLeft, 1700);
  EXPECT_FALSE(r.DispSpectrum);
  EXPECT_TRUE(r.DispEyepattern);
  EXPECT_EQ(r.InputIndex, 3);
  EXPECT_EQ(r.CentFPosition, 95);

  Write(path, "[Wave]\nInput=0x2\nCentF=\n[Disp]\nSpectrum=2\nEyepattern=0\n");
  TSettings e = LoadSettings(path);
  EXPECT_EQ(e.InputIndex, 2);
  EXPECT_EQ(e.CentFPosition, 80);
  EXPECT_TRUE(e.DispSpectrum);
  EXPECT_FALSE(e.DispEyepattern);
  Write(path, "[Wave]\nInput=$A\nCentF=abc\n");
  e = LoadSettings(path);
  EXPECT_EQ(e.InputIndex, 10);
  EXPECT_EQ(e.CentFPosition, 80);
  Write(path, "[Wave]\nInput=abc\nCentF=150\n");
  e = LoadSettings(path);
  EXPECT_EQ(e.InputIndex, 0);
  EXPECT_EQ(e.CentFPosition, 150);  // out of range: passed on unchanged
}

TEST(Settings, AFailedSaveLeavesTheFileAsItWasAndSaysWhy)
{
  TempDir dir;
  std::string reason;
  // The folder does not exist.
  EXPECT_FALSE(SaveSettings(dir.File("nowhere/brontel.ini"), TSettings{}, reason));
  EXPECT_FALSE(reason.empty());

  // The path is a folder: it cannot be read, so nothing is written over it.
  const std::string folder = dir.File("folder.ini");
  fs::create_directory(folder);
  reason.clear();
  EXPECT_FALSE(SaveSettings(folder, TSettings{}, reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_TRUE(fs::is_directory(folder));

  EXPECT_EQ(CannotWriteMessage("/opt/brontel.ini"), "/opt/brontel.ini に書き込めません");
  EXPECT_EQ(CannotWriteMessage("/opt/brontel.ini", "Permission denied"),
            "/opt/brontel.ini に書き込めません\nPermission denied");
}

}  // namespace
}  // namespace brontel
