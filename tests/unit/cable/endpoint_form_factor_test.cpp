#include "audio/cable/endpoint_form_factor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/cable/fake_form_factor_reader.h"

namespace quorle::audio {
namespace {

using testing::FakeFormFactorReader;
using testing::FakeStep;
using testing::kHResultChangedMode;
using testing::kHResultFail;
using testing::kHResultFalse;

using Calls = std::vector<std::string>;

constexpr const char* kId = "{0.0.0.00000000}.{5f1b2a62-7a3c-4f65-9d2e-8c2b3d1e0a11}";

// Every step in order, every object released in reverse order of acquisition, and the
// apartment left only when joining it succeeded; on every path.
TEST(EndpointFormFactor, StepsAndReleasesOnEveryPath) {
    const std::string get = std::string("get_device ") + kId;
    struct Row {
        const char* name;
        void (*script)(FakeFormFactorReader&);
        bool speakers;
        Calls calls;
    };
    const Row rows[] = {
        {"speakers",
         [](FakeFormFactorReader&) {},
         true,
         {"initialize", "create", get, "open_store", "read", "release store", "release device",
          "release enumerator", "uninitialize"}},
        {"headphones",
         [](FakeFormFactorReader& r) { r.endpoints[kId].form_factor = 3; },
         false,
         {"initialize", "create", get, "open_store", "read", "release store", "release device",
          "release enumerator", "uninitialize"}},
        {"join reports S_FALSE: still left afterwards",
         [](FakeFormFactorReader& r) { r.initialize_result = kHResultFalse; },
         true,
         {"initialize", "create", get, "open_store", "read", "release store", "release device",
          "release enumerator", "uninitialize"}},
        {"join fails: the check goes on, nothing to leave",
         [](FakeFormFactorReader& r) { r.initialize_result = kHResultChangedMode; },
         true,
         {"initialize", "create", get, "open_store", "read", "release store", "release device",
          "release enumerator"}},
        {"enumerator creation fails",
         [](FakeFormFactorReader& r) {
             r.create = {kHResultFail, false};
         },
         false,
         {"initialize", "create", "uninitialize"}},
        {"enumerator creation fails yet hands out an object",
         [](FakeFormFactorReader& r) {
             r.create = {kHResultFail, true};
         },
         false,
         {"initialize", "create", "release enumerator", "uninitialize"}},
        {"enumerator creation succeeds without an object",
         [](FakeFormFactorReader& r) {
             r.create = {kHResultOk, false};
         },
         false,
         {"initialize", "create", "uninitialize"}},
        {"endpoint id unknown",
         [](FakeFormFactorReader& r) { r.endpoints.clear(); },
         false,
         {"initialize", "create", get, "release enumerator", "uninitialize"}},
        {"device succeeds without an object",
         [](FakeFormFactorReader& r) {
             r.endpoints[kId].get_device = {kHResultOk, false};
         },
         false,
         {"initialize", "create", get, "release enumerator", "uninitialize"}},
        {"property store fails",
         [](FakeFormFactorReader& r) {
             r.endpoints[kId].open_store = {kHResultFail, false};
         },
         false,
         {"initialize", "create", get, "open_store", "release device", "release enumerator",
          "uninitialize"}},
        {"property store succeeds without an object",
         [](FakeFormFactorReader& r) {
             r.endpoints[kId].open_store = {kHResultOk, false};
         },
         false,
         {"initialize", "create", get, "open_store", "release device", "release enumerator",
          "uninitialize"}},
        {"value unreadable",
         [](FakeFormFactorReader& r) { r.endpoints[kId].read = kHResultFail; },
         false,
         {"initialize", "create", get, "open_store", "read", "release store", "release device",
          "release enumerator", "uninitialize"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeFormFactorReader reader;
        reader.endpoints[kId] = {};
        row.script(reader);
        EXPECT_EQ(endpoint_is_speakers(reader, kId), row.speakers);
        EXPECT_EQ(reader.calls, row.calls);
        EXPECT_EQ(reader.outstanding(), 0);
    }
}

TEST(EndpointFormFactor, OnlyTheValueOneIsSpeakers) {
    for (const std::uint32_t value : {0u, 1u, 2u, 4u, 10u, 0x101u, 0xFFFFFFFFu}) {
        FakeFormFactorReader reader;
        reader.endpoints[kId].form_factor = value;
        EXPECT_EQ(endpoint_is_speakers(reader, kId), value == 1) << value;
    }
}

TEST(EndpointFormFactor, NonAsciiIdReachesThePlatformIntact) {
    const std::string id = "{0.0.0.00000000}.{caf\xC3\xA9-\xF0\x9F\x8E\xA7}";
    FakeFormFactorReader reader;
    reader.endpoints[id] = {};
    EXPECT_TRUE(endpoint_is_speakers(reader, id));
}

}  // namespace
}  // namespace quorle::audio
