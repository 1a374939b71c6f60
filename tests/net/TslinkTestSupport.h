#pragma once

#include "net/Tslink.h"
#include "platform/Events.h"
#include "platform/HostResolver.h"
#include "platform/Windows.h"
#include "tests/support/DispatchUntil.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

using namespace std::chrono_literals;

// Everything a component reports through OnStatus, in order.
struct StatusLog {
    std::vector<std::string> Texts;

    void Attach(TTessalink& component) {
        component.OnStatus = [this](TComponent*, const std::string& status) {
            Texts.push_back(status);
        };
    }
    bool Contains(const std::string& text) const {
        for (const std::string& each : Texts)
            if (each == text)
                return true;
        return false;
    }
    // The texts from the first occurrence of the given one on.
    std::vector<std::string> From(const std::string& text) const {
        for (std::size_t i = 0; i < Texts.size(); ++i)
            if (Texts[i] == text)
                return { Texts.begin() + static_cast<std::ptrdiff_t>(i), Texts.end() };
        return {};
    }
};

// A name service for tests: known names answer with their address, the
// "hanging" name answers only after Release, every other name is unknown.
// No query ever leaves the process.
class ScriptedResolver : public HostResolver {
public:
    HostLookupResult Resolve(const std::string& name) override {
        ++Lookups;
        HostLookupResult result;
        if (name == HangingName) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_released.wait(lock, [this] { return m_release; });
            result.error = 11002;
            return result;
        }
        const auto known = Known.find(name);
        if (known == Known.end()) {
            result.error = 11001;
            return result;
        }
        result.officialName = name;
        result.addresses.push_back(known->second);
        return result;
    }

    // Lets every hanging lookup end (its answer is no longer wanted).
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_release = true;
        }
        m_released.notify_all();
    }

    std::map<std::string, std::array<std::uint8_t, 4>> Known { { "peer.test", { 127, 0, 0, 1 } } };
    std::string HangingName { "hanging.test" };
    std::atomic<int> Lookups { 0 };

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_release = false;
};

// Installs a ScriptedResolver for the test and releases its hanging lookups
// at the end, so no worker outlives the test.
class TslinkTest : public ::testing::Test {
protected:
    void TearDown() override { Resolver->Release(); }

    std::shared_ptr<ScriptedResolver> Resolver { std::make_shared<ScriptedResolver>() };
    ScopedHostResolver InstalledResolver { Resolver };
};

// Expects the call to raise exactly the exception type with the message.
template <typename E, typename F> void ExpectRaises(F&& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "nothing raised, expected \"" << message << "\"";
    } catch (const E& error) {
        EXPECT_EQ(typeid(error), typeid(E)) << "raised a descendant: " << error.what();
        EXPECT_EQ(error.Message(), message);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected exception: " << error.what();
    }
}

// Connects the component to 127.0.0.1:port. A component without a time
// limit gets a generous one, so that a wait that never ends fails the test
// instead of hanging it.
inline void ConnectTo(TTessalink& component, std::uint16_t port) {
    if (component.TimeOut == 0)
        component.TimeOut = 30000;
    component.Host = "127.0.0.1";
    component.Port = port;
    component.Connect();
}
