#pragma once

#include <exception>
#include <functional>
#include <string>

// The application object: title, event loop, "process everything pending",
// and the central exception handler that shows an error in the error box.
// One instance, made by the program's start-up (or by a test) after the Qt
// application exists.
class TApplication {
public:
    // Shows one error message; the default is a modal box with the error
    // icon, an OK button and the title as caption. Tests install a recorder.
    using ErrorPresenter = std::function<void(const std::string& title, const std::string& text)>;

    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    const std::string& Title() const { return m_title; }
    void SetTitle(std::string title) { m_title = std::move(title); }

    // Dispatches every event that is pending now, then returns.
    void ProcessMessages();

    // Reports the exception in flight (call from a catch block) in the error
    // box: its message, with "." appended unless it already ends with "." or
    // a character below ".". Never throws.
    void HandleException(std::exception_ptr error);
    void ShowErrorText(const std::string& message);

    void SetErrorPresenter(ErrorPresenter presenter);

private:
    std::string m_title;
    ErrorPresenter m_presenter;
};

// The program's application object; null before start-up.
extern TApplication* Application;

// The message text as the error box shows it.
std::string ErrorBoxText(const std::string& message);
