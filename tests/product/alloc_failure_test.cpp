// Allocation failure at every point of a whole setup run: the Nth allocation of the process fails,
// for every N until a run completes without reaching N. No exception may leave an entry, nothing
// may be leaked or left half attached, and the analytics library must see no misuse.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>

#include "TEVUtil.h"
#include "test_platform.h"
#include "player/play.h"
#include "player/default_scenario.h"
#include "player/scenario.h"

namespace {

// Allocations left before the one that fails; negative while disarmed.
long allocationsBeforeFailure = -1;
bool failureInjected = false;

void* Allocate(std::size_t size) {
    if (allocationsBeforeFailure >= 0 && allocationsBeforeFailure-- == 0) {
        failureInjected = true;
        throw std::bad_alloc();
    }
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    return block;
}

void* AllocateNoThrow(std::size_t size) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateNoThrow(size);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

TEST(AllocationFailure, EveryPointOfAWholeRunIsContained) {
    tevtool::ParseError error;
    std::optional<tevtool::Scenario> scenario =
        tevtool::ParseScenario(tevtool::resource::kDefaultScenario, error);
    ASSERT_TRUE(scenario) << error.message;
    std::filesystem::path tempDir = testing_support::MakeTempDirectory("tev-alloc");
    testing_support::UseTempDirectory(tempDir);

    // The uninterrupted run, for comparison.
    tevtool::Play(*scenario, nullptr);
    const size_t fullDeliveries = kv8::Deliveries().size();

    long points = 0;
    for (long failAt = 0;; ++failAt) {
        TEVUtil::ShutdownML();
        kv8::Reset();
        failureInjected = false;
        int escaped = 0;
        allocationsBeforeFailure = failAt;
        for (const tevtool::Step& step : scenario->steps) {
            try {
                if (step.entry) tevtool::Invoke(step);
            } catch (...) {
                ++escaped;
            }
        }
        allocationsBeforeFailure = -1;
        if (!failureInjected) break;  // the run needed fewer allocations: every point was tried
        ++points;

        EXPECT_EQ(escaped, 0) << "failing allocation " << failAt;
        EXPECT_EQ(kv8::Violations(), std::vector<std::string>{}) << "failing allocation " << failAt;
        EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{})
            << "failing allocation " << failAt;
        // The run stays usable: once started, it is still ended, and one failure costs at most
        // a couple of the waypoints of the whole run (the failed one, or the stand-in's record).
        std::vector<kv8::Delivery> deliveries = kv8::Deliveries();
        if (!deliveries.empty() && deliveries.front().call == "initialize") {
            EXPECT_FALSE(CMLFacade::IsKV8Initialized()) << "failing allocation " << failAt;
            EXPECT_GE(deliveries.size() + 2, fullDeliveries) << "failing allocation " << failAt;
        }
        if (HasFailure()) break;
    }
    std::cout << "allocation failure points tried: " << points << '\n';
    // On Windows the replaced operator new reaches only this program's code (TEV's, compiled in),
    // not the stand-in's DLL, so there are far fewer points than on Linux.
    EXPECT_GT(points, 0);
    kv8::Reset();
    std::filesystem::remove_all(tempDir);
}

