// export and import against the simulated board.
#include "CtlRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

using testing::HasSubstr;

namespace {

std::vector<std::string> writes(const std::vector<std::string> &requests)
{
    std::vector<std::string> result;
    for (const std::string &r : requests)
        if (r.compare(0, 3, "0x8") != 0 && r.compare(0, 3, "0xA") != 0 && r.compare(0, 3, "0xB") != 0 &&
            r.compare(0, 3, "0xE") != 0 && r.compare(0, 3, "0xF") != 0)
            result.push_back(r);
    return result;
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace

TEST(CtlBackup, ExportResetImportRestoresEveryField)
{
    TestDir dir;
    const std::string backup = dir.path("board.json");
    const std::vector<CtlRun> runs = runSession({
        {"set", "eeprom.ps=HELLO", "eeprom.rt=Default text", "eeprom.pty=5", "eeprom.di=9",
         "eeprom.pi=D3A1", "eeprom.naf=2", "eeprom.af05=99.9", "eeprom.group2a=7", "eeprom.stereo=0"},
        // RAM differs from EEPROM: its values come after the board's copy.
        {"set", "ram.ps=WORLD", "ram.rt=On air now", "ram.ta=1"},
        {"export", backup},
        {"reset", "--yes"}, // EEPROM only: RAM still equals the backup
        {"import", "--dry-run", backup},
        {"import", backup},
        {"show", "--json"},
        {"import", backup},
    });
    for (const CtlRun &run : runs)
        ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(runs[2].requests, readAllRequests());
    EXPECT_EQ(runs[2].out, "exported 43 fields to " + backup + "\n");

    const nlohmann::ordered_json file = nlohmann::ordered_json::parse(readFile(backup));
    EXPECT_EQ(file["format"], "quorvel-ctl backup");
    EXPECT_EQ(file["version"], 1);
    EXPECT_EQ(file["charset"], "cp1252");
    EXPECT_EQ(file["fields"]["ram.ps"], "WORLD");
    EXPECT_EQ(file["fields"]["eeprom.ps"], "HELLO");
    EXPECT_EQ(file["fields"]["eeprom.af05"], 99.9);

    // Only the differing fields, EEPROM first; then RAM PS and RadioText again,
    // which the board replaced with its copies of the EEPROM ones.
    const std::vector<std::string> expected = join({
        textWrite(0x61, "HELLO"),
        textWrite(0x70, "Default text"),
        {request(0x63, 5), request(0x67, 9), request(0x68, 0xD3A1), request(0x69, 2),
         request(0x6A, 124, 5), request(0x02, 7), request(0x03, 0)},
        textWrite(0x21, "WORLD"),
        textWrite(0x30, "On air now"),
    });
    EXPECT_EQ(runs[4].requests, readAllRequests()); // dry run: reads only
    EXPECT_THAT(runs[4].out, HasSubstr("would write eeprom.ps \"HELLO\" (board: \"QUORVEL \")\n"));
    EXPECT_THAT(runs[4].out, HasSubstr("would write ram.ps \"WORLD\" (board: \"HELLO\")\n"));
    EXPECT_EQ(runs[5].requests, join({readAllRequests(), expected}));
    EXPECT_EQ(writes(runs[5].requests), expected);
    EXPECT_THAT(runs[5].out, HasSubstr("wrote eeprom.pi 0xD3A1 (was 0xC201)\n"));

    EXPECT_EQ(nlohmann::ordered_json::parse(runs[6].out), file["fields"]);
    EXPECT_EQ(runs[7].requests, readAllRequests());
    EXPECT_EQ(runs[7].out, "the board already holds " + backup + "\n");
}

TEST(CtlBackup, ExportsToStandardOutputWithoutAFile)
{
    const CtlRun run = runCtl({"export"});
    EXPECT_EQ(run.status, 0);
    const nlohmann::json document = nlohmann::json::parse(run.out);
    EXPECT_EQ(document["fields"].size(), 43u);
    EXPECT_EQ(document["fields"]["eeprom.stereo"], 1);
}

TEST(CtlBackup, AnExportIsWrittenOnlyWhenEveryFieldWasRead)
{
    TestDir dir;
    writeFile(dir.path("old.json"), "old backup\n");
    const CtlRun run = runCtl({"export", dir.path("old.json")}, {"--fail-code", "0xE9"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("eeprom.naf: read failed"));
    EXPECT_THAT(run.err, HasSubstr("nothing exported"));
    EXPECT_EQ(readFile(dir.path("old.json")), "old backup\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path("")), {}), 1);
}

TEST(CtlBackup, ImportRefusesABadFileOrValueBeforeWritingAnything)
{
    TestDir dir;
    const auto document = [](const std::string &version, const std::string &fields) {
        return "{\"format\": \"quorvel-ctl backup\", \"version\": " + version +
               ", \"charset\": \"cp1252\", \"fields\": {" + fields + "}}";
    };
    writeFile(dir.path("v2.json"), document("2", "\"ram.pty\": 3"));
    writeFile(dir.path("bad.json"), "{\"format\": ");
    writeFile(dir.path("unknown.json"), document("1", "\"ram.colour\": 3"));
    writeFile(dir.path("range.json"), document("1", "\"ram.ps\": \"FINE\", \"ram.pty\": 32"));
    const std::vector<CtlRun> runs = runSession({
        {"import", dir.path("v2.json")},
        {"import", dir.path("bad.json")},
        {"import", dir.path("unknown.json")},
        {"import", dir.path("missing.json")},
        {"import", dir.path("range.json")},
        {"import", "--charset", "rds", dir.path("range.json")},
    });
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(runs[i].status, 6) << i;
        EXPECT_TRUE(runs[i].requests.empty()) << i;
    }
    EXPECT_THAT(runs[0].err, HasSubstr("format version 2 is not 1"));
    EXPECT_THAT(runs[2].err, HasSubstr("unknown field \"ram.colour\""));
    EXPECT_EQ(runs[4].status, 5);
    EXPECT_THAT(runs[4].err, HasSubstr("ram.pty (RAM PTY): 32 is outside 0-31"));
    EXPECT_TRUE(writes(runs[4].requests).empty());
    EXPECT_EQ(runs[5].status, 2);
}

TEST(CtlBackup, ImportWritesOnlyWhatDiffersAndLeavesTheRestOfTheBoard)
{
    TestDir dir;
    // Any subset of the fields; an AF not in use reads as 87.5 MHz, which is
    // never written.
    writeFile(dir.path("some.json"),
              "{\"format\": \"quorvel-ctl backup\", \"version\": 1, \"charset\": \"rds\","
              " \"fields\": {\"eeprom.af24\": 87.5, \"ram.pty\": 10, \"ram.ps\": \"Café\"}}");
    const CtlRun run = runCtl({"import", dir.path("some.json")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(writes(run.requests), textWrite(0x21, "Caf\x82"));
    EXPECT_EQ(run.out, "wrote ram.ps \"Café\" (was \"QUORVEL \")\n");
}
