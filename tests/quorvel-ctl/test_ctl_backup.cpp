// The backup file, and export and import against the simulated board.
#include "Backup.h"
#include "CtlRun.h"
#include "CtlStatus.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using testing::HasSubstr;

namespace {

const T_R_FieldDef &field(const char *name) { return *RdsUsbFindField(name); }

// The status and message a call throws; {CtlOk, ""} when it throws nothing.
CtlError errorOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const CtlError &e) {
        return e;
    }
    return {CtlOk, ""};
}

} // namespace

// The backup format: what it writes it reads; anything else is a file error.
TEST(CtlBackupFormat, ParsesWhatItWritesAndRefusesWhatIsNotABackup)
{
    const fields::FieldList shown = {{&field("ram.ps"), "Café"},
                                     {&field("ram.pty"), "10"},
                                     {&field("eeprom.pi"), "0xC201"},
                                     {&field("eeprom.af00"), "87.6"}};
    const std::string document = backupDocument(shown, fields::Charset::Rds);
    EXPECT_THAT(document, HasSubstr("\"eeprom.af00\": 87.6"));
    EXPECT_THAT(document, HasSubstr("\"ram.pty\": 10"));
    const BackupFile parsed = parseBackup(document, "f");
    EXPECT_EQ(parsed.charset, fields::Charset::Rds);
    EXPECT_EQ(parsed.values, shown);

    const std::string head = "{\"format\": \"quorvel-ctl backup\", ";
    const std::string v1 = head + "\"version\": 1, \"charset\": \"rds\", \"fields\": ";
    // clang-format off
    const std::pair<std::string, std::string> files[] = {
        {"[1, 2", "f.json: not JSON"},
        {"{\"format\": 3}", "f.json: not a quorvel-ctl backup"},
        {head + "\"charset\": \"rds\", \"fields\": {}}", "f.json: format version null is not 1"},
        {head + "\"version\": 1.0, \"charset\": \"rds\", \"fields\": {}}", "f.json: format version 1.0 is not 1"},
        {head + "\"version\": 1, \"charset\": \"utf8\", \"fields\": {}}", "f.json: unknown charset \"utf8\""},
        {v1 + "[]}", "f.json: no \"fields\" object"},
        {v1 + "{\"ram.pty\": null}}", "f.json: ram.pty: null is neither a string nor a number"},
        {v1 + "{\"ram.pty\": 3}}", ""},
    };
    // clang-format on
    for (const auto &[text, message] : files) {
        const CtlError e = errorOf([&] { parseBackup(text, "f.json"); });
        EXPECT_EQ(e.message, message);
        EXPECT_EQ(e.status, message.empty() ? CtlOk : CtlFileError);
    }
}

