#pragma once

#include <QCoreApplication>
#include <QString>

#include <cstdint>

class QLabel;
class QProgressBar;

// The figures of the download run that the main window shows: a bar over
// the run's numbers (done of the total) and a status line with the pictures
// saved, those already there, the numbers without a picture, and what the
// run is doing right now (a picture's bytes, or a wait before another try).
// Every change is shown at once; the figures stay after the run.
class TRunProgress {
    Q_DECLARE_TR_FUNCTIONS(TRunProgress)

public:
    // The widgets are the window's; they must outlive this object.
    TRunProgress(QProgressBar* bar, QLabel* status);

    // A run over `total` numbers begins: every figure starts at 0.
    void Start(int64_t total);
    // The current number's picture was loaded; fetchedNow tells a picture
    // saved by this run from one that was there. Only a number's first
    // picture counts, as later marker lines of its page name the same file.
    void PictureTaken(bool fetchedNow);
    // The current number is done; without a picture taken, it counts as a
    // number without a picture.
    void NumberDone();

    // A picture download has `received` bytes of `announced` (-1: the
    // server did not say); shown until PictureEnded.
    void PictureBytes(int64_t received, int64_t announced);
    void PictureEnded();
    // The run waits `milliseconds` before trying again; shown until
    // WaitEnded.
    void Waiting(int32_t milliseconds);
    void WaitEnded();
    // Numbers fetched ahead of the current one or with it, shown after the
    // bar's figures ("3 из 61, 6 в пути") while there are any.
    void InFlight(int count);

    int64_t Total() const { return m_total; }
    int64_t Done() const { return m_done; }
    int64_t Saved() const { return m_saved; }
    int64_t Present() const { return m_present; }
    int64_t WithoutPicture() const { return m_withoutPicture; }

    // The status line for these figures, with `activity` after them unless
    // it is empty. Its items are joined by " · " and keep their own blanks
    // unbroken, so that a line too long for its place wraps between items.
    // Public so that the window's layout can be checked against the longest
    // line it will show.
    static QString StatusText(int64_t saved, int64_t present, int64_t withoutPicture,
                              const QString& activity);
    // "812 КБ из 1,4 МБ", or the received size alone when none was announced.
    static QString BytesText(int64_t received, int64_t announced);

private:
    static QString SizeText(int64_t bytes);
    void ShowBar();
    void ShowStatus();

    QProgressBar* m_bar;
    QLabel* m_status;
    int64_t m_total { 0 };
    int64_t m_done { 0 };
    int64_t m_saved { 0 };
    int64_t m_present { 0 };
    int64_t m_withoutPicture { 0 };
    bool m_numberHasPicture { false };
    int m_inFlight { 0 };
    QString m_activity;
};
