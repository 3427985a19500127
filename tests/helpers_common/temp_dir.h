// Shared test helpers: a real temporary directory, whole-file reads and writes, a check for the
// message of an expected error, and a fixture for tests of the files the program rewrites.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/files.h"

namespace velotrax::testing {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
#ifdef _WIN32
    // No mkdtemp here: a random name, made only when it is new.
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
      const std::filesystem::path dir =
          std::filesystem::temp_directory_path() / ("velotrax-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(dir)) path_ = dir.string();
      if (attempt == 100) throw std::runtime_error("no temporary directory");
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "velotrax-test-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const {
    return path_;
  }
  std::string File(const std::string& name) const {
    return path_ + "/" + name;
  }
  // The names in the directory, sorted; shows stray temporary files.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// The message of the error of type E that f raises; a note when it raises none or another one.
template <typename E, typename F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("<other error: ") + e.what() + ">";
  }
  return "<no error>";
}

// A test in its own temporary directory; the system calls that replace files, which a test may
// swap to make them fail, are put back after it.
class TempDirTest : public ::testing::Test {
 protected:
  void TearDown() override { file_replace_calls = saved_; }
  FileReplaceCalls saved_ = file_replace_calls;
  TempDir dir_;
};

}  // namespace velotrax::testing
