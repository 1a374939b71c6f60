#pragma once

#include "app/FetchAhead.h"
#include "app/ImageFetcher.h"
#include "app/LogFile.h"
#include "app/LogWriter.h"
#include "app/RetryPolicy.h"
#include "app/RunProgress.h"
#include "net/KvHttp.h"
#include "toolkit/widgets/TForm.h"

#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class TImage;
class TMemo;
class TPanel;
class TSpinEdit;

// The base address of the wallpaper site the program was built for.
extern const char* const DefaultSiteAddress;

// The log file's name, resolved against the current directory at each load
// and save (pictures go to the program's directory instead).
inline constexpr const char* LogFileName = "log.log";

// The main window: the range of wallpaper numbers, the download and stop
// buttons, the log pane kept in "log.log", the address line and the picture
// pane; beside the log pane, the run's progress bar and status line. The
// controls are public, as the download run and the tests work on them
// directly; Qt's parent links own them.
class TForm1 : public TForm {
    Q_OBJECT
public:
    TForm1();
    // Runs FormDestroy; an error there is shown and the program still ends.
    ~TForm1() override;

    TPanel* Panel1 { nullptr };
    QPushButton* Button2 { nullptr };
    QPushButton* Button3 { nullptr };
    TMemo* Memo1 { nullptr };
    QLineEdit* Edit1 { nullptr };
    QLabel* Label1 { nullptr };
    TSpinEdit* SpinEdit1 { nullptr };
    QLabel* Label2 { nullptr };
    TSpinEdit* SpinEdit2 { nullptr };
    QScrollArea* ScrollBox1 { nullptr };
    TImage* Image1 { nullptr };
    // In the free part of the panel, right of the log pane and below the
    // number boxes; the run's figures (see TRunProgress).
    QProgressBar* ProgressBar1 { nullptr };
    QLabel* Label3 { nullptr };

    // The HTTP component that the download run fetches pages with. Its
    // settings are fixed when the window is made; the run changes none.
    TKvHTTP KvHTTP1;
    // The picture fetcher of the download run, with its bounds.
    TImageFetcher ImageFetcher1;

    // Where the download run works: the site's base address (scheme and host,
    // no trailing slash), by default the one the program was built for; and
    // the directory for the picture files, with a trailing '/', where empty
    // means DefaultPictureDirectory for the program file's own directory.
    std::string SiteAddress { DefaultSiteAddress };
    std::string PictureDirectory;
    // The waits before another try of a transiently failed fetch.
    TRetryWaits RetryWaits { DefaultRetryWaits };
    // How many numbers a run has in flight at once. With 1 it fetches each
    // page and picture when it gets to its number; with more, the pages and
    // pictures of the next numbers are fetched ahead on worker threads
    // (TFetchAhead) while the run shows and logs the numbers strictly in
    // order, leaving exactly what it would leave with 1.
    int Parallel { 1 };

    const TRunProgress& Progress() const { return *m_progress; }

    // True while a download run is working; the download button is disabled
    // meanwhile.
    bool Running() const { return m_running; }

    // StopFlag := 0, then load "log.log" into the log pane.
    void FormShow() override;
    // The download run over the number range.
    void Button2Click();
    // Toggles StopFlag; the caption names the button's next action. Setting
    // the flag also ends a page or picture fetch in progress, or a wait
    // before another try, and the run with it.
    void Button3Click();
    // Opens a new viewer, which becomes the current one (Form2).
    void Image1DblClick();
    // Saves the log pane to "log.log" (a log that could not be loaded is
    // left as it is, see LogFile); on failure the window stays open, except
    // for a log that no save can write (not a regular file): its error is
    // shown once and the window closes.
    // Once saved, a download run in progress ends as at a press of the stop
    // button (StopFlag itself stays as it is), so that the program can end.
    void FormClose() override;
    // Saves the log pane to "log.log" once more at program end.
    void FormDestroy();

private:
    void SetUpKvHTTP1();
    // Fetches a page into KvHTTP1.Body, trying a transient failure again
    // (RetryPolicy.h); false when the stop button or a close ended the fetch
    // or a wait.
    bool FetchPage(const std::string& address);
    // Runs a fetch until it is done, ended by the user, fails for good, or
    // its tries are used up (FetchTries.h); false when it was ended.
    bool FetchWithRetries(const std::function<TFetchTry()>& fetch);
    // One try of FetchPage with KvHTTP1.
    TFetchTry TryOwnPage(const std::string& address);
    // The page FetchPage fetched: KvHTTP1's, or the one fetched ahead.
    const std::string& PageBody() const;
    // Starts fetching ahead for a run over `count` numbers from `from`.
    void BeginFetchAhead(int32_t from, uint64_t count);
    // Waits while the window's events go on; false when the stop button or a
    // close ended the wait.
    bool WaitBeforeRetry(int32_t milliseconds);
    // Saves (unless present), shows and logs the picture a marker line names;
    // false when the stop button or a close ended its fetch.
    bool TakePicture(const std::string& line);
    // Downloads the picture, trying a transient failure again; false when
    // the stop button or a close ended it.
    bool FetchPicture(const std::string& url, const std::string& fileName);
    std::string PictureFileName(int32_t number) const;
    // Ends the page fetch in progress, if any.
    void AbortPageFetch();

    // "log.log": every logged number is on disk before the run goes on.
    LogFile m_log { LogFileName };
    bool m_running { false };
    bool m_fetchingPage { false };
    // The fetch in progress was ended by AbortPageFetch.
    bool m_pageFetchAborted { false };
    // The window was closed: the program ends, so no run goes on.
    bool m_closed { false };
    // Made once the widgets exist.
    std::optional<TRunProgress> m_progress;
    // While a run with Parallel above 1 works: the numbers fetched ahead,
    // and what was fetched of the current one.
    std::unique_ptr<TFetchAhead> m_ahead;
    std::shared_ptr<TAheadResult> m_aheadResult;
    // Meanwhile too: the log's appends, made durable off the run's path,
    // and what shows the bytes of the pictures on their way.
    std::unique_ptr<TLogWriter> m_logWriter;
    std::unique_ptr<QTimer> m_transfersShown;
};

// Program-wide state, on the user-interface thread only.
extern TForm1* Form1;
// 1 when the stop button has been pressed an odd number of times since the
// main window was shown; the download run ends at its next test of it.
extern uint8_t StopFlag;
// The wallpaper number that the download run is working on.
extern int32_t CurrentNumber;
