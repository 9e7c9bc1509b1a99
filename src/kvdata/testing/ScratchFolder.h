#pragma once
// A scratch folder for one test: created empty under the temporary directory, named after the
// process and the running test (so parallel runs never share one), and removed with everything in
// it when the object goes. Construct it while a test runs (a fixture member will do).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kvdata::testing {

class ScratchFolder {
 public:
  explicit ScratchFolder(std::string_view prefix) : path_(Name(prefix)) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;  // a folder a test already removed is fine
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

 private:
  static std::filesystem::path Name(std::string_view prefix) {
    // Parameterized tests are named "Test/Engine": one folder, not a folder inside another.
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(test.begin(), test.end(), '/', '_');
    return std::filesystem::temp_directory_path() /
           (std::string(prefix) + "-" + std::to_string(::getpid()) + "-" + test);
  }

  std::filesystem::path path_;
};

}  // namespace kvdata::testing
