#include "platform/HostLookup.h"

#include "platform/HostEntryWriter.h"
#include "platform/WindowRegistry.h"
#include "platform/Winsock.h"

#include <exception>
#include <thread>

HostLookup& HostLookup::Instance() {
    // Never destroyed: a worker may finish during static teardown.
    static auto* lookup = new HostLookup;
    return *lookup;
}

HANDLE HostLookup::Start(HWND window, UINT message, std::string name, char* buffer, int length) {
    auto task = std::make_shared<Task>();
    task->Window = window;
    task->Message = message;
    task->Name = std::move(name);
    task->Buffer = buffer;
    task->Length = length;
    HANDLE handle = 0;
    {
        std::lock_guard lock(m_mutex);
        handle = m_next++;
        task->Handle = handle;
        m_pending.emplace(handle, task);
    }
    HostLookupStart start = StartHostLookup(task->Name);
    if (start.Kept) {
        Deliver(std::move(task), std::move(*start.Kept));
        return handle;
    }
    try {
        std::thread([task, start = std::move(start)]() mutable {
            HostLookupResult result;
            try {
                result = start.Resolver->Resolve(task->Name);
            } catch (const std::exception&) {
                result = HostLookupResult { Winsock::WSANO_RECOVERY, {}, {}, {} };
            }
            KeepHostAnswer(task->Name, result, start.Installation);
            Deliver(std::move(task), std::move(result));
        }).detach();
    } catch (const std::system_error&) {
        Finish(handle);
        return 0;
    }
    // Once the worker runs, this thread leaves the task alone: the thread
    // sanitizer does not see how the reference count orders a read here
    // against the task's end on another thread.
    return handle;
}

void HostLookup::Deliver(std::shared_ptr<Task> task, HostLookupResult result) {
    // The task's share goes on with the answer, so that the task ends on the
    // window's thread, which reads it last.
    const HANDLE taskHandle = task->Handle;
    const HWND window = task->Window;
    bool delivered = PostWindowTask(window, [task = std::move(task), result = std::move(result)] {
        HostLookup::Instance().Answer(*task, result);
    });
    if (!delivered)
        HostLookup::Instance().Finish(taskHandle);
}

bool HostLookup::Finish(HANDLE task) {
    std::lock_guard lock(m_mutex);
    return m_pending.erase(task) > 0;
}

bool HostLookup::Cancel(HANDLE task) {
    return Finish(task);
}

void HostLookup::CancelAll() {
    std::lock_guard lock(m_mutex);
    m_pending.clear();
}

void HostLookup::Answer(const Task& task, const HostLookupResult& result) {
    if (!Finish(task.Handle))
        return;
    int error = result.error;
    // A success must carry an address: callers take the first one as is.
    if (error == 0 && result.addresses.empty())
        error = Winsock::WSANO_DATA;
    int length = 0;
    if (error == 0) {
        length = WriteHostEntry(result, task.Name, task.Buffer, task.Length);
        if (length > task.Length)
            error = Winsock::WSAENOBUFS;
    }
    SendMessage(task.Window, task.Message, task.Handle,
                Winsock::WSAMAKEASYNCREPLY(static_cast<WORD>(length), static_cast<WORD>(error)));
}
