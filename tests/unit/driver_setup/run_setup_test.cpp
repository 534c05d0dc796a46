#include "driver_setup/run_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorle::setup {
namespace {

using audio::CableReport;
using audio::CableState;

const std::filesystem::path kFolder = "/opt/quorle/drivers/vbcable";

// Scripted answers for the three steps; every call is logged with its argument.
class FakeSteps final : public SetupSteps {
  public:
    Status verify_answer;
    Result<CableReport> detect_answer;
    SetupResult install_answer = SetupSuccess{false};
    std::vector<std::string> calls;

    Status verify_driver_files(const std::filesystem::path& folder) override {
        calls.push_back("verify " + folder.string());
        return verify_answer;
    }
    Result<CableReport> detect_cables() override {
        calls.emplace_back("detect");
        return detect_answer;
    }
    SetupResult install_cable_driver(const std::filesystem::path& folder) override {
        calls.push_back("install " + folder.string());
        return install_answer;
    }
};

// A report whose endpoint ids and list are filled, so that nothing but the states can matter.
CableReport report(CableState vb, CableState hifi = audio::NotInstalled{}) {
    CableReport r;
    r.vb_cable = {std::move(vb), "{render}", "{capture}"};
    r.hifi_cable = {std::move(hifi), "{hifi-render}", "{hifi-capture}"};
    r.endpoints = {
        {"{capture}", "CABLE Output", 48000, 2, audio::EndpointDirection::Capture, false},
        {"{render}", "CABLE Input", 48000, 2, audio::EndpointDirection::Render, true}};
    return r;
}

const std::string kVerify = "verify " + kFolder.string();
const std::string kInstall = "install " + kFolder.string();

TEST(RunSetup, DecidesByTheVbCableStateWithEachStepAtMostOnceAndInOrder) {
    struct Row {
        const char* label;
        Status verify;
        Result<CableReport> detect;
        SetupResult install;
        SetupResult expected;
        std::vector<std::string> calls;
    };
    const std::string not_started =
        "Driver is not started; check Device Manager and restart Windows";
    const Row rows[] = {
        {"integrity failure ends the run before detection",
         fail("missing bundled driver file VBCABLE_Setup.exe"),
         report(audio::NotInstalled{}),
         SetupSuccess{false},
         SetupFailure{"missing bundled driver file VBCABLE_Setup.exe"},
         {kVerify}},
        {"integrity is checked first even when the cable is ready",
         fail("bundled driver integrity check failed: vbMmeCable64_win10.inf"),
         report(audio::Ready{}),
         SetupSuccess{false},
         SetupFailure{"bundled driver integrity check failed: vbMmeCable64_win10.inf"},
         {kVerify}},
        {"detection failure passes its message unchanged",
         {},
         fail("Cannot enumerate Windows audio driver identities"),
         SetupSuccess{false},
         SetupFailure{"Cannot enumerate Windows audio driver identities"},
         {kVerify, "detect"}},
        {"detection failure from the audio backend",
         {},
         fail("Audio devices changed during detection; refresh again"),
         SetupSuccess{false},
         SetupFailure{"Audio devices changed during detection; refresh again"},
         {kVerify, "detect"}},
        {"not installed: installed without restart",
         {},
         report(audio::NotInstalled{}),
         SetupSuccess{false},
         SetupSuccess{false},
         {kVerify, "detect", kInstall}},
        {"not installed: installed, Windows asks for a restart",
         {},
         report(audio::NotInstalled{}),
         SetupSuccess{true},
         SetupSuccess{true},
         {kVerify, "detect", kInstall}},
        {"not installed: installation failure is the run's failure",
         {},
         report(audio::NotInstalled{}),
         SetupFailure{"read signed INF: Windows error 120"},
         SetupFailure{"read signed INF: Windows error 120"},
         {kVerify, "detect", kInstall}},
        {"endpoints missing: restart, nothing installed",
         {},
         report(audio::EndpointsMissing{}),
         SetupFailure{"must not install"},
         SetupSuccess{true},
         {kVerify, "detect"}},
        {"restart required: restart, nothing installed",
         {},
         report(audio::RestartRequired{}),
         SetupFailure{"must not install"},
         SetupSuccess{true},
         {kVerify, "detect"}},
        {"problem: its message, nothing installed",
         {},
         report(audio::Problem{not_started}),
         SetupSuccess{false},
         SetupFailure{not_started},
         {kVerify, "detect"}},
        {"problem stays a failure while Hi-Fi Cable is ready",
         {},
         report(audio::Problem{"Duplicate driver devices; check Device Manager"}, audio::Ready{}),
         SetupSuccess{false},
         SetupFailure{"Duplicate driver devices; check Device Manager"},
         {kVerify, "detect"}},
        {"ready: success at once",
         {},
         report(audio::Ready{}),
         SetupFailure{"must not install"},
         SetupSuccess{false},
         {kVerify, "detect"}},
        {"Hi-Fi Cable's problem does not stop a ready VB-CABLE",
         {},
         report(audio::Ready{}, audio::Problem{"Ambiguous cable endpoints; check Device Manager"}),
         SetupFailure{"must not install"},
         SetupSuccess{false},
         {kVerify, "detect"}},
        {"Hi-Fi Cable's state does not stop an installation",
         {},
         report(audio::NotInstalled{}, audio::Ready{}),
         SetupSuccess{true},
         SetupSuccess{true},
         {kVerify, "detect", kInstall}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        FakeSteps steps;
        steps.verify_answer = row.verify;
        steps.detect_answer = row.detect;
        steps.install_answer = row.install;
        EXPECT_EQ(run_setup(kFolder, steps), row.expected);
        EXPECT_EQ(steps.calls, row.calls);
    }
}

TEST(RunSetup, ProblemMessageIsKeptByteForByte) {
    // The message goes to the user as it stands, whatever it holds.
    for (const std::string& message :
         {std::string(),
          std::string("Hi-Fi Cable sample rates differ (0 / 0 Hz); set both ends "
                      "to stereo 48 kHz in mmsys.cpl"),
          std::string("caf\xC3\xA9 \\ \"x\"")}) {
        FakeSteps steps;
        steps.detect_answer = report(audio::Problem{message});
        EXPECT_EQ(run_setup(kFolder, steps), SetupResult(SetupFailure{message}));
    }
}

}  // namespace
}  // namespace quorle::setup
