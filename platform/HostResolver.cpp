#include "platform/HostResolver.h"

HostLookupResult SystemHostResolver::Resolve(const std::string&) { return {11003, {}, {}, {}}; }
std::shared_ptr<HostResolver> SetHostResolver(std::shared_ptr<HostResolver>) { return nullptr; }
std::shared_ptr<HostResolver> CurrentHostResolver() { return nullptr; }
