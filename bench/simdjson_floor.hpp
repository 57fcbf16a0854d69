#pragma once

// The floor every decoding benchmark is measured against: simdjson parsing a text and walking
// every value of it, so that nothing of the parse can be skipped.

#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <cstdint>
#include <string>

namespace brisalune::bench {

inline std::uint64_t walk(simdjson::dom::element e) {
    using Type = simdjson::dom::element_type;
    switch (e.type()) {
        case Type::ARRAY: {
            std::uint64_t sum = 1;
            simdjson::dom::array array = e.get_array().value_unsafe();
            for (simdjson::dom::element child : array) sum += walk(child);
            return sum;
        }
        case Type::OBJECT: {
            std::uint64_t sum = 1;
            simdjson::dom::object object = e.get_object().value_unsafe();
            for (simdjson::dom::key_value_pair member : object) {
                sum += member.key.size() + walk(member.value);
            }
            return sum;
        }
        case Type::STRING: return e.get_string().value_unsafe().size();
        case Type::INT64: return static_cast<std::uint64_t>(e.get_int64().value_unsafe());
        case Type::UINT64: return e.get_uint64().value_unsafe();
        case Type::DOUBLE: return static_cast<std::uint64_t>(e.get_double().value_unsafe());
        case Type::BOOL: return e.get_bool().value_unsafe() ? 1 : 0;
        case Type::NULL_VALUE: return 0;
    }
    return 0;
}

// Also reports the answer's size, which scripts/bench prints beside the peak heap.
inline void bytesProcessed(benchmark::State& state, const std::string& text) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
    state.counters["answer_bytes"] = static_cast<double>(text.size());
}

// Freeing what an iteration made is left out of the timings of our decodes: the floor frees
// nothing either, and the owner of an answer frees it whenever it is done with it.
template <class Make>
void timedWithoutFreeing(benchmark::State& state, Make make) {
    for (auto _ : state) {
        auto made = make();
        benchmark::DoNotOptimize(made);
        state.PauseTiming();
        made = {};
        state.ResumeTiming();
    }
}

inline void simdjsonFloor(benchmark::State& state, const std::string& text) {
    simdjson::padded_string padded(text);
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element root = parser.parse(padded).value();
        benchmark::DoNotOptimize(walk(root));
    }
    bytesProcessed(state, text);
}

}  // namespace brisalune::bench
