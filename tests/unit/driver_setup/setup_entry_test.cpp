#include "driver_setup/setup_entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver_setup/exit_status.h"
#include "setup_fakes.h"

namespace quorle::setup {
namespace {

using testing::FakeOwnExecutable;
using testing::StringStream;

TEST(ExitStatus, MapsEachOutcomeAndWritesOnlyTheFailureLine) {
    struct Row {
        SetupResult result;
        int status;
        std::string err;
    };
    const Row rows[] = {
        {SetupSuccess{false}, 0, ""},
        {SetupSuccess{true}, 3010, ""},
        {SetupFailure{"missing application folder"}, 1,
         "QUORLE_DRIVER_SETUP missing application folder\n"},
        {SetupFailure{""}, 1, "QUORLE_DRIVER_SETUP \n"},
        {SetupFailure{"caf\xC3\xA9 C:\\x"}, 1, "QUORLE_DRIVER_SETUP caf\xC3\xA9 C:\\x\n"},
    };
    for (const Row& row : rows) {
        StringStream err;
        EXPECT_EQ(exit_status_for(row.result, err), row.status) << row.err;
        EXPECT_EQ(err.text, row.err);
        EXPECT_EQ(err.writes, row.err.empty() ? 0 : 1) << "the line is written whole";
    }
}

TEST(ExitStatus, LostStandardErrorKeepsTheFailureStatus) {
    StringStream err;
    err.broken = true;
    EXPECT_EQ(exit_status_for(SetupFailure{"driver setup takes no arguments"}, err), 1);
    EXPECT_EQ(err.writes, 1);
}

// The run step as a test sees it: how often it ran, with which folder, and what it answers.
struct RunProbe {
    SetupResult answer = SetupSuccess{false};
    std::vector<std::filesystem::path> folders;
    RunSetup step() {
        return [this](const std::filesystem::path& folder) {
            folders.push_back(folder);
            return answer;
        };
    }
};

TEST(SetupEntry, RejectsAnyArgumentBeforeLookingAtAnything) {
    for (const std::size_t count : {std::size_t{0}, std::size_t{2}, std::size_t{3}}) {
        FakeOwnExecutable own;
        RunProbe run;
        StringStream err;
        EXPECT_EQ(run_driver_setup({0, count}, own, run.step(), err), 1);
        EXPECT_EQ(err.text, "QUORLE_DRIVER_SETUP driver setup takes no arguments\n");
        EXPECT_EQ(own.calls, 0);
        EXPECT_TRUE(run.folders.empty());
    }
}

TEST(SetupEntry, UnrestrictedLibrarySearchStopsTheRunFirst) {
    FakeOwnExecutable own;
    RunProbe run;
    StringStream err;
    EXPECT_EQ(run_driver_setup({87, 2}, own, run.step(), err), 1);
    EXPECT_EQ(err.text, "QUORLE_DRIVER_SETUP restrict library search: Windows error 87\n");
    EXPECT_EQ(own.calls, 0);
    EXPECT_TRUE(run.folders.empty());
}

TEST(SetupEntry, FolderFailuresEndTheRunWithoutRunningIt) {
    FakeOwnExecutable own;
    own.answer = std::filesystem::path("/");
    RunProbe run;
    StringStream err;
    EXPECT_EQ(run_driver_setup({0, 1}, own, run.step(), err), 1);
    EXPECT_EQ(err.text, "QUORLE_DRIVER_SETUP missing application folder\n");
    EXPECT_TRUE(run.folders.empty());
}

TEST(SetupEntry, RunsWithTheDriverFolderAndMapsItsResult) {
    const SetupResult answers[] = {SetupSuccess{false}, SetupSuccess{true},
                                   SetupFailure{"bundled driver integrity check failed: a"}};
    const int statuses[] = {0, 3010, 1};
    for (std::size_t i = 0; i < 3; ++i) {
        FakeOwnExecutable own;
        RunProbe run;
        run.answer = answers[i];
        StringStream err;
        EXPECT_EQ(run_driver_setup({0, 1}, own, run.step(), err), statuses[i]);
        ASSERT_EQ(run.folders.size(), 1u);
        EXPECT_EQ(run.folders[0], std::filesystem::path("/opt/quorle/drivers/vbcable"));
        EXPECT_EQ(err.text, i == 2 ? "QUORLE_DRIVER_SETUP bundled driver integrity check "
                                     "failed: a\n"
                                   : "");
    }
}

}  // namespace
}  // namespace quorle::setup
