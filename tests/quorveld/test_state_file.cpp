// The state file: what was asked for survives a restart of the worker, is
// replaced atomically, and a damaged file is reported and left aside.
#include "WorkerFixture.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> filesIn(const fs::path &dir)
{
    std::set<std::string> names;
    for (const fs::directory_entry &e : fs::directory_iterator(dir))
        names.insert(e.path().filename());
    return names;
}

class StateFile : public WorkerTest {
protected:
    void SetUp() override
    {
        WorkerTest::SetUp();
        std::string pattern = testing::TempDir() + "quorveld-state-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        path = dir / "state.json";
    }
    void TearDown() override
    {
        WorkerTest::TearDown();
        fs::remove_all(dir);
    }

    qd::WorkerOptions withState() const
    {
        qd::WorkerOptions o = options();
        o.stateFile = path;
        return o;
    }

    bool said(const std::string &text)
    {
        for (const std::string &m : messagesSoFar())
            if (m.find(text) != std::string::npos)
                return true;
        return false;
    }
    bool saidAboutTheFile() { return said(path.string()); }

    fs::path dir, path;
};

std::string repeated(const std::string &text, int times)
{
    std::string r;
    while (times-- > 0)
        r += text;
    return r;
}

const nlohmann::json newsAndHello = {
    {"format", "quorveld state"},
    {"version", 1},
    {"asked", {{"ram.ps", "4E45575320202020"}, {"ram.rt", "48656C6C6F" + repeated("0D", 59)}}},
};

TEST_F(StateFile, AskedValuesSurviveARestart)
{
    startLoaded(withState());
    ask({{"ram.ps", "NEWS"}, {"ram.rt", "Hello"}, {"eeprom.pty", "5"}});
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    worker->stop();
    EXPECT_FALSE(saidAboutTheFile()) << "a missing file is no error";
    EXPECT_EQ(nlohmann::json::parse(readFile(path)), newsAndHello)
        << "the EEPROM ask the board took is not kept";
    EXPECT_EQ(filesIn(dir), std::set<std::string>{"state.json"});

    // A new worker on the board after a power cycle puts the RAM values back.
    worker.reset();
    board->powerCycle();
    board->clearLog();
    start(withState());
    ASSERT_TRUE(waitFor([&] { return worker->status().loads == 1 && settled(); }));
    Requests rt{textWrite(0x30, "Hell"), textWrite(0x31, "o\r\r\r")};
    for (int k = 2; k <= 9; ++k)
        rt.push_back(ok(0x30 + k, 0x0D0D, 0x0D0D));
    EXPECT_EQ(drained(), (fullLoad() + Requests{textWrite(0x21, "NEWS"), textWrite(0x22, "    ")} + rt));
    EXPECT_FALSE(saidAboutTheFile());
}

TEST_F(StateFile, IsReplacedByRenamingNeverRewrittenInPlace)
{
    start(withState(), {{"ram.ps", "FIRST"}});
    worker.reset();
    const std::string first = readFile(path);
    ASSERT_NE(first.find("4649525354202020"), std::string::npos) << first;
    fs::create_hard_link(path, dir / "before");

    start(withState(), {{"ram.ps", "SECOND"}});
    worker.reset();
    EXPECT_EQ(readFile(dir / "before"), first) << "the old file is untouched";
    EXPECT_NE(readFile(path).find("5345434F4E442020"), std::string::npos);
    EXPECT_EQ(filesIn(dir), (std::set<std::string>{"before", "state.json"})) << "no temporary file left";
}

TEST_F(StateFile, WriteFailureIsReported)
{
    qd::WorkerOptions o = withState();
    o.stateFile = (dir / "missing" / "state.json").string();
    start(o, {{"ram.ps", "NEWS"}});
    worker.reset();
    EXPECT_TRUE(said("state file " + o.stateFile + ": creating"));
}

class DamagedStateFile : public StateFile, public testing::WithParamInterface<const char *> {};

TEST_P(DamagedStateFile, IsReportedAndIgnored)
{
    writeFile(path, GetParam());
    startLoaded(withState());
    EXPECT_TRUE(saidAboutTheFile());
    EXPECT_NE(messagesSoFar().front().find("ignored"), std::string::npos) << messagesSoFar().front();
    for (const qd::FieldSnapshot &f : worker->fields())
        EXPECT_FALSE(f.asked) << "nothing of a damaged file is asked for";
    EXPECT_EQ(drained(), Requests{});
}

INSTANTIATE_TEST_SUITE_P(
    Contents, DamagedStateFile,
    testing::Values("", "not json", "[]", R"({"format": "other", "version": 1, "asked": {}})",
                    R"({"version": 1, "asked": {}})", R"({"format": "quorveld state", "version": 2, "asked": {}})",
                    R"({"format": "quorveld state", "version": "1", "asked": {}})",
                    R"({"format": "quorveld state", "version": 1, "asked": []})",
                    R"({"format": "quorveld state", "version": 1})",
                    R"({"format": "quorveld state", "version": 1, "asked": {"ram.pty": "03", "ram.xx": "03"}})",
                    R"({"format": "quorveld state", "version": 1, "asked": {"ram.ps": "4E4557"}})",
                    R"({"format": "quorveld state", "version": 1, "asked": {"ram.ps": "4E45575320202020FF"}})",
                    R"({"format": "quorveld state", "version": 1, "asked": {"ram.pty": "0G"}})",
                    R"({"format": "quorveld state", "version": 1, "asked": {"ram.pty": 3}})"));

} // namespace
