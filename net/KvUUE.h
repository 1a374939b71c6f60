#pragma once

#include "net/TComponent.h"

#include <cstdint>

class TStream;

enum UUMethods : uint8_t { uuMime = 0, uuCode = 1 };

// Encodes InputStream into OutputStream with Base64 (uuMime) or uuencode
// (uuCode). Both streams stay the caller's. The decode events exist for
// completeness of the component's interface and are never fired.
class TKvUUProcessor : public TComponent {
public:
    explicit TKvUUProcessor(TComponent* owner) : TComponent(owner) {}
    ~TKvUUProcessor() override { Destroying(); }

    // Rewinds the input, fires OnBeginEncode, appends the encoded text to the
    // output, rewinds both streams so the caller reads the output from its
    // start, and fires OnEndEncode.
    void Encode();

    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;
    TStream* InputStream { nullptr };
    TStream* OutputStream { nullptr };
    UUMethods Method { uuMime };
};
