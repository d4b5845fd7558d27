// rt --follow: the RadioText follows a "now playing" file.
#include "CtlRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <thread>

namespace {

// The way playout software replaces the file: write a new one, rename it over.
void replaceFile(const std::string &path, const std::string &content)
{
    writeFile(path + ".new", content);
    ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
}

} // namespace

// Waits for a missing file; writes each change once, trimmed, transliterated
// and cut to 64, nothing for an unchanged text; what the table lacks is named;
// SIGINT ends it cleanly.
TEST(CtlFollow, WritesEachChangeOfTheFileOnce)
{
    TestDir dir;
    const std::string file = dir.path("nowplaying.txt");
    BackgroundCtl ctl({"rt", "--charset", "rds", "--follow", file});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(ctl.requests().empty());
    replaceFile(file, "Ω Señor\n");
    ASSERT_TRUE(ctl.waitFor(16, "warning: ram.rt: dropped \"Ω\" (U+03A9)"));
    writeFile(file, "Second song\n"); // in place
    ASSERT_TRUE(ctl.waitFor(32));
    replaceFile(file, "  Third song  \nnext line\n");
    ASSERT_TRUE(ctl.waitFor(48));
    writeFile(file, "Third song\n");             // the same text: nothing sent
    replaceFile(file, "Third song\t\r\nmore\n"); // nor now
    std::remove(file.c_str());                   // briefly missing
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    replaceFile(file, std::string(70, 'x') + "\n");
    ASSERT_TRUE(ctl.waitFor(64));

    const CtlRun run = ctl.stop(SIGINT);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.requests, textWrite(0x30, "Se\x9Aor") + textWrite(0x30, "Second song") +
                                textWrite(0x30, "Third song") +
                                textWrite(0x30, std::string(64, 'x')));
    EXPECT_EQ(run.out, "wrote ram.rt \"Señor\"\nwrote ram.rt \"Second song\"\n"
                       "wrote ram.rt \"Third song\"\nwrote ram.rt \"" +
                           std::string(64, 'x') + "\"\n");
}

TEST(CtlFollow, AFailedWriteEndsIt)
{
    TestDir dir;
    const std::string file = dir.path("nowplaying.txt");
    writeFile(file, "Song\n");
    BackgroundCtl ctl({"rt", "--follow", file}, {"--fail-code", "0x31"});
    ASSERT_TRUE(ctl.waitFor(2));
    const CtlRun run = ctl.stop(0); // it ends by itself
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.requests, (Requests{ok(0x30, 0x536F, 0x6E67), failed(ok(0x31, 0x0D0D, 0x0D0D))}));
    EXPECT_THAT(run.err, testing::HasSubstr("ram.rt: write failed"));
}
