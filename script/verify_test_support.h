// The verify program tests' tree making: files of a run made here block for block as the run makes
// them, patched on purpose, and the fixture that verifies them through the built program.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/block_identity.h"
#include "testing/script_program_fixture.h"

namespace quillet {
namespace verify_test {

using nlohmann::json;
namespace stdfs = std::filesystem;

inline constexpr std::uint64_t kSeed = 77;

inline std::vector<std::uint8_t> content(std::uint64_t seed, const std::string& relative, std::int64_t size) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  fillIdentifiedContent(seed, fileIdentity(relative), static_cast<std::uint64_t>(size), 0, bytes.data(),
                        bytes.size());
  return bytes;
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A file of the run of kSeed (or another seed) at root/relative.
inline void makeFile(const std::string& root, const std::string& relative, std::int64_t size,
                     std::uint64_t seed = kSeed) {
  stdfs::create_directories(stdfs::path(root + "/" + relative).parent_path());
  writeBytes(root + "/" + relative, content(seed, relative, size));
}

inline void patch(const std::string& path, std::int64_t offset, const std::vector<std::uint8_t>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

class VerifyProgramTest : public test_support::ScriptProgramTest {
 protected:
  VerifyProgramTest() : ScriptProgramTest(160 << 20) {}
  std::string root() const { return vol->path() + "/run"; }
  json report() const {
    std::ifstream in(vol->path() + "/report.json");
    return json::parse(in, nullptr, false);
  }
  test_support::ProgramResult verify(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"/v", "/root:'" + root() + "'",
                                     "/report:'" + vol->path() + "/report.json'", "/progress:off"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }
  // The one damaged file of the report by path.
  json damaged(const json& r, const std::string& path) const {
    for (const auto& f : r["verify"]["damaged_files"]) {
      if (f["path"] == path) return f;
    }
    return json();
  }
};

}  // namespace verify_test
}  // namespace quillet
