// quorvel-ctl's command line.
#include "CtlOptions.h"
#include "CtlStatus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int usageStatus(std::vector<const char *> args)
{
    args.insert(args.begin(), "quorvel-ctl");
    try {
        parseCommandLine(static_cast<int>(args.size()), args.data());
    } catch (const CtlError &e) {
        return e.status;
    }
    return CtlOk;
}

} // namespace

// Options anywhere, checked against the command.
TEST(CtlCommandLine, TakesOptionsAnywhereAndChecksThemAgainstTheCommand)
{
    const char *args[] = {"quorvel-ctl", "set", "ram.ps=A", "--charset=rds",
                          "--device",    "1/7", "--force"};
    const CtlOptions o = parseCommandLine(7, args);
    EXPECT_EQ(o.command, "set");
    EXPECT_EQ(o.operands, std::vector<std::string>{"ram.ps=A"});
    EXPECT_EQ(o.charset, fields::Charset::Rds);
    EXPECT_EQ(o.device, "1/7");
    EXPECT_TRUE(o.force);
    const char *rt[] = {"quorvel-ctl", "rt", "--", "-starts with a dash"};
    EXPECT_EQ(parseCommandLine(4, rt).operands[0], "-starts with a dash");
    const char *follow[] = {"quorvel-ctl", "rt", "--follow", "f"};
    EXPECT_EQ(parseCommandLine(4, follow).follow, "f");
    for (const auto &args : std::vector<std::vector<const char *>>{{},
                                                                   {"bogus"},
                                                                   {"show", "--yes"},
                                                                   {"probe", "--device", "1/2"},
                                                                   {"get"},
                                                                   {"export", "a", "b"},
                                                                   {"import"},
                                                                   {"rt"},
                                                                   {"rt", "--follow", "f", "t"},
                                                                   {"rt", "--eeprom", "--follow", "f"},
                                                                   {"show", "--nope"},
                                                                   {"show", "--device"},
                                                                   {"show", "--device", "1-2"},
                                                                   {"show", "--device", "1x/7"},
                                                                   {"show", "--json=yes"},
                                                                   {"show", "--charset", "latin1"},
                                                                   {"set", "--json", "ram.ps=A"},
                                                                   {"reset", "now"}})
        EXPECT_EQ(usageStatus(args), CtlUsage) << testing::PrintToString(args);
    for (const auto &args :
         std::vector<std::vector<const char *>>{{"help"}, {"reset", "-y"}, {"export", "-"}})
        EXPECT_EQ(usageStatus(args), CtlOk) << testing::PrintToString(args);
    const DeviceLocation at = parseDeviceLocation("001/017");
    EXPECT_EQ(at.bus, 1);
    EXPECT_EQ(at.device, 17);
}
