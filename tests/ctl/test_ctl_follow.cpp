// rt --follow: the RadioText follows a "now playing" file.
#include "CtlRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <thread>

using testing::HasSubstr;

namespace {

// The way playout software replaces the file: write a new one, rename it over.
void replaceFile(const std::string &path, const std::string &content)
{
    writeFile(path + ".new", content);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
}

std::vector<std::string> batch(const std::vector<std::string> &requests, size_t n)
{
    return {requests.begin() + static_cast<std::ptrdiff_t>(16 * n),
            requests.begin() + static_cast<std::ptrdiff_t>(16 * (n + 1))};
}

} // namespace

TEST(CtlFollow, WritesEachChangeOfTheFileOnceAndNothingForAnUnchangedText)
{
    TestDir dir;
    const std::string file = dir.path("nowplaying.txt");
    writeFile(file, "First song\n");
    BackgroundCtl ctl({"rt", "--follow", file});
    ASSERT_TRUE(ctl.waitForRequests(16));

    writeFile(file, "Second song\n"); // in place
    ASSERT_TRUE(ctl.waitForRequests(32));
    replaceFile(file, "  Third song  \nnext line\n");
    ASSERT_TRUE(ctl.waitForRequests(48));
    writeFile(file, "Third song\n");            // the same text: nothing sent
    replaceFile(file, "Third song\t\r\nmore\n"); // nor now
    std::remove(file.c_str());                   // briefly missing
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    replaceFile(file, std::string(70, 'x') + "\n");
    ASSERT_TRUE(ctl.waitForRequests(64));

    const CtlRun run = ctl.stop(SIGTERM);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.requests.size(), 64u);
    EXPECT_EQ(batch(run.requests, 0), textWrite(0x30, "First song"));
    EXPECT_EQ(batch(run.requests, 1), textWrite(0x30, "Second song"));
    EXPECT_EQ(batch(run.requests, 2), textWrite(0x30, "Third song"));
    EXPECT_EQ(batch(run.requests, 3), textWrite(0x30, std::string(64, 'x')));
    EXPECT_EQ(run.out, "wrote ram.rt \"First song\"\nwrote ram.rt \"Second song\"\n"
                       "wrote ram.rt \"Third song\"\nwrote ram.rt \"" + std::string(64, 'x') + "\"\n");
}

TEST(CtlFollow, WaitsForAMissingFileAndEndsCleanlyOnSigint)
{
    TestDir dir;
    const std::string file = dir.path("nowplaying.txt");
    BackgroundCtl ctl({"rt", "--eeprom", "--charset", "rds", "--follow", file});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(ctl.requests().empty());
    replaceFile(file, "Señor\n");
    ASSERT_TRUE(ctl.waitForRequests(16));
    const CtlRun run = ctl.stop(SIGINT);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.requests, textWrite(0x70, "Se\x9Aor"));
}

TEST(CtlFollow, ATextTheTableLacksIsReportedAndTheFollowingGoesOn)
{
    TestDir dir;
    const std::string file = dir.path("nowplaying.txt");
    writeFile(file, "Ωmega\n");
    BackgroundCtl ctl({"rt", "--follow", file});
    ASSERT_TRUE(ctl.waitForError("\"Ω\" (U+03A9) is not in Windows-1252"));
    replaceFile(file, "Omega\n");
    ASSERT_TRUE(ctl.waitForRequests(16));
    const CtlRun run = ctl.stop(SIGTERM);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.requests, textWrite(0x30, "Omega"));
}

TEST(CtlFollow, AFailedWriteEndsIt)
{
    TestDir dir;
    const std::string file = dir.path("nowplaying.txt");
    writeFile(file, "Song\n");
    BackgroundCtl ctl({"rt", "--follow", file}, {"--fail-code", "0x31"});
    ASSERT_TRUE(ctl.waitForRequests(2));
    const CtlRun run = ctl.stop(0); // it ends by itself
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.requests.size(), 2u);
    EXPECT_THAT(run.err, HasSubstr("ram.rt: write failed"));
}
