#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TForm;

// The application object: title, the forms it owns, the event loop, "process
// everything pending", and the central exception handler that shows an error
// in the error box. One instance, made by the program's start-up (or by a
// test) after the Qt application exists, and destroyed before it.
class TApplication {
public:
    // Shows one error message; the default is a modal box with the error
    // icon, an OK button and the title as caption. Tests install a recorder.
    using ErrorPresenter = std::function<void(const std::string& title, const std::string& text)>;

    TApplication();
    // Destroys the owned forms, the most recently created first.
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Takes the title from the program file's name. Closing windows does not
    // end the program by itself: only the main form's close does (Terminate).
    void Initialize();

    const std::string& Title() const { return m_title; }
    void SetTitle(std::string title) { m_title = std::move(title); }

    // Creates a form owned by the application, hidden. The first form created
    // becomes the main form.
    template <class T> T* CreateForm() {
        auto form = std::make_unique<T>();
        T* raw = form.get();
        Adopt(std::move(form));
        return raw;
    }
    TForm* MainForm() const { return m_mainForm; }

    // Shows the main form and dispatches events until Terminate().
    void Run();
    // Asks the event loop to end once control returns to it; a handler that
    // is running (even one processing events itself) goes on to its end.
    void Terminate();
    bool Terminated() const { return m_terminated; }

    // Dispatches every event that is pending now, then returns.
    void ProcessMessages();

    // Reports an exception in the error box: its message, with "." appended
    // unless it already ends with "." or a character below ".", and elided
    // when it is long (ElidedErrorText). Never throws.
    void HandleException(std::exception_ptr error) noexcept;
    void ShowErrorText(const std::string& message) noexcept;

    void SetErrorPresenter(ErrorPresenter presenter);

private:
    void Adopt(std::unique_ptr<TForm> form);

    std::string m_title;
    ErrorPresenter m_presenter;
    std::vector<std::unique_ptr<TForm>> m_forms;
    TForm* m_mainForm { nullptr };
    bool m_terminated { false };
};

// The program's application object; null before start-up.
extern TApplication* Application;

// The message text as the error box shows it.
std::string ErrorBoxText(const std::string& message);

// A message longer than ErrorBoxLimit bytes as the error box shows it: its
// first ElidedHead and last ElidedTail bytes (moved to whole UTF-8
// characters) around " … ". A box with a text of a million characters takes
// seconds to lay out and no one reads it; ShowErrorText writes the whole
// text to standard error instead. Shorter messages come back unchanged.
inline constexpr size_t ErrorBoxLimit = 400;
inline constexpr size_t ElidedHead = 200;
inline constexpr size_t ElidedTail = 100;
std::string ElidedErrorText(const std::string& message);

// The application title for a program file: its name without directory and
// without everything from the first "." on, every character after the first
// in lower case ("/opt/Wall.Paper.bin" gives "Wall").
std::string ApplicationTitle(const std::string& programFile);

// Runs an event handler. An exception that escapes it abandons the handler
// and goes to the application's error box; the program then goes on.
// Returns false when the handler was abandoned.
bool RunHandler(const std::function<void()>& handler) noexcept;