// Export, reset, import: every field back, only the differing ones written,
// EEPROM first, then RAM PS and RadioText again, which the board replaced
// with its copies of the EEPROM ones.
TEST(CtlBackup, ExportResetImportRestoresEveryField)
{
    TestDir dir;
    const std::string backup = dir.path("board.json");
    const std::vector<CtlRun> runs = runSession({
        {"set", "eeprom.ps=HELLO", "eeprom.rt=Default text", "eeprom.pty=5", "eeprom.di=9",
         "eeprom.pi=D3A1", "eeprom.naf=2", "eeprom.af05=99.9", "eeprom.group2a=7",
         "eeprom.stereo=0"},
        {"set", "ram.ps=WORLD", "ram.rt=On air now", "ram.ta=1"}, // RAM differs from EEPROM
        {"export", backup},
        {"reset", "--yes"}, // EEPROM only: RAM still equals the backup
        {"import", "--dry-run", backup},
        {"import", backup},
        {"export"},
        {"import", backup},
    });
    for (const CtlRun &run : runs)
        ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(runs[2].requests, fullLoad());
    EXPECT_EQ(runs[2].out, "exported 43 fields to " + backup + "\n");
    const nlohmann::ordered_json file = nlohmann::ordered_json::parse(readFile(backup));
    EXPECT_EQ(file["format"], "quorvel-ctl backup");
    EXPECT_EQ(file["version"], 1);
    EXPECT_EQ(file["charset"], "cp1252");
    EXPECT_EQ(file["fields"].size(), 43u);
    EXPECT_EQ(file["fields"]["ram.ps"], "WORLD");
    EXPECT_EQ(file["fields"]["eeprom.ps"], "HELLO");
    EXPECT_EQ(file["fields"]["eeprom.af05"], 99.9);
    EXPECT_EQ(file["fields"]["eeprom.naf"], 2);

    EXPECT_EQ(runs[4].requests, fullLoad()); // dry run: reads only
    EXPECT_THAT(runs[4].out, HasSubstr("would write eeprom.ps \"HELLO\" (board: \"QUORVEL \")\n"));
    EXPECT_THAT(runs[4].out, HasSubstr("would write ram.ps \"WORLD\" (board: \"HELLO\")\n"));
    const Requests small = {ok(0x63, 5),      ok(0x67, 9), ok(0x68, 0xD3A1), ok(0x69, 2),
                            ok(0x6A, 124, 5), ok(0x02, 7), ok(0x03, 0)};
    EXPECT_EQ(runs[5].requests, fullLoad() + textWrite(0x61, "HELLO") +
                                    textWrite(0x70, "Default text") + small +
                                    textWrite(0x21, "WORLD") + textWrite(0x30, "On air now"));
    EXPECT_THAT(runs[5].out, HasSubstr("wrote eeprom.pi 0xD3A1 (was 0xC201)\n"));
    EXPECT_EQ(nlohmann::ordered_json::parse(runs[6].out), file); // to standard output
    EXPECT_EQ(runs[7].requests, fullLoad());
    EXPECT_EQ(runs[7].out, "the board already holds " + backup + "\n");
}

// A bad file or value is refused before anything is written; any subset of
// the fields is imported, an unused AF (87.5 MHz, never written) included.
TEST(CtlBackup, ImportChecksTheWholeFileThenWritesOnlyWhatDiffers)
{
    TestDir dir;
    const auto document = [&](const std::string &name, const std::string &head,
                              const std::string &fields) {
        writeFile(dir.path(name), "{\"format\": \"quorvel-ctl backup\", " + head +
                                      ", \"fields\": {" + fields + "}}");
        return dir.path(name);
    };
    const std::string cp1252 = "\"version\": 1, \"charset\": \"cp1252\"";
    writeFile(dir.path("bad.json"), "{\"format\": ");
    const std::vector<Args> files = {
        {"import",
         document("v2.json", "\"version\": 2, \"charset\": \"cp1252\"", "\"ram.pty\": 3")},
        {"import", dir.path("bad.json")},
        {"import", document("unknown.json", cp1252, "\"ram.colour\": 3")},
        {"import", dir.path("missing.json")},
        {"import", document("range.json", cp1252, "\"ram.ps\": \"FINE\", \"ram.pty\": 32")},
        {"import", "--charset", "rds", dir.path("range.json")},
        {"import", document("some.json", "\"version\": 1, \"charset\": \"rds\"",
                            "\"eeprom.af24\": 87.5, \"ram.pty\": 10, \"ram.ps\": \"Café\"")},
    };
    const std::vector<CtlRun> runs = runSession(files);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(runs[i].status, 6) << i;
        EXPECT_TRUE(runs[i].requests.empty()) << i;
    }
    EXPECT_THAT(runs[0].err, HasSubstr("format version 2 is not 1"));
    EXPECT_THAT(runs[2].err, HasSubstr("unknown field \"ram.colour\""));
    EXPECT_EQ(runs[4].status, 5);
    EXPECT_THAT(runs[4].err, HasSubstr("ram.pty (RAM PTY): 32 is outside 0-31"));
    EXPECT_EQ(runs[4].requests, fullLoad());
    EXPECT_EQ(runs[5].status, 2);
    EXPECT_EQ(runs[6].status, 0) << runs[6].err;
    EXPECT_EQ(runs[6].requests, fullLoad() + textWrite(0x21, "Caf\x82"));
    EXPECT_EQ(runs[6].out, "wrote ram.ps \"Café\" (was \"QUORVEL \")\n");
}
