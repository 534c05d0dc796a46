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

TEST(StreamProcess, SecurePidFirstThenTheStreamsThenTheClientsAndTheRelayIsPassedOver) {
    // 1 -> 5 (the protocol relay) ; 1 -> 100 (translator) -> 110 ; 1 -> 200 -> 210
    FakeProcesses processes;
    processes.parents = {{1, 0}, {5, 1}, {100, 1}, {110, 100}, {200, 1}, {210, 200}};
    using P = std::optional<std::uint32_t>;
    const P none;
    struct Row {
        const char* name;
        StreamOwner owner;  // client's secure pid, stream's process id, client's process id
        P relay;
        P process;
        bool include_100;  // pid:100
        bool exclude_100;  // system, translator 100
    };
    const Row rows[] = {
        {"native program in the tree", {110, none, 110}, 5, 110, true, false},
        {"native program naming another process", {210, 110, 110}, 5, 210, false, true},
        {"relayed client: the stream's id", {5, 110, 210}, 5, 110, true, false},
        {"relayed client without a stream id", {5, none, 110}, 5, 110, true, false},
        {"relayed client naming nothing", {5, none, none}, 5, none, false, true},
        {"PulseAudio: the stream's id first", {none, 210, 110}, none, 210, false, true},
        {"PulseAudio: the client's id last", {none, none, 110}, none, 110, true, false},
        {"secure pid of a process that is gone", {999, 110, 110}, 5, 999, false, true},
        {"no relay known: any secure pid counts", {5, 110, 110}, none, 5, false, true},
        {"nothing at all", {none, none, none}, none, none, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const P process = stream_process(row.owner, row.relay);
        EXPECT_EQ(process, row.process);
        EXPECT_EQ(captures_stream(processes, {100, LoopbackMode::IncludeTargetTree}, process),
                  row.include_100);
        EXPECT_EQ(captures_stream(processes, {100, LoopbackMode::ExcludeTargetTree}, process),
                  row.exclude_100);
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
