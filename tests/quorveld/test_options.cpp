// quorveld's options: defaults, ranges and address blocks; a refused option
// ends the program with status 2, a file that is not a regular one with 1.
#include "DaemonOptions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Options: the documented default and ranges, address blocks (IPv4 clients
// of IPv6 sockets as IPv4); a refused option ends quorveld with status 2.
TEST(Options, DefaultsRangesAndAddressBlocks)
{
    const qd::DaemonOptions defaults = qd::parseOptions({});
    EXPECT_EQ(std::tuple(defaults.verifySeconds, defaults.idleSeconds, defaults.httpMaxClients,
                         defaults.httpMaxPerAddress, defaults.httpIdleSeconds),
              std::tuple(60, 600, 256, 8, 30));
    EXPECT_EQ(std::tuple(defaults.eepromIntervalSeconds, defaults.eepromBudget,
                         defaults.clientsPerAddress),
              std::tuple(10, 24, 8));
    for (auto [address, query] : {std::pair{"127.0.0.9", true}, {"::1", true}, {"10.0.0.1", false}})
        EXPECT_EQ(qd::allowed(defaults.udpQueryAllow, boost::asio::ip::make_address(address)),
                  query)
            << address;
    EXPECT_EQ(qd::parseOptions({"--http-idle", "15"}).httpIdleSeconds, 15);
    EXPECT_EQ(defaults.ptyNames, "rds");
    EXPECT_EQ(qd::parseOptions({"--pty-names", "rbds"}).ptyNames, "rbds");
    const qd::DaemonOptions highest = qd::parseOptions({"--site", "1023", "--encoder", "63"});
    EXPECT_EQ(highest.sites, (std::vector<int>{0, 1023})); // 0: every site
    for (const char *bad :
         {"--site=1024", "--encoder=64", "--verify=-1", "--allow=10.0.0.0/33", "--idle-timeout=0",
          "--http-idle=14", "--http-max-clients=0", "--http-max-per-address=0",
          "--eeprom-interval=3601", "--eeprom-budget=0", "--clients-per-address=65",
          "--udp-query-allow=localhost", "--pty-names=us"})
        EXPECT_THROW(qd::parseOptions({bad}), qd::OptionError) << bad;
    const auto allow = qd::parseOptions({"--allow", "192.168.2.0/23", "--allow", "::1"}).allow;
    for (auto [address, in] : {std::pair{"192.168.3.9", true},
                               {"192.168.4.1", false},
                               {"::ffff:192.168.2.1", true},
                               {"::1", true},
                               {"::2", false}})
        EXPECT_EQ(qd::allowed(allow, boost::asio::ip::make_address(address)), in) << address;
    EXPECT_EQ(WEXITSTATUS(std::system("timeout 10 " QUORVELD " --site 1024 2>/dev/null")), 2);
    // A FIFO would block quorveld at its opening: refused, and the start ends at once.
    const std::string fifo = testing::TempDir() + "quorveld-options-fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string option : {"--follow ", "--state "})
        EXPECT_EQ(WEXITSTATUS(std::system(("timeout 10 " QUORVELD " " + option + fifo).c_str())), 1)
            << option;
    unlink(fifo.c_str());
}

} // namespace
