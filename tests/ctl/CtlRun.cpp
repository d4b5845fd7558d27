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

CtlRun result(int status, const TestDir &dir, const std::string &name)
{
    return {status, readFile(dir.path("out" + name)), readFile(dir.path("err" + name)),
            lines(readFile(dir.path("log" + name)))};
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
        CtlRun run = result(std::atoi(readFile(dir.path("status" + n)).c_str()), dir, n);
        run.requests.erase(run.requests.begin(),
                           run.requests.begin() + static_cast<std::ptrdiff_t>(logged));
        logged += run.requests.size();
        runs.push_back(run);
    }
    return runs;
}

CtlRun runScript(const std::string &script, const Args &simOptions)
{
    TestDir dir;
    writeFile(dir.path("script"), "CTL=" + quoted(QUORVEL_CTL) + "\nLOG=" + quoted(dir.path("log")) +
                                      "\n" + script);
    ChildProcess sh(dir, simOptions, {"/bin/sh", dir.path("script")});
    return result(sh.wait(), dir, "");
}

namespace {

Args ctlCommand(const Args &command)
{
    Args ctl = {QUORVEL_CTL};
    ctl.insert(ctl.end(), command.begin(), command.end());
    return ctl;
}

} // namespace

BackgroundCtl::BackgroundCtl(const Args &command, const Args &simOptions)
    : child_(dir_, simOptions, ctlCommand(command))
{
}

std::vector<std::string> BackgroundCtl::requests() const
{
    return child_.requests();
}

bool BackgroundCtl::waitFor(size_t count, const std::string &error) const
{
    return waitUntil([&] {
        return error.empty() ? requests().size() >= count
                             : readFile(dir_.path("err")).find(error) != std::string::npos;
    });
}

CtlRun BackgroundCtl::stop(int signal)
{
    if (signal)
        child_.signal(signal);
    return result(child_.wait(), dir_, "");
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> textWrite(int firstCode, const std::string &bytes)
{
    const bool psName = (firstCode & 0x3F) == 0x21; // 0x21 or 0x61
    std::string text = bytes;
    text.resize(psName ? 8 : 64, psName ? '\0' : '\r');
    std::vector<std::string> requests;
    for (size_t at = 0; at < text.size(); at += 4) {
        const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
        requests.push_back(request(firstCode + static_cast<int>(at / 4), byte(0) << 8 | byte(1),
                                   byte(2) << 8 | byte(3)));
    }
    return requests;
}

std::vector<std::string> readAllRequests()
{
    std::vector<std::string> r;
    for (int store : {0xA0, 0xE0}) { // RAM, then EEPROM: PS, RadioText, PTY TP TA MS DI
        for (int code : {1, 2})
            r.push_back(request(store + code));
        for (int k = 0; k < 16; ++k)
            r.push_back(request(store + 0x10 + k));
        for (int k = 3; k < 8; ++k)
            r.push_back(request(store + k));
    }
    r.insert(r.end(), {request(0xE8), request(0xE9)});
    for (int n = 0; n < 25; ++n)
        r.push_back(request(0xEA, n));
    return r + std::vector<std::string>{request(0x82), request(0x83)};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
