#include "audio_host/pulse/process_tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

namespace quorle::pulse {
namespace {

// A process table: pid -> parent.
class FakeProcesses final : public ProcessLookup {
  public:
    std::map<std::uint32_t, std::uint32_t> parents;
    std::optional<std::uint32_t> parent_of(std::uint32_t pid) const override {
        const auto it = parents.find(pid);
        if (it == parents.end()) return std::nullopt;
        return it->second;
    }
};

TEST(ParseProcessId, AcceptsOnlyTheFormOfAProcessDirectoryName) {
    struct Row {
        const char* text;
        std::optional<std::uint32_t> pid;
    };
    const Row rows[] = {
        {"4321", 4321},
        {"007", std::nullopt},
        {"4294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"0", std::nullopt},
        {"", std::nullopt},
        {"+5", std::nullopt},
        {"-5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(parse_process_id(row.text), row.pid) << row.text;
}

TEST(CapturesStream, FollowsTheTargetTreeInBothModes) {
    // 1 -> 100 (translator) -> 110 -> 111 ; 1 -> 200 -> 210 ; 300 and 301 form a loop.
    FakeProcesses processes;
    processes.parents = {{1, 0},   {100, 1},   {110, 100}, {111, 110},
                         {200, 1}, {210, 200}, {300, 301}, {301, 300}};
    struct Row {
        std::optional<std::uint32_t> stream_pid;
        bool include_100;  // pid:100
        bool exclude_100;  // system, translator 100
    };
    const Row rows[] = {
        {100, true, false},           // the root itself
        {111, true, false},           // a grandchild
        {210, false, true},           // another tree
        {1, false, true},             // an ancestor is not inside
        {999, false, true},           // no such process: unconfirmed
        {std::nullopt, false, true},  // the stream names no process
        {300, false, true},           // a loop ends the walk
    };
    for (const Row& row : rows) {
        const std::string name = row.stream_pid ? std::to_string(*row.stream_pid) : "none";
        EXPECT_EQ(
            captures_stream(processes, {100, LoopbackMode::IncludeTargetTree}, row.stream_pid),
            row.include_100)
            << name;
        EXPECT_EQ(
            captures_stream(processes, {100, LoopbackMode::ExcludeTargetTree}, row.stream_pid),
            row.exclude_100)
            << name;
    }
}

TEST(CapturesStream, GivesUpOnAbsurdlyDeepTrees) {
    FakeProcesses processes;
    for (std::uint32_t pid = 2; pid < 6000; ++pid)
        processes.parents[pid] = pid - 1;
    processes.parents[1] = 0;
    EXPECT_TRUE(in_process_tree(processes, 4000, 1000));
    EXPECT_FALSE(in_process_tree(processes, 5999, 1));
}

TEST(ProcLookup, KnowsThisProcessAndItsParent) {
    const ProcLookup processes;
    const auto self = static_cast<std::uint32_t>(getpid());
    EXPECT_EQ(processes.parent_of(self), static_cast<std::uint32_t>(getppid()));
    EXPECT_TRUE(in_process_tree(processes, self, 1));
    EXPECT_EQ(processes.parent_of(0), std::nullopt);
    EXPECT_EQ(processes.parent_of(4294967295u), std::nullopt);
}

}  // namespace
}  // namespace quorle::pulse
