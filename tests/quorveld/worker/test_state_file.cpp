// The state file: what was asked for survives a restart of the worker, is
// replaced atomically, and a damaged file is reported and left aside.
#include "WorkerFixture.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

class StateFile : public WorkerTest {
protected:
    void SetUp() override
    {
        WorkerTest::SetUp();
        dir = testDir.path("");
        path = dir / "state.json";
        withState.stateFile = path;
    }

    long files() const { return std::distance(fs::directory_iterator(dir), {}); }

    TestDir testDir;
    fs::path dir, path;
    qd::WorkerOptions withState = options();
};

// Saved at the stop without the EEPROM ask the board took; a new worker on
// the power-cycled board puts the RAM values back, unless asked otherwise
// before its start; the file is replaced by a rename, not rewritten.
TEST_F(StateFile, AskedValuesSurviveARestartAndTheFileIsReplaced)
{
    startLoaded(withState);
    ask({{"ram.ps", "NEWS"}, {"ram.rt", "Hello"}, {"eeprom.pty", "5"}});
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    worker->stop();
    const std::string first = readFile(path);
    std::string rt = "48656C6C6F";
    for (int i = 0; i < 59; ++i)
        rt += "0D";
    const nlohmann::json asked = {{"ram.ps", "4E45575320202020"}, {"ram.rt", rt}};
    EXPECT_EQ(nlohmann::json::parse(first),
              nlohmann::json({{"format", "quorveld state"}, {"version", 1}, {"asked", asked}}));
    EXPECT_EQ(files(), 1);
    fs::create_hard_link(path, dir / "before");

    worker.reset();
    board->powerCycle();
    board->clearLog();
    start(withState, {{"ram.ps", "SECOND"}});
    ASSERT_TRUE(waitFor([&] { return worker->status().loads == 1 && settled(); }));
    const Requests second = {block(0x21, "SECO"), block(0x22, "ND  ")};
    EXPECT_EQ(drained(), fullLoad() + second + helloRt);
    worker.reset();
    EXPECT_EQ(readFile(dir / "before"), first) << "the old file is untouched";
    EXPECT_NE(readFile(path).find("\"ram.ps\": \"5345434F4E442020\""), std::string::npos);
    EXPECT_EQ(files(), 2) << "no temporary file left";
    EXPECT_FALSE(said(path.string())) << "a missing file is no error";
}

// Each value is checked as the board's bytes, through no character table: one
// out of its field's range or with a control byte is left out and said why;
// the others are asked for, a byte the RDS table lacks (0xFF) among them.
TEST_F(StateFile, ValuesOutOfRangeAreLeftOutTheRestWritten)
{
    const nlohmann::json refused = {
        {"eeprom.pty", "FF"},
        {"eeprom.naf", "FF"},
        {"eeprom.tp", "02"},
        {"ram.di", "10"},
        {"eeprom.af00", "CD"},
        {"eeprom.ps", "0D0A00FF20202020"},
        {"eeprom.rt", "410D42" + std::string(122, '0')}, // "A", its end, a byte after it
    };
    nlohmann::json asked = refused;
    asked.update({{"ram.pty", "1F"}, {"ram.ps", "52FF444920202020"}});
    std::ofstream(path) << nlohmann::json{
        {"format", "quorveld state"}, {"version", 1}, {"asked", asked}};
    start(withState);
    const Requests written = {ok(0x21, 0x52FF, 0x4449), ok(0x22, 0x2020, 0x2020), ok(0x23, 31)};
    EXPECT_EQ(drained(), fullLoad() + written);
    for (const auto &[name, hex] : refused.items())
        EXPECT_TRUE(said(": " + name + " (")) << name << " refused";
    EXPECT_TRUE(said("eeprom.tp (EEPROM TP): 2 is outside 0-1; left out"));
}

// A save that fails (its folder away) keeps the values unsaved, and the status
// says so; they reach the file once the folder is back: at a later try, or
// at the stop when no try came first.
TEST_F(StateFile, AFailedSaveIsTriedAgainAndAtTheStop)
{
    const fs::path folder = dir / "folder", away = dir / "away", file = folder / "state.json";
    fs::create_directory(folder);
    for (const auto &[retryMs, ps, hex] :
         {std::tuple{20, "LATER", "4C41544552202020"}, {600000, "AT STOP", "41542053544F5020"}}) {
        qd::WorkerOptions o = withState;
        o.stateFile = file;
        o.saveRetryMs = retryMs;
        startLoaded(o);
        fs::rename(folder, away);
        ask({{"ram.ps", ps}});
        EXPECT_TRUE(waitFor([&] { return worker->status().stateUnsaved; }));
        EXPECT_TRUE(said("state file " + file.string() + ": creating"));
        fs::rename(away, folder);
        if (retryMs > 1000)
            worker.reset();
        EXPECT_TRUE(waitFor([&] { return readFile(file).find(hex) != std::string::npos; })) << ps;
        if (worker) {
            EXPECT_TRUE(waitFor([&] { return !worker->status().stateUnsaved; }));
        }
        worker.reset();
    }
}

class DamagedStateFile : public StateFile, public testing::WithParamInterface<const char *> {};

TEST_P(DamagedStateFile, IsReportedAndIgnored)
{
    std::ofstream(path, std::ios::binary) << GetParam();
    startLoaded(withState);
    EXPECT_TRUE(said("state file " + path.string() + ": "));
    EXPECT_TRUE(said("; ignored"));
    for (const qd::FieldSnapshot &f : worker->fields())
        EXPECT_FALSE(f.asked) << "nothing of a damaged file is asked for";
    EXPECT_EQ(drained(), Requests{});
}

INSTANTIATE_TEST_SUITE_P(
    Contents, DamagedStateFile,
    testing::Values("not json", "[]", R"({"format":"other","version":1,"asked":{}})",
                    R"({"format":"quorveld state","version":2,"asked":{}})",
                    R"({"format":"quorveld state","version":1,"asked":[]})",
                    R"({"format":"quorveld state","version":1,"asked":{"ram.pty":"03","xx":"03"}})",
                    R"({"format":"quorveld state","version":1,"asked":{"ram.ps":"4E4557"}})",
                    R"({"format":"quorveld state","version":1,"asked":{"ram.pty":"0300"}})",
                    R"({"format":"quorveld state","version":1,"asked":{"ram.pty":"0G"}})",
                    R"({"format":"quorveld state","version":1,"asked":{"ram.pty":3}})"));

} // namespace
