#include "movrel-pack-file.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "movrel-pack-error.h"

namespace pack {

namespace fs = std::filesystem;

std::vector<unsigned char> ReadWholeFile(const std::string& path) {
  std::error_code error;
  std::ifstream in(path, std::ios::binary);
  if (!fs::is_regular_file(path, error) || !in) throw Refusal("cannot read '" + path + "'");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteWholeFile(const std::string& path, const std::vector<unsigned char>& bytes,
                    const std::string& modeOf) {
  const std::string temporary = path + ".partial";
  std::error_code error;
  const fs::perms mode = fs::status(modeOf, error).permissions();
  bool written = false;
  if (!error) {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    written = static_cast<bool>(out);
  }
  if (written) fs::permissions(temporary, mode, error);
  if (written && !error) fs::rename(temporary, path, error);
  if (written && !error) return;
  fs::remove(temporary, error);
  throw Refusal("cannot write '" + path + "'");
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

}  // namespace pack
