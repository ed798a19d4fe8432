// Cost of the block base's public Execute wrapper and of a de-duplicated
// notification, against calling the block's own Execute directly.
#include <benchmark/benchmark.h>

#include "framework/block_base.h"
#include "host/harness.h"

namespace {

using namespace Mrv;

class CountingBlock : public CBlockImplBase<IBlock> {
public:
    explicit CountingBlock(const CreationContext* context) : CBlockImplBase(context, exception_policy::unhandled()) {}
    bool ExecuteDirectly() { return Execute(); }
    void Warn() { NotifyWarning("%s", "the same warning\n"); }
    bool warn_in_execute = false;

protected:
    bool Execute() override {
        benchmark::DoNotOptimize(++executions_);
        if (warn_in_execute) NotifyWarning("%s", "the same warning\n");
        return true;
    }

private:
    long executions_ = 0;
};

struct Fixture {
    mrvhost::BlockHarness harness{[](const CreationContext* context) -> IBlock* { return new CountingBlock(context); },
                                  "bench"};
    CountingBlock* block = static_cast<CountingBlock*>(harness.block());
    Fixture() {
        harness.init_instance();
        harness.begin();
    }
};

void ExecuteDirect(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) benchmark::DoNotOptimize(fixture.block->ExecuteDirectly());
}
BENCHMARK(ExecuteDirect);

void ExecuteThroughWrapper(benchmark::State& state) {
    Fixture fixture;
    for (auto _ : state) benchmark::DoNotOptimize(fixture.harness.block()->ExecuteBlock());
}
BENCHMARK(ExecuteThroughWrapper);

void ExecuteWithRecurringWarning(benchmark::State& state) {
    Fixture fixture;
    fixture.block->warn_in_execute = true;
    for (auto _ : state) benchmark::DoNotOptimize(fixture.harness.block()->ExecuteBlock());
    state.counters["sent"] = static_cast<double>(fixture.harness.notifications().size());
}
BENCHMARK(ExecuteWithRecurringWarning);

void DeduplicatedNotification(benchmark::State& state) {
    Fixture fixture;
    fixture.block->Warn();
    for (auto _ : state) fixture.block->Warn();
    state.counters["sent"] = static_cast<double>(fixture.harness.notifications().size());
}
BENCHMARK(DeduplicatedNotification);

}  // namespace

BENCHMARK_MAIN();
