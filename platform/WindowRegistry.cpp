#include "platform/WindowRegistry.h"

#include "platform/MessageQueue.h"
#include "platform/WindowMessageEvent.h"

#include <QCoreApplication>

#include <cctype>
#include <utility>

WindowRegistry& WindowRegistry::Instance() {
    // Never destroyed: worker threads may still post or signal during
    // static teardown.
    static auto* registry = new WindowRegistry;
    return *registry;
}

// Class names compare without regard to case, per instance.
std::string WindowRegistry::ClassKey(HINSTANCE instance, const char* className) {
    if (instance == 0)
        instance = GetModuleHandle(nullptr);
    std::string key = std::to_string(instance) + ':';
    for (const char* c = className; *c; ++c)
        key += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    return key;
}

ATOM WindowRegistry::RegisterClass(const WNDCLASS& windowClass) {
    if (!windowClass.lpszClassName || !*windowClass.lpszClassName || !windowClass.lpfnWndProc ||
        windowClass.cbWndExtra < 0 || windowClass.cbClsExtra < 0)
        return 0;
    std::lock_guard lock(m_mutex);
    std::string key = ClassKey(windowClass.hInstance, windowClass.lpszClassName);
    if (m_classes.count(key))
        return 0;
    auto record = std::make_unique<ClassRecord>();
    record->Class = windowClass;
    record->Name = windowClass.lpszClassName;
    record->Class.lpszClassName = record->Name.c_str();
    record->Class.lpszMenuName = nullptr;
    if (record->Class.hInstance == 0)
        record->Class.hInstance = GetModuleHandle(nullptr);
    record->Atom = m_nextAtom++;
    ATOM atom = record->Atom;
    m_classes.emplace(std::move(key), std::move(record));
    return atom;
}

bool WindowRegistry::UnregisterClass(const char* className, HINSTANCE instance) {
    if (!className)
        return false;
    std::lock_guard lock(m_mutex);
    return m_classes.erase(ClassKey(instance, className)) > 0;
}

bool WindowRegistry::FindClass(HINSTANCE instance, const char* className,
                               WNDCLASS* windowClass) const {
    if (!className)
        return false;
    std::lock_guard lock(m_mutex);
    auto found = m_classes.find(ClassKey(instance, className));
    if (found == m_classes.end())
        return false;
    if (windowClass)
        *windowClass = found->second->Class;
    return true;
}

HWND WindowRegistry::AddWindow(HINSTANCE instance, const char* className, MessageQueue* queue) {
    if (!className)
        return 0;
    std::lock_guard lock(m_mutex);
    auto found = m_classes.find(ClassKey(instance, className));
    if (found == m_classes.end())
        return 0;
    const WNDCLASS& windowClass = found->second->Class;
    WindowRecord record;
    record.Thread = std::this_thread::get_id();
    record.Queue = queue;
    // One pointer-sized slot per 4 extra bytes, so slot 0 can hold an object.
    record.Slots =
        std::vector<std::atomic<LONG_PTR>>(static_cast<size_t>(windowClass.cbWndExtra + 3) / 4);
    HWND handle = m_nextWindow++;
    auto& windowSlots = m_windows.emplace(handle, std::move(record)).first->second.Slots;
    queue->AdoptWindow(handle, windowClass.lpfnWndProc, windowSlots.data(), windowSlots.size());
    return handle;
}

MessageQueue* WindowRegistry::RemoveWindow(HWND window) {
    std::lock_guard lock(m_mutex);
    auto found = m_windows.find(window);
    if (found == m_windows.end() || found->second.Thread != std::this_thread::get_id())
        return nullptr;
    MessageQueue* queue = found->second.Queue;
    m_windows.erase(found);
    return queue;
}

bool WindowRegistry::Exists(HWND window) const {
    std::lock_guard lock(m_mutex);
    return m_windows.count(window) > 0;
}

std::atomic<LONG_PTR>* WindowRegistry::SlotLocked(HWND window, int index) {
    auto found = m_windows.find(window);
    if (found == m_windows.end())
        return nullptr;
    return WindowSlotAt(found->second.Slots.data(), found->second.Slots.size(), index);
}

bool WindowRegistry::SetSlot(HWND window, int index, LONG_PTR value, LONG_PTR* previous) {
    std::lock_guard lock(m_mutex);
    std::atomic<LONG_PTR>* slot = SlotLocked(window, index);
    if (slot)
        *previous = slot->exchange(value);
    return slot != nullptr;
}

bool WindowRegistry::GetSlot(HWND window, int index, LONG_PTR* value) {
    std::lock_guard lock(m_mutex);
    const std::atomic<LONG_PTR>* slot = SlotLocked(window, index);
    if (slot)
        *value = slot->load();
    return slot != nullptr;
}

bool WindowRegistry::Post(HWND window, QEvent* event) {
    // Posting under the lock keeps the queue object alive: its thread removes
    // the window (under the same lock) before the queue can be deleted, and Qt
    // drops events still queued for a deleted receiver.
    std::lock_guard lock(m_mutex);
    auto found = m_windows.find(window);
    if (found == m_windows.end()) {
        delete event;
        return false;
    }
    found->second.Queue->CountPosted();
    QCoreApplication::postEvent(found->second.Queue, event);
    return true;
}

bool PostWindowTask(HWND window, std::function<void()> task) {
    return WindowRegistry::Instance().Post(window, new WindowMessageEvent(window, std::move(task)));
}
