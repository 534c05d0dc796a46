// The Windows completion handler as a COM object, and the real Windows layer as far as the
// system in use implements it (Wine completes the activation with 0x80070002).
#include "audio_host/capture_run/win32/completion_handler.h"

#include <windows.h>

#include <audioclient.h>

#include <gtest/gtest.h>

#include <cstring>

#include "../fake_time.h"
#include "audio_host/capture_run/activation.h"
#include "audio_host/capture_run/win32/audio_client_win32.h"
#include "common/com_apartment.h"
#include "common/platform_error.h"

namespace quorle::host::win32 {
namespace {

using testing::FakeTime;

bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A handler with its receiving end.
struct HandlerRig {
    HandlerRig() {
        auto [sender, receiver] = make_one_slot_channel<ActivationOutcome>();
        outcome = std::move(receiver);
        const HRESULT created = CompletionHandler::create(
            activation_parameters(4321, LoopbackMode::ExcludeTargetProcessTree),
            ActivationCompletion(std::move(sender), ActivationService::WindowsProcessLoopback),
            handler);
        EXPECT_EQ(created, S_OK);
    }

    // The outcome, if one was sent; never waits (simulated time).
    std::optional<ActivationOutcome> take() {
        FakeTime time;
        return outcome.receive_until(time, time.now());
    }

    // True when the sending end is gone: the handler has been destroyed.
    bool handler_destroyed() {
        FakeTime time;
        (void)outcome.receive_until(time, time.now() + std::chrono::seconds(1));
        return time.waits().empty();
    }

    OutcomeReceiver outcome;
    ComPtr<CompletionHandler> handler;
};

TEST(CompletionHandler, AnswersItsInterfacesWithOneIdentity) {
    HandlerRig rig;
    IUnknown* identity = rig.handler->identity();
    for (const IID& iid :
         {__uuidof(IUnknown), __uuidof(IInspectable), __uuidof(IAgileObject),
          __uuidof(IActivateAudioInterfaceCompletionHandler), __uuidof(IMarshal)}) {
        void* object = nullptr;
        ASSERT_EQ(rig.handler->QueryInterface(iid, &object), S_OK);
        ASSERT_NE(object, nullptr);
        auto* answered = static_cast<IUnknown*>(object);
        IUnknown* back = nullptr;
        ASSERT_EQ(answered->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&back)),
                  S_OK);
        EXPECT_EQ(back, identity) << "every interface leads back to the same object";
        back->Release();
        answered->Release();
    }
}

