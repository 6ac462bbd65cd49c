// 100,000 small MonoBehaviour-like objects with a type tree: dumped to JSON, read back from JSON,
// and, as the floor, their raw bytes copied out.
#include "assets/ObjectJson.h"
#include "support/TypeTreeObjects.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

using namespace kestrel;
using namespace kestrel::test;

constexpr size_t kObjects = 100000;

struct Objects {
    std::shared_ptr<MemorySource> source;
    std::vector<uint64_t> starts; // kObjects + 1 boundaries
};

const Objects& SmallObjects() {
    static const Objects objects = [] {
        std::vector<uint8_t> all;
        Objects out;
        for (size_t i = 0; i < kObjects; ++i) {
            MonoBehaviourLike object;
            object.name = "Dialogue_" + std::to_string(i);
            object.entries[0].second = "Line " + std::to_string(i);
            const std::vector<uint8_t> body = MonoBehaviourLikeBody(object);
            out.starts.push_back(all.size());
            all.insert(all.end(), body.begin(), body.end());
        }
        out.starts.push_back(all.size());
        out.source = std::make_shared<MemorySource>("objects", std::move(all));
        return out;
    }();
    return objects;
}

const TypeTree& Tree() {
    static const TypeTree tree(MonoBehaviourLikeTree());
    return tree;
}

Reader ObjectAt(const Objects& objects, size_t i) {
    return Reader(objects.source)
        .Sub(objects.starts[i], objects.starts[i + 1] - objects.starts[i], "object");
}

void BM_CopyRawBytes(benchmark::State& state) {
    const Objects& objects = SmallObjects();
    for (auto _ : state) {
        for (size_t i = 0; i < kObjects; ++i) {
            Reader object = ObjectAt(objects, i);
            std::vector<uint8_t> bytes = object.Bytes(object.Remaining(), "object");
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kObjects));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * objects.starts.back()));
}

void BM_ObjectToJson(benchmark::State& state) {
    const Objects& objects = SmallObjects();
    for (auto _ : state) {
        for (size_t i = 0; i < kObjects; ++i) {
            std::string text = ObjectToJson(Tree(), ObjectAt(objects, i));
            benchmark::DoNotOptimize(text.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kObjects));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * objects.starts.back()));
}

void BM_JsonToObject(benchmark::State& state) {
    const Objects& objects = SmallObjects();
    std::vector<std::string> texts;
    texts.reserve(kObjects);
    for (size_t i = 0; i < kObjects; ++i)
        texts.push_back(ObjectToJson(Tree(), ObjectAt(objects, i)));
    for (auto _ : state) {
        for (const std::string& text : texts) {
            std::vector<uint8_t> bytes = JsonToObject(Tree(), text, Endian::Little);
            benchmark::DoNotOptimize(bytes.data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kObjects));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * objects.starts.back()));
}

BENCHMARK(BM_CopyRawBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectToJson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonToObject)->Unit(benchmark::kMillisecond);

} // namespace