// An InitML during a run, with each of its allocations failing in turn: one that fails leaves
// reporting off, with the earlier run's unsent report discarded, as any InitML during a run does.
TEST(AllocationFailure, ARestartThatRunsOutOfMemoryLeavesReportingOff) {
    std::filesystem::path tempDir = testing_support::MakeTempDirectory("tev-alloc");
    testing_support::UseTempDirectory(tempDir);
    long refused = 0;
    for (long failAt = 0;; ++failAt) {
        kv8::Reset();
        ASSERT_TRUE(TEVUtil::InitML(true));
        ASSERT_TRUE(
            TEVUtil::AddContent(TEV_TEXT("Studio"), TEV_TEXT("Core"), TEV_TEXT("core.msi")));
        failureInjected = false;
        allocationsBeforeFailure = failAt;
        bool started = TEVUtil::InitML(true);
        allocationsBeforeFailure = -1;
        if (!failureInjected) break;
        SCOPED_TRACE("failing allocation " + std::to_string(failAt));
        if (!started) {  // (a failure the analytics library absorbs may leave the start whole)
            ++refused;
            EXPECT_FALSE(TEVUtil::AddAttributeToSetup(TEV_TEXT("k"), TEV_TEXT("v")));
            size_t delivered = kv8::Deliveries().size();
            TEVUtil::ShutdownML();
            EXPECT_EQ(kv8::Deliveries().size(),
                      delivered);  // the earlier run's report is never sent
        }
        TEVUtil::ShutdownML();
        EXPECT_EQ(kv8::Violations(), std::vector<std::string>{});
        EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{});
        if (HasFailure()) break;
    }
    EXPECT_GT(refused, 0);
    TEVUtil::ShutdownML();
    kv8::Reset();
    std::filesystem::remove_all(tempDir);
}

// Two entries answer whatever happens, with each of their allocations failing in turn:
// GetKV8UserId gives a text, never null (without a run it starts one, which allocates), and
// ShutdownML gives true (handing over a report that holds a product allocates).
TEST(AllocationFailure, TheEntriesThatAlwaysAnswerStillDoWhenMemoryRunsOut) {
    struct Case {
        const char* entry;
        void (*before)();
        bool (*answers)();
    };
    const Case cases[] = {
        {"GetKV8UserId", [] {}, [] { return TEVUtil::GetKV8UserId() != nullptr; }},
        {"ShutdownML",
         [] {
             ASSERT_TRUE(TEVUtil::InitML(true));
             ASSERT_TRUE(
                 TEVUtil::AddContent(TEV_TEXT("Studio"), TEV_TEXT("Core"), TEV_TEXT("core.msi")));
         },
         [] { return TEVUtil::ShutdownML(); }},
    };
    std::filesystem::path tempDir = testing_support::MakeTempDirectory("tev-alloc");
    testing_support::UseTempDirectory(tempDir);
    for (const Case& c : cases) {
        long points = 0;
        for (long failAt = 0;; ++failAt) {
            TEVUtil::ShutdownML();
            kv8::Reset();
            c.before();
            failureInjected = false;
            allocationsBeforeFailure = failAt;
            bool answered = c.answers();
            allocationsBeforeFailure = -1;
            if (!failureInjected) break;
            ++points;
            EXPECT_TRUE(answered) << c.entry << ", failing allocation " << failAt;
            if (HasFailure()) break;
        }
        // On Windows the replaced operator new does not reach KV8.dll, where shut-down allocates.
        bool counted = true;
#ifdef _WIN32
        counted = std::string(c.entry) != "ShutdownML";
#endif
        if (counted) {
            EXPECT_GT(points, 0) << c.entry;
        }
    }
    TEVUtil::ShutdownML();
    kv8::Reset();
    std::filesystem::remove_all(tempDir);
}

#ifndef _WIN32
// A fault the walk above found: when the stand-in could not allocate while adding, the child was
// neither added nor left with its creator. Adding now takes no memory at all. (On Windows the
// replaced operator new does not reach into KV8.dll.)
TEST(AllocationFailure, AddingToTheStandInTakesTheChildEvenWhenMemoryRunsOut) {
    kv8::Reset();
    CMLWaypoint* waypoint = CMLWaypoint::Create(TEV_TEXT("w"));
    CMLState* state = CMLState::Create(TEV_TEXT("s"));
    failureInjected = false;
    allocationsBeforeFailure = 0;  // the very next allocation fails
    waypoint->Add(state);
    allocationsBeforeFailure = -1;
    EXPECT_TRUE(failureInjected);
    EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{"waypoint 1 \"w\""});
    EXPECT_EQ(waypoint->GetState(), state);
    waypoint->Destroy();
    EXPECT_EQ(kv8::CallerOwned(), std::vector<std::string>{});
    kv8::Reset();
}
#endif