TEST(CompletionHandler, RefusesOtherInterfacesAndNullArguments) {
    HandlerRig rig;
    for (const IID& iid :
         {__uuidof(IDispatch), __uuidof(IAudioClient), __uuidof(IAudioCaptureClient),
          __uuidof(IClassFactory), __uuidof(IStream)}) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(rig.handler->QueryInterface(iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(rig.handler->QueryInterface(__uuidof(IUnknown), nullptr), E_POINTER);
    void* object = nullptr;
    // What a C caller passing a null REFIID does.
    const IID* volatile no_iid = nullptr;
    EXPECT_EQ(rig.handler->QueryInterface(*no_iid, &object), E_POINTER);
}

TEST(CompletionHandler, CountsReferencesAndEndsWithTheLast) {
    HandlerRig rig;
    CompletionHandler* handler = rig.handler.get();
    EXPECT_EQ(handler->AddRef(), 2u);
    void* agile = nullptr;
    ASSERT_EQ(handler->QueryInterface(__uuidof(IAgileObject), &agile), S_OK);
    EXPECT_EQ(handler->AddRef(), 4u);
    EXPECT_EQ(handler->Release(), 3u);
    EXPECT_EQ(static_cast<IUnknown*>(agile)->Release(), 2u);
    EXPECT_EQ(handler->Release(), 1u);
    EXPECT_FALSE(rig.handler_destroyed());
    rig.handler.reset();
    EXPECT_TRUE(rig.handler_destroyed()) << "the last release frees the handler";
}

TEST(CompletionHandler, InspectableAnswers) {
    HandlerRig rig;
    ULONG count = 7;
    IID* iids = reinterpret_cast<IID*>(1);
    EXPECT_EQ(rig.handler->GetIids(&count, &iids), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(iids, nullptr);
    HSTRING name = reinterpret_cast<HSTRING>(1);
    EXPECT_EQ(rig.handler->GetRuntimeClassName(&name), S_OK);
    EXPECT_EQ(name, nullptr);
    TrustLevel level = FullTrust;
    EXPECT_EQ(rig.handler->GetTrustLevel(&level), S_OK);
    EXPECT_EQ(level, BaseTrust);
    EXPECT_EQ(rig.handler->GetIids(nullptr, &iids), E_POINTER);
    EXPECT_EQ(rig.handler->GetRuntimeClassName(nullptr), E_POINTER);
    EXPECT_EQ(rig.handler->GetTrustLevel(nullptr), E_POINTER);
}

TEST(CompletionHandler, OwnsTheParameterBlockOfTheProperty) {
    HandlerRig rig;
    const PROPVARIANT& property = *rig.handler->activation_property();
    EXPECT_EQ(property.vt, VT_BLOB);
    ASSERT_EQ(property.blob.cbSize, 12u);
    const ActivationParameters expected =
        activation_parameters(4321, LoopbackMode::ExcludeTargetProcessTree);
    EXPECT_EQ(0, std::memcmp(property.blob.pBlobData, expected.data(), expected.size()));
}

// Test COM objects live on the stack and are never deleted through an interface.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// A minimal IActivateAudioInterfaceAsyncOperation that reports fixed results.
class ScriptedOperation final : public IActivateAudioInterfaceAsyncOperation {
  public:
    ScriptedOperation(HRESULT activation_result, IUnknown* activated)
        : activation_result_(activation_result), activated_(activated) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetActivateResult(HRESULT* result, IUnknown** activated) override {
        *result = activation_result_;
        if (activated_ != nullptr) activated_->AddRef();
        *activated = activated_;
        return S_OK;
    }

  private:
    HRESULT activation_result_;
    IUnknown* activated_;
};

// An object that is no audio client, counting its references.
class PlainObject final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (!IsEqualIID(riid, __uuidof(IUnknown))) return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

TEST(CompletionHandler, ActivateCompletedSendsTheOutcomeAndReturnsSOk) {
    {
        HandlerRig rig;
        EXPECT_EQ(rig.handler->ActivateCompleted(nullptr), S_OK);
        auto outcome = rig.take();
        ASSERT_TRUE(outcome.has_value());
        ASSERT_FALSE(*outcome);
        EXPECT_EQ(outcome->error(), "activation operation missing");
    }
    {
        HandlerRig rig;
        ScriptedOperation operation(static_cast<HRESULT>(0x80070002u), nullptr);
        EXPECT_EQ(rig.handler->ActivateCompleted(&operation), S_OK);
        auto outcome = rig.take();
        ASSERT_TRUE(outcome.has_value());
        ASSERT_FALSE(*outcome);
        EXPECT_EQ(outcome->error(),
                  "process-loopback activation (requires supported Windows build): " +
                      platform_error_text(0x80070002u));
    }
    {
        HandlerRig rig;
        PlainObject plain;
        ScriptedOperation operation(S_OK, &plain);
        EXPECT_EQ(rig.handler->ActivateCompleted(&operation), S_OK);
        auto outcome = rig.take();
        ASSERT_TRUE(outcome.has_value());
        ASSERT_FALSE(*outcome);
        EXPECT_EQ(outcome->error(), context_error("audio client", 0x80004002u));
        EXPECT_EQ(plain.references, 1u) << "the activated interface is released";
    }
}

TEST(Win32CaptureLayer, CaptureEventIsAutoReset) {
    std::unique_ptr<CaptureEvent> event;
    ASSERT_TRUE(system_capture_platform().create_capture_event(event).ok);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->wait(0), kWaitTimeout);
    SetEvent(static_cast<Win32CaptureEvent&>(*event).handle());
    EXPECT_EQ(event->wait(0), kWaitObject0);
    EXPECT_EQ(event->wait(0), kWaitTimeout) << "one wait resets the event";
}

TEST(Win32CaptureLayer, ProcessLoopbackActivation) {
    std::unique_ptr<PlatformReference> apartment;
    ASSERT_GE(system_capture_platform().join_multithreaded_apartment(apartment), 0);
    auto client =
        activate_process_loopback(system_capture_platform(), GetCurrentProcessId(),
                                  LoopbackMode::ExcludeTargetProcessTree, system_timed_wait());
    if (running_under_wine()) {
        // Wine starts the activation and completes it with ERROR_FILE_NOT_FOUND.
        ASSERT_FALSE(client);
        EXPECT_EQ(client.error(),
                  "process-loopback activation (requires supported Windows build): " +
                      platform_error_text(0x80070002u));
        return;
    }
    // A Windows build with process loopback: the client sets up for float capture.
    ASSERT_TRUE(client) << client.error();
    auto capture = initialize_process_capture(system_capture_platform(), **client);
    ASSERT_TRUE(capture) << capture.error();
    EXPECT_EQ((*client)->start(), S_OK);
    EXPECT_EQ((*client)->stop(), S_OK);
}

}  // namespace
}  // namespace quorle::host::win32
