#include "platform/HostEntryWriter.h"

#include "platform/Winsock.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kMaximumEntries = 35;

size_t AlignUp(size_t offset) {
    return (offset + alignof(char*) - 1) & ~(alignof(char*) - 1);
}

// Pointers go in with memcpy: the caller's buffer need not be aligned.
void StorePointer(char* at, char* pointer) {
    std::memcpy(at, &pointer, sizeof pointer);
}

} // namespace

int WriteHostEntry(const HostLookupResult& result, const std::string& queriedName, char* buffer,
                   int length) {
    const std::string& name = result.officialName.empty() ? queriedName : result.officialName;
    size_t aliasCount = std::min(result.aliases.size(), kMaximumEntries);
    size_t addressCount = std::min(result.addresses.size(), kMaximumEntries);

    size_t aliasList = AlignUp(sizeof(Winsock::hostent));
    size_t addressList = aliasList + (aliasCount + 1) * sizeof(char*);
    size_t addresses = addressList + (addressCount + 1) * sizeof(char*);
    size_t names = addresses + addressCount * 4;
    size_t total = names + name.size() + 1;
    for (size_t i = 0; i < aliasCount; ++i)
        total += result.aliases[i].size() + 1;
    if (length < 0 || total > static_cast<size_t>(length))
        return static_cast<int>(total);

    std::memset(buffer, 0, total);
    size_t text = names;
    auto putText = [&](const std::string& value) {
        char* at = buffer + text;
        std::memcpy(at, value.c_str(), value.size() + 1);
        text += value.size() + 1;
        return at;
    };

    Winsock::hostent entry {};
    entry.h_name = putText(name);
    entry.h_aliases = reinterpret_cast<char**>(buffer + aliasList);
    entry.h_addrtype = static_cast<short>(Winsock::AF_INET);
    entry.h_length = 4;
    entry.h_addr_list = reinterpret_cast<char**>(buffer + addressList);
    for (size_t i = 0; i < aliasCount; ++i)
        StorePointer(buffer + aliasList + i * sizeof(char*), putText(result.aliases[i]));
    for (size_t i = 0; i < addressCount; ++i) {
        char* address = buffer + addresses + i * 4;
        std::memcpy(address, result.addresses[i].data(), 4);
        StorePointer(buffer + addressList + i * sizeof(char*), address);
    }
    std::memcpy(buffer, &entry, sizeof entry);
    return static_cast<int>(total);
}
