#pragma once
// The completion handler of the process-loopback activation, a COM object that the platform
// calls on one of its own threads. It is agile (IAgileObject, and IMarshal through the
// free-threaded marshaler), so it is called directly on any thread without marshalling back
// to the caller's apartment. It owns the activation parameter block, which the platform may
// read for as long as it holds the handler, and the sending end of the outcome channel.
#include <windows.h>

#include <inspectable.h>
#include <mmdeviceapi.h>
#include <objidl.h>

#include <atomic>

#include "audio_host/capture_run/activation_completion.h"
#include "audio_host/capture_run/capture_platform.h"
#include "audio_host/capture_run/win32/com_ptr.h"
#include "audio_host/capture_run/win32/process_loopback_abi.h"

namespace quorle::host::win32 {

// COM interfaces have no virtual destructor by design: the object deletes itself, as its
// exact type, in its last Release.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
class CompletionHandler final : public IActivateAudioInterfaceCompletionHandler,
                                public IAgileObject,
                                public IInspectable {
  public:
    // Creates a handler with a reference count of 1, owned by `handler`. Fails only when the
    // free-threaded marshaler cannot be created.
    [[nodiscard]] static HRESULT create(const ActivationParameters& parameters,
                                        ActivationCompletion completion,
                                        ComPtr<CompletionHandler>& handler);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IInspectable: no interface ids, an empty class name, base trust.
    HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override;
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override;
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override;

    // IActivateAudioInterfaceCompletionHandler: turns the operation into the outcome and
    // sends it; always S_OK.
    HRESULT STDMETHODCALLTYPE
    ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) override;

    // The property value for ActivateAudioInterfaceAsync: a VT_BLOB over the owned block.
    [[nodiscard]] PROPVARIANT activation_property();

    // The object's identity (its IUnknown).
    [[nodiscard]] IUnknown* identity() {
        return static_cast<IActivateAudioInterfaceCompletionHandler*>(this);
    }

  private:
    CompletionHandler(const ActivationParameters& parameters, ActivationCompletion completion);
    ~CompletionHandler();

    std::atomic<ULONG> references_{1};
    ProcessLoopbackActivationParams parameters_;  // read by the platform through the property
    ActivationCompletion completion_;             // used once, on the completion thread
    ComPtr<IUnknown> marshaler_;                  // the free-threaded marshaler (inner unknown)
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace quorle::host::win32
