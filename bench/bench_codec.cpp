// bench-links: messages
// Aligned PER speed on random controller messages (LGCP Message) made by the
// Erlang export, against Erlang/OTP's own "per" coder on the same values in
// the same run. Prints nanoseconds per message, the ratios, and heap
// allocations per message.
//
//   bench_codec [COUNT [SEED]]      (20000 values, seed 1)
//
// Needs escript and the compiled export (built with the messages when erlc
// is installed). The source and build folders are found from the program's
// own place in the build tree; TSD_SOURCE_DIR and TSD_ERLANG_DIR override.
#include "messages/LGCP.h"

#include "asn1/per/per_decoder.h"
#include "asn1/per/per_encoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

unsigned long allocations = 0;

}  // namespace

void* operator new(std::size_t n)
{
    ++allocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

std::string run(std::string const& cmd)
{
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        if (::pclose(p) != 0)
            out.clear();
    }
    return out;
}

std::string dirName(std::string const& path)
{
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The build folder (the program lives in <build>/bench) and, from its
// CMakeCache.txt, the source folder.
void findFolders(std::string& source, std::string& erlang)
{
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string build = n > 0 ? dirName(dirName(std::string(self, static_cast<std::size_t>(n)))) : ".";
    erlang = build + "/generated/messages/erlang";
    std::ifstream cache(build + "/CMakeCache.txt");
    std::string line;
    std::string const key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
    while (std::getline(cache, line))
        if (line.compare(0, key.size(), key) == 0)
            source = line.substr(key.size());
    if (char const* s = std::getenv("TSD_SOURCE_DIR"))
        source = s;
    if (char const* e = std::getenv("TSD_ERLANG_DIR"))
        erlang = e;
}

std::vector<char> unhex(std::string const& text)
{
    std::vector<char> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

using Clock = std::chrono::steady_clock;

// The best of `rounds` runs of f over all values, in ns per value.
template <class F>
double best(unsigned rounds, std::size_t values, F f)
{
    double bestNs = 1e300;
    for (unsigned r = 0; r < rounds; ++r) {
        Clock::time_point t0 = Clock::now();
        f();
        double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / double(values);
        if (ns < bestNs)
            bestNs = ns;
    }
    return bestNs;
}

bool decodeInto(std::vector<char> const& in, ASN1::AbstractData& v)
{
    ASN1::PERDecoder d(in.data(), in.data() + in.size(), nullptr, true);
    return v.accept(d);
}

} // namespace

int main(int argc, char** argv)
{
    unsigned const count = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 20000;
    unsigned const seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
    std::string source, erlang;
    findFolders(source, erlang);
    std::string const peer = "escript '" + source + "/tests/messages/erlang/msg_peer.escript' '" + erlang + "' LGCP ";

    // Erlang's random values (root alternatives and enumerators only, which
    // both sides code alike).
    std::string hexes = run(peer + "random " + std::to_string(count) + " " + std::to_string(seed) + " Message LGCPRoot");
    std::vector<std::vector<char>> wire;
    std::istringstream lines(hexes);
    std::string line;
    std::size_t octets = 0;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        wire.push_back(line == "-" ? std::vector<char>() : unhex(line));
        octets += wire.back().size();
    }
    if (wire.size() != count) {
        std::fprintf(stderr, "bench_codec: the Erlang export gave %zu of %u values (escript, %s)\n", wire.size(),
                     count, erlang.c_str());
        return 1;
    }

    // Every value decodes here, into a new message and into one message
    // used for them all, and encodes again to the same octets.
    std::vector<std::unique_ptr<LGCP::Message>> values;
    std::vector<char> out;
    unsigned mismatches = 0;
    LGCP::Message reused;
    for (std::vector<char> const& in : wire) {
        values.emplace_back(new LGCP::Message);
        ASN1::PEREncoder e(out, true);
        if (!decodeInto(in, *values.back()) || !values.back()->accept(e) || out != in)
            ++mismatches;
        ASN1::PEREncoder again(out, true);
        if (!decodeInto(in, reused) || !reused.accept(again) || out != in || !(reused == *values.back()))
            ++mismatches;
    }

    // Erlang/OTP on the same octets, in this run.
    char file[] = "/tmp/tsd-bench-codec-XXXXXX";
    int fd = ::mkstemp(file);
    if (fd < 0)
        return 1;
    ::close(fd);
    {
        std::ofstream os(file);
        os << hexes;
    }
    // Timed before and after ours, the better figures kept: on a busy
    // machine both sides are compared at their best.
    double erlDecode = 1e300, erlEncode = 1e300;
    auto timeErlang = [&] {
        std::string erl = run(peer + "time Message " + file + " 5");
        double d = 0, e = 0;
        unsigned count = 0;
        if (std::sscanf(erl.c_str(), "values %u decode_ns %lf encode_ns %lf", &count, &d, &e) != 3) {
            std::fprintf(stderr, "bench_codec: no timing from Erlang: %s\n", erl.c_str());
            return false;
        }
        erlDecode = std::min(erlDecode, d);
        erlEncode = std::min(erlEncode, e);
        return true;
    };
    if (!timeErlang())
        return 1;

    unsigned const rounds = 30;
    std::size_t const n = wire.size();
    bool ok = true;
    double const decodeReused = best(rounds, n, [&] {
        for (std::vector<char> const& in : wire)
            ok &= decodeInto(in, reused);
    });
    double const decodeFresh = best(rounds, n, [&] {
        for (std::vector<char> const& in : wire) {
            LGCP::Message m;
            ok &= decodeInto(in, m);
        }
    });
    double const encode = best(rounds, n, [&] {
        for (auto const& v : values) {
            ASN1::PEREncoder e(out, true);
            ok &= v->accept(e);
        }
    });
    // The daemon's pattern: a message decoded, then encoded while its tree
    // is still in the cache (the stored values above are 20000 trees apart).
    double const roundTrip = best(rounds, n, [&] {
        for (std::vector<char> const& in : wire) {
            ok &= decodeInto(in, reused);
            ASN1::PEREncoder e(out, true);
            ok &= reused.accept(e);
        }
    });

    if (!timeErlang())
        return 1;
    ::unlink(file);

    auto perMessage = [&](auto f) {
        unsigned long before = allocations;
        f();
        return double(allocations - before) / double(n);
    };
    double const allocReused = perMessage([&] {
        for (std::vector<char> const& in : wire)
            decodeInto(in, reused);
    });
    double const allocFresh = perMessage([&] {
        for (std::vector<char> const& in : wire) {
            LGCP::Message m;
            decodeInto(in, m);
        }
    });
    double const allocEncode = perMessage([&] {
        for (auto const& v : values) {
            ASN1::PEREncoder e(out, true);
            v->accept(e);
        }
    });

    double const erlBoth = erlDecode + erlEncode;
    std::printf("values %zu (mean %.1f octets), re-encoded differently %u, failures %s\n", n, double(octets) / double(n),
                mismatches, ok ? "none" : "SOME");
    std::printf("%-40s %10s %10s %10s\n", "ns per message", "decode", "encode", "both");
    std::printf("%-40s %10.1f %10.1f %10.1f\n", "Erlang/OTP per", erlDecode, erlEncode, erlBoth);
    std::printf("%-40s %10.1f %10.1f %10.1f\n", "ours: into one message, then encoded", decodeReused,
                roundTrip - decodeReused, roundTrip);
    std::printf("%-40s %10.1f %10.1f %10.1f\n", "ours: a new message, stored values", decodeFresh, encode,
                decodeFresh + encode);
    std::printf("%-40s %9.1fx %9.1fx %9.1fx\n", "ratio (Erlang / ours), one message", erlDecode / decodeReused,
                erlEncode / (roundTrip - decodeReused), erlBoth / roundTrip);
    std::printf("%-40s %9.1fx %9.1fx %9.1fx\n", "ratio (Erlang / ours), new message", erlDecode / decodeFresh,
                erlEncode / encode, erlBoth / (decodeFresh + encode));
    // Value objects and field tables come from the recycled blocks, which
    // call malloc only while their lists are still filling.
    std::printf("other heap allocations per message: decode into one message %.2f, new message %.2f, encode %.2f\n",
                allocReused, allocFresh, allocEncode);
    return mismatches == 0 && ok ? 0 : 1;
}
