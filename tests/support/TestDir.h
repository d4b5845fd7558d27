// A directory of its own for each test, what a file holds, and waiting for a
// condition with a bound: for tests that look at what a program wrote.
#ifndef TEST_DIR_H
#define TEST_DIR_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>

// Made at construction, removed with what it holds at destruction.
class TestDir {
public:
    TestDir()
    {
        std::string pattern = testing::TempDir() + "quorvel-test-XXXXXX";
        dir_ = mkdtemp(pattern.data()) ? pattern : "";
        EXPECT_FALSE(dir_.empty()) << "cannot make a test directory";
    }
    ~TestDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TestDir(const TestDir &) = delete;
    TestDir &operator=(const TestDir &) = delete;
    std::string path(const std::string &name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Whether the condition held within `seconds`, tried every 10 ms.
inline bool waitUntil(const std::function<bool()> &condition, int seconds = 20)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

#endif
