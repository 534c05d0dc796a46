#include "audio_host/capture_run/win32/completion_handler.h"

#include <cstring>
#include <new>

#include "audio_host/capture_run/win32/audio_client_win32.h"

namespace quorle::host::win32 {

CompletionHandler::CompletionHandler(const ActivationParameters& parameters,
                                     ActivationCompletion completion)
    : completion_(std::move(completion)) {
    static_assert(sizeof parameters_ == sizeof parameters);
    std::memcpy(&parameters_, parameters.data(), sizeof parameters_);
}

CompletionHandler::~CompletionHandler() = default;

HRESULT CompletionHandler::create(const ActivationParameters& parameters,
                                  ActivationCompletion completion,
                                  ComPtr<CompletionHandler>& handler) {
    auto* created = new (std::nothrow) CompletionHandler(parameters, std::move(completion));
    if (created == nullptr) return E_OUTOFMEMORY;
    ComPtr<CompletionHandler> owned = ComPtr<CompletionHandler>::adopt(created);
    // The marshaler aggregates the handler: it keeps no reference on its outer object.
    const HRESULT result =
        CoCreateFreeThreadedMarshaler(created->identity(), created->marshaler_.put());
    if (result < 0) return result;
    if (!created->marshaler_) return E_POINTER;
    handler = std::move(owned);
    return S_OK;
}

HRESULT CompletionHandler::QueryInterface(REFIID riid, void** object) {
    // Callers written in C can pass a null REFIID. Read through a volatile pointer so that the
    // compiler cannot assume the reference's address to be non-null and drop the test.
    const IID* volatile id = &riid;
    if (id == nullptr || object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(riid, __uuidof(IUnknown)) ||
        IsEqualIID(riid, __uuidof(IActivateAudioInterfaceCompletionHandler))) {
        *object = static_cast<IActivateAudioInterfaceCompletionHandler*>(this);
    } else if (IsEqualIID(riid, __uuidof(IAgileObject))) {
        *object = static_cast<IAgileObject*>(this);
    } else if (IsEqualIID(riid, __uuidof(IInspectable))) {
        *object = static_cast<IInspectable*>(this);
    } else if (IsEqualIID(riid, __uuidof(IMarshal))) {
        return marshaler_->QueryInterface(riid, object);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CompletionHandler::AddRef() {
    // A new reference is made from an existing one: no ordering is needed.
    return references_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CompletionHandler::Release() {
    // acq_rel: the last release sees every write made through the other references.
    const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT CompletionHandler::GetIids(ULONG* count, IID** iids) {
    if (count == nullptr || iids == nullptr) return E_POINTER;
    *count = 0;
    *iids = nullptr;
    return S_OK;
}

HRESULT CompletionHandler::GetRuntimeClassName(HSTRING* name) {
    if (name == nullptr) return E_POINTER;
    *name = nullptr;  // the empty string
    return S_OK;
}

HRESULT CompletionHandler::GetTrustLevel(TrustLevel* level) {
    if (level == nullptr) return E_POINTER;
    *level = BaseTrust;
    return S_OK;
}

HRESULT CompletionHandler::ActivateCompleted(IActivateAudioInterfaceAsyncOperation* operation) {
    // Nothing may unwind into the platform's thread: an outcome that cannot even be built
    // (out of memory) is not sent, and the waiting side then reports the time-out.
    try {
        if (operation == nullptr) {
            completion_.complete(nullptr);
        } else {
            Win32ActivationOperation adapter(*operation);
            completion_.complete(&adapter);
        }
    } catch (...) {
    }
    return S_OK;
}

PROPVARIANT CompletionHandler::activation_property() {
    PROPVARIANT property{};
    property.vt = VT_BLOB;
    property.blob.cbSize = sizeof parameters_;
    property.blob.pBlobData = reinterpret_cast<BYTE*>(&parameters_);
    return property;
}

}  // namespace quorle::host::win32
