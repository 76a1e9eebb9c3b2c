// Any bytes as a settings file: load it, set a key, save it, load it again.
// Loading never fails on content, the key set reads back as set, and what was
// saved loads back as the same text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "app/private_profile.h"
#include "fuzz_check.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Dir()
{
  static const fs::path dir = [] {
    // Save flushes to disk; in memory (tmpfs) that costs nothing.
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    // libFuzzer ends without running exit handlers: the folders of runs that
    // are over are removed by the next one.
    const std::string prefix = "brontel-fuzz-settings-";
    for (const auto& e : fs::directory_iterator(base, ec)) {
      const std::string name = e.path().filename().string();
      if (name.rfind(prefix, 0) == 0 && !fs::exists("/proc/" + name.substr(prefix.size()), ec))
        fs::remove_all(e.path(), ec);
    }
    fs::path d = base / (prefix + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// A value that reads back exactly: blanks around a value and matching quotes
// are dropped on reading.
bool ReadsBackAsIs(std::string_view v)
{
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return v.empty() || (!blank(v.front()) && !blank(v.back()) && v.front() != '"' && v.front() != '\'');
}

}  // namespace

// The bytes after the last NUL are the value to set; the bytes before it
// (all of them when there is none) are the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = all.rfind('\0');
  const std::string_view file = cut == std::string_view::npos ? all : all.substr(0, cut);
  const std::string_view value = cut == std::string_view::npos ? std::string_view("80") : all.substr(cut + 1);

  const std::string path = (Dir() / "brontel.ini").string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    if (!out) return 0;
  }
  brontel::TPrivateProfile profile;
  std::string error;
  FUZZ_CHECK(profile.Load(path, &error) == brontel::TPrivateProfile::TLoad::Ok);

  const bool set = profile.Set("Wave", "CentF", value);
  const std::string saved = profile.Text();
  FUZZ_CHECK(profile.Save(path, error));

  brontel::TPrivateProfile again;
  FUZZ_CHECK(again.Load(path, &error) == brontel::TPrivateProfile::TLoad::Ok);
  if (set) {
    const auto got = again.Get("Wave", "CentF");
    FUZZ_CHECK(got.has_value());
    if (ReadsBackAsIs(value)) FUZZ_CHECK(*got == value);
  }
  FUZZ_CHECK(again.Text() == saved);
  return 0;
}
