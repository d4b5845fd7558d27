#include "CtlRun.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace {

std::string quoted(const std::string &arg)
{
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

CtlRun ended(ChildProcess &child)
{
    const int status = child.wait();
    return {status, child.out(), child.err(), child.requests()};
}

} // namespace

std::vector<CtlRun> runSession(const std::vector<Args> &commands, const Args &simOptions)
{
    // Each command's output, status and the log as it stood after it.
    std::string script;
    for (size_t i = 0; i < commands.size(); ++i) {
        const std::string n = std::to_string(i);
        script += "\"$CTL\"";
        for (const std::string &arg : commands[i])
            script.append(" ").append(quoted(arg));
        for (const char *part : {" >out", " 2>err", "; echo $? >status", "; cp \"$LOG\" log"})
            script.append(part).append(n);
        script += "\n";
    }
    TestDir dir;
    const CtlRun all = runScript("cd " + quoted(dir.path("")) + "\n" + script, simOptions);
    EXPECT_EQ(all.status, 0) << all.err;
    std::vector<CtlRun> runs;
    size_t logged = 0;
    for (size_t i = 0; i < commands.size(); ++i) {
        const std::string n = std::to_string(i);
        CtlRun run = {std::atoi(readFile(dir.path("status" + n)).c_str()),
                      readFile(dir.path("out" + n)), readFile(dir.path("err" + n)),
                      parseLog(readFile(dir.path("log" + n)))};
        run.requests.erase(run.requests.begin(),
                           run.requests.begin() + static_cast<std::ptrdiff_t>(logged));
        logged += run.requests.size();
        runs.push_back(run);
    }
    return runs;
}

CtlRun runScript(const std::string &script, const Args &simOptions)
{
    ChildProcess sh;
    writeFile(sh.path("script"),
              "CTL=" + quoted(QUORVEL_CTL) + "\nLOG=" + quoted(sh.path("log")) + "\n" + script);
    sh.start(simOptions, {"/bin/sh", sh.path("script")});
    return ended(sh);
}

BackgroundCtl::BackgroundCtl(Args command, const Args &simOptions)
{
    command.insert(command.begin(), QUORVEL_CTL);
    start(simOptions, command);
}

bool BackgroundCtl::waitFor(size_t count, const std::string &error) const
{
    return waitUntil([&] {
        return error.empty() ? requests().size() >= count : err().find(error) != std::string::npos;
    });
}

CtlRun BackgroundCtl::stop(int signal)
{
    if (signal)
        this->signal(signal);
    return ended(*this);
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}
