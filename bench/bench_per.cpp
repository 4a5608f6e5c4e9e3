// bench-links: asn1
// Aligned PER throughput over a fixed mix of values: control-message-like
// values, a nested record with extension additions, and a list.
#include "asn1/coder.h"
#include "asn1/per/per_decoder.h"
#include "asn1/per/per_encoder.h"
#include "tests/asn1/test_per_types.h"

#include <benchmark/benchmark.h>

#include <iterator>

namespace {

using namespace PerTypes;

struct Mix {
    std::vector<std::pair<void const*, Value>> values;
    std::vector<std::vector<char>> encodings;

    Mix()
    {
        for (int alt = 0; alt < 5; ++alt) {
            Value m = make(&Message);
            setInt(field(*m, 0), 1000 + alt);
            setInt(field(*m, 1), 17 * alt);
            AbstractData* sel = select(*field(*m, 2), alt);
            if (alt == 1) {
                setInt(field(*sel, 0), 512);
                setText(field(*sel, 1), "trunk-1");
                setOctets(field(*sel, 3), std::string(40, '\x5a'));
            } else if (alt == 2) {
                setInt(sel, 999);
            } else if (alt == 3) {
                setText(field(*sel, 0), "status");
                setInt(field(*sel, 1), 3);
            }
            values.emplace_back(&Message, std::move(m));
        }
        Value list = make(&Exts);
        for (int i = 0; i < 8; ++i) {
            Value e = make(&Ext);
            setInt(field(*e, 0), i % 8);
            setText(field(*e, 2), "addition");
            setInt(field(*e, 3), -1000 * i);
            as<SEQUENCE_OF_Base>(list.get()).push_back(e.release());
        }
        values.emplace_back(&Exts, std::move(list));
        Value b = make(&Bytes);
        as<SEQUENCE_OF_Base>(b.get()).resize(100);
        values.emplace_back(&Bytes, std::move(b));
        for (auto const& v : values) {
            std::vector<char> out;
            PEREncoder e(out, true);
            if (!v.second->accept(e))
                std::abort();
            encodings.push_back(out);
        }
    }
};

Mix const& mix()
{
    static Mix const m;
    return m;
}

void BM_PerEncode(benchmark::State& state)
{
    Mix const& m = mix();
    CoderEnv env;
    env.set_encodingRule(CoderEnv::per);
    std::vector<char> out;
    out.reserve(1024);
    for (auto _ : state) {
        for (auto const& v : m.values) {
            out.clear();
            bool ok = ASN1::encode(*v.second, &env, std::back_inserter(out));
            benchmark::DoNotOptimize(ok);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(m.values.size()));
}
BENCHMARK(BM_PerEncode);

void BM_PerDecode(benchmark::State& state)
{
    Mix const& m = mix();
    CoderEnv env;
    env.set_encodingRule(CoderEnv::per);
    for (auto _ : state) {
        for (std::size_t i = 0; i < m.values.size(); ++i) {
            Value v = make(m.values[i].first);
            std::vector<char> const& in = m.encodings[i];
            char const* first = in.data();
            char const* last = first + in.size();
            bool ok = ASN1::decode(first, last, &env, *v, true);
            benchmark::DoNotOptimize(ok);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(m.values.size()));
}
BENCHMARK(BM_PerDecode);

} // namespace

BENCHMARK_MAIN();
