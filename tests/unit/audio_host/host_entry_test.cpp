#include "audio_host/cli/host_entry.h"

#include <gtest/gtest.h>

#include "audio_host/cli/output_protocol.h"

namespace quorle::host {
namespace {

class StringStream final : public OutputStream {
  public:
    std::string text;
    bool broken = false;
    bool busy = false;  // another write holds the stream: write would wait, write_if_free fails
    Status write(std::string_view bytes) override {
        EXPECT_FALSE(busy) << "a write that would wait for the stream";
        if (broken) return fail("broken");
        text.append(bytes);
        return {};
    }
    Status write_if_free(std::string_view bytes) override {
        if (busy) return fail(std::string(kStreamBusy));
        return write(bytes);
    }
};

TEST(OutputProtocol, HeaderLineIsExact) {
    EXPECT_EQ(header_line(),
              "{\"backend\":\"wasapi-process-loopback\",\"channels\":1,\"event\":\"format\","
              "\"sampleFormat\":\"s16le\",\"sampleRate\":48000}\n");
}

TEST(OutputProtocol, ErrorLineEscapesTheMessage) {
    EXPECT_EQ(error_line("one excluded parent PID is required"),
              "{\"code\":\"capture_failed\",\"event\":\"error\","
              "\"message\":\"one excluded parent PID is required\"}\n");
    EXPECT_EQ(error_line("C:\\a\nb\x1f\x7f"),
              "{\"code\":\"capture_failed\",\"event\":\"error\","
              "\"message\":\"C:\\\\a\\nb\\u001f\x7f\"}\n");
}

struct Calls {
    int lists = 0;
    int captures = 0;
    CaptureRequest last;
};

HostModes modes_for(Calls& calls, Status list_result, Status capture_result) {
    HostModes modes;
    modes.list_applications = [&calls, list_result] {
        ++calls.lists;
        return list_result;
    };
    modes.run_capture = [&calls, capture_result](const CaptureRequest& request) {
        ++calls.captures;
        calls.last = request;
        return capture_result;
    };
    return modes;
}

TEST(HostEntry, ParseFailureWritesOneErrorLineAndRunsNothing) {
    Calls calls;
    StringStream err;
    EXPECT_EQ(run_host({}, modes_for(calls, Status{}, Status{}), err), 1);
    EXPECT_EQ(err.text, error_line("one excluded parent PID is required"));
    EXPECT_EQ(calls.lists + calls.captures, 0);
}

TEST(HostEntry, DispatchesAndMapsOutcomes) {
    struct Row {
        std::vector<std::string> args;
        Status list_result;
        Status capture_result;
        int status;
        std::string err;
        int lists;
        int captures;
    };
    const std::vector<std::string> capture = {"--target", "system", "--exclude-pids", "7"};
    const Row rows[] = {
        {{"--list"}, Status{}, Status{}, 0, "", 1, 0},
        {{"--list"},
         fail("enumerate application windows: x"),
         Status{},
         1,
         error_line("enumerate application windows: x"),
         1,
         0},
        {capture, Status{}, Status{}, 0, "", 0, 1},
        {capture, Status{}, fail("selected process exited"), 1,
         error_line("selected process exited"), 0, 1},
    };
    for (const Row& row : rows) {
        Calls calls;
        StringStream err;
        EXPECT_EQ(run_host(row.args, modes_for(calls, row.list_result, row.capture_result), err),
                  row.status);
        EXPECT_EQ(err.text, row.err);
        EXPECT_EQ(calls.lists, row.lists);
        EXPECT_EQ(calls.captures, row.captures);
    }
}

TEST(HostEntry, AWorkerLeftBehindEndsTheProcessWithTheRunsOwnStatus) {
    struct Row {
        const char* name;
        Status capture_result;
        bool abandoned;
        bool err_busy;
        int status;
        std::string err;
        std::vector<int> ends;  // statuses handed to end_process
    };
    const std::vector<std::string> capture = {"--target", "system", "--exclude-pids", "7"};
    const Row rows[] = {
        {"worker joined, success", Status{}, false, false, 0, "", {}},
        {"worker joined, failure", fail("x"), false, false, 1, error_line("x"), {}},
        {"worker left behind, success", Status{}, true, false, 0, "", {0}},
        {"worker left behind, failure", fail("x"), true, false, 1, error_line("x"), {1}},
        {"worker left behind inside a write of standard error", fail("x"), true, true, 1, "", {1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Calls calls;
        StringStream err;
        err.busy = row.err_busy;
        HostModes modes = modes_for(calls, Status{}, row.capture_result);
        std::vector<int> ends;
        modes.worker_abandoned = [&] { return row.abandoned; };
        modes.end_process = [&](int status) { ends.push_back(status); };
        EXPECT_EQ(run_host(capture, modes, err), row.status);
        EXPECT_EQ(err.text, row.err);
        EXPECT_EQ(ends, row.ends);
    }
}

TEST(HostEntry, BrokenStandardErrorStillExitsWithOne) {
    Calls calls;
    StringStream err;
    err.broken = true;
    EXPECT_EQ(run_host({"--help"}, modes_for(calls, Status{}, Status{}), err), 1);
}

}  // namespace
}  // namespace quorle::host
