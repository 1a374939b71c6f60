#include "net/KvUUE.h"

#include "net/Kv64Encode.h"
#include "toolkit/runtime/TStream.h"

void TKvUUProcessor::Encode() {
    InputStream->SetPosition(0);
    if (OnBeginEncode)
        OnBeginEncode(this);
    if (Method == uuMime)
        EncodeBase64(*InputStream, *OutputStream);
    else if (Method == uuCode)
        EncodeUU(*InputStream, *OutputStream);
    InputStream->SetPosition(0);
    OutputStream->SetPosition(0);
    if (OnEndEncode)
        OnEndEncode(this);
}
