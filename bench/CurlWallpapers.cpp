#include "bench/CurlWallpapers.h"

#include <curl/curl.h>

#include <cstdio>
#include <future>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

struct TEasyCleanup {
    // A handle still in a multi handle leaves it first.
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct TMultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct TFileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string PageAddress(const std::string& site, int number) {
    return site + "/wallpapers/get/id/" + std::to_string(number) + "/resolution/1024x768";
}

// The address on the page's picture line, or empty when there is none.
std::string PictureAddress(const std::string& page) {
    const std::string marker = "<img class=\"wallpaper\" src=\"";
    const size_t tag = page.find(marker);
    if (tag == std::string::npos)
        return {};
    const size_t start = tag + marker.size();
    const size_t end = page.find('"', start);
    return end == std::string::npos ? std::string() : page.substr(start, end - start);
}

size_t AppendToString(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t WriteToFile(char* data, size_t size, size_t count, void* target) {
    return std::fwrite(data, size, count, static_cast<std::FILE*>(target)) * size;
}

// One transfer at a time: a number's page, then its picture.
class TWorker {
public:
    TWorker() : m_easy(curl_easy_init()) {
        if (!m_easy)
            throw std::runtime_error("curl_easy_init failed");
        // No proxy, whatever the environment says: the site is on loopback.
        curl_easy_setopt(m_easy.get(), CURLOPT_PROXY, "");
        curl_easy_setopt(m_easy.get(), CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_easy.get(), CURLOPT_PRIVATE, this);
    }

    CURL* Easy() const { return m_easy.get(); }
    bool OnPage() const { return !m_file; }
    int Number() const { return m_number; }
    const std::string& Page() const { return m_page; }

    void StartPage(const std::string& site, int number) {
        m_number = number;
        m_page.clear();
        curl_easy_setopt(m_easy.get(), CURLOPT_URL, PageAddress(site, number).c_str());
        curl_easy_setopt(m_easy.get(), CURLOPT_WRITEFUNCTION, AppendToString);
        curl_easy_setopt(m_easy.get(), CURLOPT_WRITEDATA, &m_page);
    }

    void StartPicture(const std::string& url, const std::string& fileName) {
        m_file.reset(std::fopen(fileName.c_str(), "wb"));
        if (!m_file)
            throw std::runtime_error("cannot write " + fileName);
        curl_easy_setopt(m_easy.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(m_easy.get(), CURLOPT_WRITEFUNCTION, WriteToFile);
        curl_easy_setopt(m_easy.get(), CURLOPT_WRITEDATA, m_file.get());
    }

    // Closes the picture's file; false when its last writes failed.
    bool EndPicture() { return std::fclose(m_file.release()) == 0; }

    long Status() const {
        long status = 0;
        curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &status);
        return status;
    }

private:
    std::unique_ptr<CURL, TEasyCleanup> m_easy;
    int m_number { 0 };
    std::string m_page;
    std::unique_ptr<std::FILE, TFileClose> m_file;
};

} // namespace

int CurlWallpapers(const std::string& site, int first, int last, const std::string& directory,
                   int workers) {
    const std::unique_ptr<CURLM, TMultiCleanup> multi(curl_multi_init());
    if (!multi)
        throw std::runtime_error("curl_multi_init failed");
    // After the multi handle, so that the workers' handles go first.
    std::vector<std::unique_ptr<TWorker>> pool;
    int next = first;
    int active = 0;
    int saved = 0;
    auto add = [&multi](TWorker& worker) {
        if (curl_multi_add_handle(multi.get(), worker.Easy()) != CURLM_OK)
            throw std::runtime_error("curl_multi_add_handle failed");
    };
    // Gives the worker the next number's page; false when none is left.
    auto startNext = [&](TWorker& worker) {
        if (next > last)
            return false;
        worker.StartPage(site, next++);
        add(worker);
        return true;
    };
    for (int i = 0; i < workers; ++i) {
        pool.push_back(std::make_unique<TWorker>());
        if (startNext(*pool.back()))
            ++active;
    }

    while (active > 0) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            throw std::runtime_error("curl_multi_perform failed");
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            CURL* easy = message->easy_handle;
            const CURLcode result = message->data.result;
            TWorker* worker = nullptr;
            curl_easy_getinfo(easy, CURLINFO_PRIVATE, &worker);
            curl_multi_remove_handle(multi.get(), easy);
            const std::string number = std::to_string(worker->Number());
            if (result != CURLE_OK)
                throw std::runtime_error("curl: number " + number + ": " +
                                         curl_easy_strerror(result));
            if (worker->OnPage()) {
                const std::string picture =
                    worker->Status() == 200 ? PictureAddress(worker->Page()) : std::string();
                if (!picture.empty()) {
                    worker->StartPicture(picture, directory + "/" + number + ".jpg");
                    add(*worker);
                    continue;
                }
            } else {
                if (!worker->EndPicture())
                    throw std::runtime_error("cannot write the picture of " + number);
                if (worker->Status() != 200)
                    throw std::runtime_error("curl: picture of " + number + ": HTTP status " +
                                             std::to_string(worker->Status()));
                ++saved;
            }
            if (!startNext(*worker))
                --active;
        }
        if (active > 0 && curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK)
            throw std::runtime_error("curl_multi_poll failed");
    }
    return saved;
}

namespace {

// Runs curl (no proxy, errors shown) and returns what it wrote; throws when
// it fails. A process of its own, started with popen, so that it may run on
// any thread.
std::string RunCurl(const std::vector<std::string>& arguments) {
    std::string command = "curl --silent --show-error --noproxy '*'";
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    FILE* curl = ::popen(command.c_str(), "r");
    if (!curl)
        throw std::runtime_error("cannot start " + command);
    std::string output;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, curl)) > 0;)
        output.append(buffer, n);
    if (::pclose(curl) != 0)
        throw std::runtime_error(command + " failed");
    return output;
}

int CommandLoop(const std::string& site, int first, int last, const std::string& directory,
                int step) {
    int saved = 0;
    for (int number = first; number <= last; number += step) {
        // A page with an error status is read like any other: it names no
        // picture.
        const std::string picture = PictureAddress(RunCurl({ PageAddress(site, number) }));
        if (picture.empty())
            continue;
        RunCurl(
            { "--fail", "--output", directory + "/" + std::to_string(number) + ".jpg", picture });
        ++saved;
    }
    return saved;
}

} // namespace

int CurlCommandWallpapers(const std::string& site, int first, int last,
                          const std::string& directory, int workers) {
    std::vector<std::future<int>> loops;
    for (int worker = 0; worker < workers; ++worker)
        loops.push_back(std::async(std::launch::async, CommandLoop, site, first + worker, last,
                                   directory, workers));
    int saved = 0;
    for (auto& loop : loops)
        saved += loop.get();
    return saved;
}
