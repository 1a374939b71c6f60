#pragma once

#include "platform/UrlService.h"

#include <memory>
#include <set>
#include <string>

class UrlTransfer;

struct InternetHandle {
    virtual ~InternetHandle() = default;
};

// The URL handles of one root that are alive, so that cancelling the root
// reaches the transfer in progress even while InternetOpenUrlA, which has
// not yet handed out its handle, waits for it.
struct TransferGroup {
    bool Cancelled { false };
    std::set<UrlTransfer*> Alive;
};

struct RootHandle final : InternetHandle {
    std::string Agent;
    uint32_t AccessType { INTERNET_OPEN_TYPE_PRECONFIG };
    std::string Proxy;
    std::string ProxyBypass;
    InternetLimits Limits;
    // Shared with the URL handles, which may outlive the root.
    std::shared_ptr<TransferGroup> Group { std::make_shared<TransferGroup>() };
};
