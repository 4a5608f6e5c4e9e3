// Running Erlang/OTP (erlc, escript) as an independent peer in the coder
// cross-checks: shell commands with their output, output lines, and a
// temporary working folder.
#ifndef TSD_TESTS_ASN1_ERLANG_PEER_H
#define TSD_TESTS_ASN1_ERLANG_PEER_H

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace Erlang {

inline char const* const kNotInstalled =
    "erlc/escript not found: install the Debian packages erlang-base and erlang-asn1 (scripts/deps.sh test)";

// Runs a shell command; returns what it wrote to stdout and, through
// status, its wait status (-1 when it could not be started).
inline std::string run(std::string const& cmd, int* status = nullptr)
{
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int const st = ::pclose(p);
    if (status)
        *status = st;
    return out;
}

// The non-empty lines of a text.
inline std::vector<std::string> lines(std::string const& text)
{
    std::vector<std::string> out;
    std::istringstream is(text);
    std::string line;
    while (std::getline(is, line))
        if (!line.empty())
            out.push_back(line);
    return out;
}

inline bool exists(std::string const& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// True when both erlc and escript are on the PATH.
inline bool installed()
{
    int st = 0;
    run("command -v erlc >/dev/null 2>&1 && command -v escript >/dev/null 2>&1", &st);
    return st == 0;
}

// A fresh folder /tmp/<prefix>-XXXXXX, removed with everything in it when
// the object goes; path() is empty when it could not be made.
class TempDir {
public:
    explicit TempDir(std::string const& prefix)
    {
        std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
        if (::mkdtemp(&tmpl[0]))
            path_ = tmpl;
    }
    ~TempDir()
    {
        if (!path_.empty())
            run("rm -rf '" + path_ + "'");
    }
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;

    std::string const& path() const { return path_; }

private:
    std::string path_;
};

} // namespace Erlang

#endif
